#include "settings/device_store.h"

#include <algorithm>
#include <cwctype>

#include "base/handles.h"
#include "hostkit/device_registration.h"
#include "hostkit/other_tool.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

const std::wstring kOwnText = BitsText(kOwnBits), kOtherText = BitsText(kOtherBits);
// A register tool that runs longer than this is taken as failed.
constexpr DWORD kToolTimeoutMs = 60000;

// Runs the other bitness's register tool; its error line comes back in *error.
HRESULT RunOtherTool(const std::wstring& tool, const std::vector<std::wstring>& arguments, std::wstring* error) {
  std::string output;
  DWORD status = 1;
  HRESULT hr = RunTool(tool, arguments, kToolTimeoutMs, &output, &status, error);
  if (FAILED(hr)) return hr;
  if (status == 0) return S_OK;
  // Its last line ("dorvantel-register: error: ...").
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  const size_t line = output.find_last_of('\n');
  const std::string last = line == std::string::npos ? output : output.substr(line + 1);
  std::wstring text(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, last.c_str(), -1, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, last.c_str(), -1, &text[0], static_cast<int>(text.size()));
  text.resize(wcslen(text.c_str()));
  *error = kOtherText + L" register tool: " + (text.empty() ? L"exit status " + std::to_wstring(status) : text);
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
  *done = kOwnText + L" hosts";
  const std::wstring other = OtherRegisterTool();
  if (other.empty()) return S_OK;
  std::vector<std::wstring> command = {L"register", L"--name", name};
  const std::vector<std::wstring> options = PresetArguments(preset);
  command.insert(command.end(), options.begin(), options.end());
  hr = RunOtherTool(other, command, error);
  if (FAILED(hr)) {
    *error = L"only " + kOwnText + L" hosts find it now: " + *error;
    return hr;
  }
  *done += L" and " + kOtherText + L" hosts";
  return S_OK;
}

HRESULT DeleteDevice(const std::wstring& name, std::wstring* error) {
  HRESULT hr = UnregisterDevice(name, error);
  if (FAILED(hr)) return hr;
  const std::wstring other = OtherRegisterTool();
  if (other.empty()) return hr;
  hr = RunOtherTool(other, {L"unregister", L"--name", name}, error);
  if (FAILED(hr)) *error = L"still found by " + kOtherText + L" hosts: " + *error;
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

}  // namespace dorvantel
