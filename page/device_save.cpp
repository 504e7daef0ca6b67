#include "page/device_save.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "base/command_line.h"

namespace dorvantel {

namespace {

constexpr wchar_t kToolName[] = L"dorvantel-register.exe";

std::wstring CodeText(DWORD code) {
  wchar_t text[16];
  wsprintfW(text, L"0x%08X", code);
  return text;
}

// A file that the tool writes and the saver reads; removed with its owner.
class ResultFile {
 public:
  ResultFile() {
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length > 0 && length < MAX_PATH && ::GetTempFileNameW(folder, L"dvt", 0, file)) path_ = file;
  }
  ~ResultFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  const std::wstring& path() const noexcept { return path_; }

  // Its first line; empty when there is none.
  std::wstring Line() const {
    FileHandle file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    char buffer[2048];
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) return {};
    std::string text(buffer, got);
    text.resize(std::min(text.size(), text.find_first_of("\r\n")));
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring line(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &line[0], length);
    return line;
  }

 private:
  std::wstring path_;
};

// The tool's process, started as this process is or elevated; *line says why not when null.
UniqueHandle StartTool(const std::wstring& tool, const std::wstring& arguments, SaveRights rights,
                       std::wstring* line) {
  if (rights == SaveRights::Elevated) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = tool.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_HIDE;
    if (::ShellExecuteExW(&info) && info.hProcess) return UniqueHandle(info.hProcess);
    const DWORD code = ::GetLastError();
    *line = code == ERROR_CANCELLED
                ? L"Saving a device needs administrator rights, which were not given: nothing was saved."
                : L"Saving a device needs administrator rights: the register tool could not start with them (" +
                      CodeText(code) + L").";
    return {};
  }
  std::wstring command = QuoteArgument(tool) + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(tool.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
    *line = L"The register tool " + tool + L" could not start (" + CodeText(::GetLastError()) + L").";
    return {};
  }
  ::CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

}  // namespace

SaveRights RightsToSave() noexcept {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return SaveRights::AsThisProcess;
  UniqueHandle owned(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
    return SaveRights::AsThisProcess;  // a system without UAC
  }
  return elevation.TokenIsElevated ? SaveRights::AsThisProcess : SaveRights::Elevated;
}

std::wstring RegisterToolBeside(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + kToolName;
}

SaveOutcome RunRegisterTool(const std::wstring& tool, const std::wstring& name, const Preset& preset,
                            SaveRights rights, DWORD timeoutMs) {
  SaveOutcome outcome;
  const DWORD attributes = ::GetFileAttributesW(tool.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    outcome.line = L"Saving a device needs the register tool beside the library, and " + tool + L" is not there.";
    return outcome;
  }
  ResultFile result;
  if (result.path().empty()) {
    outcome.line = L"No file for the register tool's answer could be made in the temporary folder.";
    return outcome;
  }
  std::vector<std::wstring> arguments = {L"register", L"--name", name};
  const std::vector<std::wstring> options = PresetArguments(preset);
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.insert(arguments.end(), {L"--result", result.path()});
  UniqueHandle process = StartTool(tool, JoinArguments(arguments), rights, &outcome.line);
  if (!process) return outcome;
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    outcome.line = L"The register tool did not finish in " + std::to_wstring(timeoutMs / 1000) +
                   L" seconds: the device was not saved.";
    return outcome;
  }
  DWORD status = 1;
  ::GetExitCodeProcess(process.get(), &status);
  const std::wstring said = result.Line();
  if (status == 0) {
    outcome.saved = true;
    outcome.line = L"Saved: hosts list the device \"" + name + L"\" with these settings.";
  } else {
    outcome.line = said.empty() ? L"The register tool failed (exit status " + std::to_wstring(status) +
                                      L"): the device was not saved."
                                : L"Not saved: " + said;
  }
  return outcome;
}

DeviceSaver::~DeviceSaver() { Join(); }

bool DeviceSaver::Start(std::wstring tool, std::wstring name, Preset preset, SaveRights rights, UINT message) {
  if (worker_) return false;
  tool_ = std::move(tool);
  name_ = std::move(name);
  preset_ = std::move(preset);
  rights_ = rights;
  message_ = message;
  {
    SectionLockHolder hold(&lock_);
    ended_ = false;
  }
  worker_.reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
  return worker_.valid();
}

void DeviceSaver::Notify(HWND window) {
  SectionLockHolder hold(&lock_);
  window_ = window;
  if (ended_ && window_) ::PostMessageW(window_, message_, 0, 0);
}

bool DeviceSaver::Take(SaveOutcome* outcome) {
  {
    SectionLockHolder hold(&lock_);
    if (!worker_ || !ended_) return false;
    *outcome = std::move(outcome_);
    ended_ = false;
  }
  Join();  // the worker has only its return left
  return true;
}

void DeviceSaver::Join() noexcept {
  if (!worker_) return;
  ::WaitForSingleObject(worker_.get(), INFINITE);
  worker_.reset();
}

DWORD WINAPI DeviceSaver::Run(void* param) {
  auto* self = static_cast<DeviceSaver*>(param);
  // The shell's elevated start wants a single-threaded apartment on its thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  constexpr DWORD kToolTimeoutMs = 120000;
  SaveOutcome outcome = RunRegisterTool(self->tool_, self->name_, self->preset_, self->rights_, kToolTimeoutMs);
  if (SUCCEEDED(com)) ::CoUninitialize();
  SectionLockHolder hold(&self->lock_);
  self->outcome_ = std::move(outcome);
  self->ended_ = true;
  if (self->window_) ::PostMessageW(self->window_, self->message_, 0, 0);
  return 0;
}

}  // namespace dorvantel
