#include "hostkit/other_tool.h"

#include "base/handles.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"

namespace dorvantel {

namespace {

#ifdef _WIN64
constexpr const wchar_t* kOtherFolders[] = {L"32-bit", L"win32"};
#else
constexpr const wchar_t* kOtherFolders[] = {L"64-bit", L"win64"};
#endif

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring BitsText(int bits) { return std::to_wstring(bits) + L"-bit"; }

std::wstring OtherRegisterTool() {
  // The tests' stand-in for the other bitness's tool (one that takes its time, or fails).
  wchar_t standIn[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"DORVANTEL_OTHER_REGISTER_TOOL", standIn, MAX_PATH);
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

HRESULT RunTool(const std::wstring& tool, const std::vector<std::wstring>& arguments, DWORD timeoutMs,
                std::string* output, DWORD* status, std::wstring* error) {
  output->clear();
  *status = 1;
  std::wstring command = QuoteArgument(tool) + L" " + JoinArguments(arguments);

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

  char buffer[512];
  DWORD got = 0;
  const DWORD started = ::GetTickCount();
  while (::GetTickCount() - started < timeoutMs) {
    DWORD available = 0;
    if (!::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr)) break;  // exited
    if (available > 0) {
      if (!::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
      output->append(buffer, got);
      continue;
    }
    if (::WaitForSingleObject(processHandle.get(), 50) == WAIT_OBJECT_0) {
      while (::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
             ::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        output->append(buffer, got);
      }
      break;
    }
  }
  if (::WaitForSingleObject(processHandle.get(), 5000) != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.get(), 1);
    *error = tool + L" did not finish";
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  ::GetExitCodeProcess(processHandle.get(), status);
  return S_OK;
}

}  // namespace dorvantel
