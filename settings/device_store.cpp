#include "settings/device_store.h"

#include <algorithm>
#include <cwctype>

#include "base/handles.h"
#include "hostkit/device_registration.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

#ifdef _WIN64
constexpr wchar_t kOwnBits[] = L"64-bit";
constexpr const wchar_t* kOtherFolders[] = {L"32-bit", L"win32"};
constexpr wchar_t kOtherBits[] = L"32-bit";
#else
constexpr wchar_t kOwnBits[] = L"32-bit";
constexpr const wchar_t* kOtherFolders[] = {L"64-bit", L"win64"};
constexpr wchar_t kOtherBits[] = L"64-bit";
#endif
// Names a program run in place of the other bitness's register tool (tests/settings).
constexpr wchar_t kStandInVariable[] = L"DORVANTEL_OTHER_REGISTER_TOOL";
// A register tool that runs longer than this is taken as failed.
constexpr DWORD kToolTimeoutMs = 60000;

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Runs the other bitness's register tool; its error line comes back in *error.
HRESULT RunOtherTool(const std::wstring& tool, const std::vector<std::wstring>& arguments, std::wstring* error) {
  std::wstring command = QuoteArgument(tool);
  for (const std::wstring& argument : arguments) command += L" " + QuoteArgument(argument);

  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return HRESULT_FROM_WIN32(::GetLastError());
  FileHandle reader(readEnd), writer(writeEnd);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(tool.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
    const DWORD code = ::GetLastError();
    *error = L"cannot run " + tool + L": " + SystemMessage(code);
    return HRESULT_FROM_WIN32(code);
  }
  UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.reset();  // the tool holds the only write end: reading ends when it exits

  std::string output;
  char buffer[512];
  DWORD got = 0;
  const DWORD started = ::GetTickCount();
  while (::GetTickCount() - started < kToolTimeoutMs) {
    DWORD available = 0;
    if (!::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr)) break;  // exited
    if (available > 0) {
      if (!::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
      output.append(buffer, got);
      continue;
    }
    if (::WaitForSingleObject(processHandle.get(), 50) == WAIT_OBJECT_0) {
      while (::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
             ::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        output.append(buffer, got);
      }
      break;
    }
  }
  if (::WaitForSingleObject(processHandle.get(), 5000) != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.get(), 1);
    *error = tool + L" did not finish";
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  DWORD status = 1;
  ::GetExitCodeProcess(processHandle.get(), &status);
  if (status == 0) return S_OK;
  // Its last line ("dorvantel-register: error: ...").
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  const size_t line = output.find_last_of('\n');
  const std::string last = line == std::string::npos ? output : output.substr(line + 1);
  std::wstring text(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, last.c_str(), -1, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, last.c_str(), -1, &text[0], static_cast<int>(text.size()));
  text.resize(wcslen(text.c_str()));
  *error = std::wstring(kOtherBits) + L" register tool: " +
           (text.empty() ? L"exit status " + std::to_wstring(status) : text);
  return E_FAIL;
}

}  // namespace

HRESULT ListStoredDevices(std::vector<StoredDevice>* devices) {
  devices->clear();
  std::vector<VideoInputDevice> found;
  HRESULT hr = ListVideoInputDevices(&found);
  if (FAILED(hr)) return hr;
  for (const VideoInputDevice& device : found) {
    if (!device.desktopSource) continue;
    StoredDevice stored{device.name, {}, {}};
    const PresetProblem problem = ReadStoredValues(device.stored, &stored.preset);
    stored.summary =
        problem.ok() ? PresetSummary(stored.preset) : L"stored settings the tools refuse: " + problem.message;
    devices->push_back(stored);
  }
  return S_OK;
}

std::wstring OtherRegisterTool() {
  // The tests' stand-in for the other bitness's tool (one that takes its time, or fails).
  wchar_t standIn[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(kStandInVariable, standIn, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return standIn;
  std::wstring parent = ProgramFolder();
  if (!parent.empty()) parent.pop_back();
  const size_t slash = parent.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  parent.resize(slash + 1);
  for (const wchar_t* folder : kOtherFolders) {
    const std::wstring tool = parent + folder + L"\\dorvantel-register.exe";
    if (FileExists(tool)) return tool;
  }
  return {};
}

HRESULT SaveDevice(const std::wstring& name, const Preset& preset, std::wstring* done, std::wstring* error) {
  *error = CheckDeviceName(name);
  if (!error->empty()) return E_INVALIDARG;
  const PresetProblem problem = CheckPreset(preset);
  if (!problem.ok()) {
    *error = problem.message;
    return E_INVALIDARG;
  }
  const std::wstring library = ProgramFolder() + DORVANTEL_DLL_NAME;
  SourceLibrary check;
  HRESULT hr = check.Load(library, error);
  if (FAILED(hr)) return hr;
  hr = RegisterDevice(library, name, StoredValues(preset), error);
  if (hr == E_ACCESSDENIED) {
    // Devices are machine-wide: the machine's classes take administrator rights.
    *error += L" (presets are for every user of the computer: start Dorvantel settings with \"Run as administrator\")";
  }
  if (FAILED(hr)) return hr;
  *done = std::wstring(kOwnBits) + L" hosts";
  const std::wstring other = OtherRegisterTool();
  if (other.empty()) return S_OK;
  std::vector<std::wstring> command = {L"register", L"--name", name};
  const std::vector<std::wstring> options = PresetArguments(preset);
  command.insert(command.end(), options.begin(), options.end());
  hr = RunOtherTool(other, command, error);
  if (FAILED(hr)) {
    *error = std::wstring(L"only ") + kOwnBits + L" hosts find it now: " + *error;
    return hr;
  }
  *done += std::wstring(L" and ") + kOtherBits + L" hosts";
  return S_OK;
}

HRESULT DeleteDevice(const std::wstring& name, std::wstring* error) {
  HRESULT hr = UnregisterDevice(name, error);
  if (FAILED(hr)) return hr;
  const std::wstring other = OtherRegisterTool();
  if (other.empty()) return hr;
  hr = RunOtherTool(other, {L"unregister", L"--name", name}, error);
  if (FAILED(hr)) *error = std::wstring(L"still found by ") + kOtherBits + L" hosts: " + *error;
  return hr;
}

std::wstring CheckNewName(const std::wstring& name, const std::wstring& original,
                          const std::vector<std::wstring>& taken) {
  std::wstring error = CheckDeviceName(name);
  if (error.empty() && name != original && std::find(taken.begin(), taken.end(), name) != taken.end()) {
    error = L"a device of this name exists already";
  }
  if (!error.empty()) error[0] = static_cast<wchar_t>(std::towupper(error[0]));
  return error;
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped; elsewhere they stand.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace dorvantel
