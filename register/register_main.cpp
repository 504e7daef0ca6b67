// dorvantel-register: registers the desktop source library beside this program as video
// capture devices (the plain "Dorvantel" and presets of capture options), removes them, or
// lists the video capture devices.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/handles.h"
#include "hostkit/apartment.h"
#include "hostkit/console.h"
#include "hostkit/device_check.h"
#include "hostkit/device_registration.h"
#include "hostkit/monitor_list.h"
#include "hostkit/options.h"
#include "hostkit/other_tool.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "hostkit/windows_camera.h"
#include "base/camera_link.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

constexpr wchar_t kProgram[] = L"dorvantel-register";

// The usage text; status 0 when it was asked for, 2 after a mistake.
int Usage(int status = 2) {
  WriteError(
      L"usage: dorvantel-register register [--name NAME] [capture options]\n"
      L"       dorvantel-register unregister [--name NAME | --all]\n"
      L"       dorvantel-register list\n"
      L"       dorvantel-register monitors\n"
      L"       dorvantel-register check [--this-bitness] [--report FILE]\n"
      L"       dorvantel-register camera on|off|status [--name NAME]\n"
      L"       dorvantel-register camera off --all\n"
      L"  --result FILE  (with any command) also write the one-line result to FILE, as UTF-8:\n"
      L"               what was done, or the error, for a caller that cannot read the output\n"
      L"  register     make the library beside this program the video capture device NAME\n"
      L"               (default \"Dorvantel\") that captures as the options say; the capture\n"
      L"               options are dorvantel-record's: --rect, --window, --monitor, --desktop,\n"
      L"               --rate, --rate-mode, --size, --interpolation, --format, --cursor,\n"
      L"               --no-cursor, --layered, --pacing, --no-pacing\n"
      L"  unregister   remove the device NAME (default \"Dorvantel\"), or every one with --all\n"
      L"  list         print the video capture devices that hosts find, with their settings\n"
      L"  monitors     print the monitors by the numbers --monitor takes\n"

      L"  check        try every Dorvantel device as 64-bit and 32-bit programs would, and say\n"
      L"               what is wrong in words; exit status 0 when all works, 1 when not\n"
      L"               (--this-bitness: only for programs of this tool's bitness; --report FILE:\n"
      L"               the same words into FILE too, as UTF-8)\n"
      L"  camera       the Windows 11 camera of the device NAME (default \"Dorvantel\"), which\n"
      L"               programs of Media Foundation alone (the Camera app) list: on makes it and\n"
      L"               starts its feed, now and at every logon; off removes both (--all: every\n"
      L"               device's); status says whether it is on. For this user; exit status 3\n"
      L"               where Windows has no such cameras (before Windows 11), nothing changed\n");
  return status;
}

bool AsksForHelp(const std::wstring& argument) {
  return argument == L"--help" || argument == L"-h" || argument == L"help" || argument == L"/?";
}

// Where --result asked for the one-line result; empty when it was not given.
std::wstring resultFile;

void WriteResult(const std::wstring& line) {
  if (!resultFile.empty()) WriteTextFile(resultFile, line + L"\n");
}

// Takes --result FILE out of args; false when FILE is missing.
bool TakeResultFile(std::vector<std::wstring>* args) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] != L"--result") continue;
    if (i + 1 >= args->size() || (*args)[i + 1].empty()) return false;
    resultFile = (*args)[i + 1];
    args->erase(args->begin() + static_cast<std::ptrdiff_t>(i), args->begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

int Fail(const std::wstring& message) {
  ReportError(kProgram, message);
  WriteResult(message);
  return 1;
}

int BadUsage(const std::wstring& message) {
  ReportError(kProgram, message);
  WriteResult(message);
  return 2;
}

// The devices hosts find, each with its settings (ours) or whose it is (another program's),
// then the keys of ours that hosts do not find.
std::wstring ListText(const std::vector<VideoInputDevice>& devices, const std::vector<DeviceKey>& keys) {
  std::wstring text;
  for (const VideoInputDevice& device : devices) {
    text += device.name + L"\n";
    for (const PresetValue& value : device.stored) text += L"  " + StoredText(value) + L"\n";
    if (!device.desktopSource) text += L"  (another program's device)\n";
  }
  for (const DeviceKey& key : keys) {
    if (!key.ours || FindListed(devices, key)) continue;
    text += key.key + L"\n  (a Dorvantel device that programs do not list: " + UnlistedReason(key) +
            L"; dorvantel-register unregister --all removes it)\n";
  }
  return text;
}

// check [--this-bitness] [--report FILE]; check --view, for the other bitness's tool: this
// view as text.
int Check(bool thisBitness, bool viewOnly, const std::wstring& reportFile) {
  std::wstring error;
  if (viewOnly) {
    ViewCheck view;
    if (FAILED(CheckThisView(kCheckGrabMs, &view, &error))) return Fail(error);
    WriteOutput(ViewText(view));
    return 0;
  }
  CheckRun run;
  if (FAILED(RunCheck(thisBitness, kCheckGrabMs, kCheckOtherMs, &run, &error))) return Fail(error);
  const std::wstring unchecked = run.unchecked.empty() ? std::wstring() : run.unchecked + L"\n";
  bool allGood = false;
  std::wstring report = CheckReport(run.views, run.expected, &allGood, true);
  WriteOutput(unchecked + report);
  if (!reportFile.empty()) {
    const HRESULT hr = WriteTextFile(reportFile, unchecked + report);
    if (FAILED(hr)) return Fail(L"cannot write " + reportFile + L": " + ResultText(hr));
  }
  return allGood && unchecked.empty() ? 0 : 1;
}

// Where Windows has no cameras of Media Foundation: said, nothing changed.
constexpr int kNoCameras = 3;

// Whether name is a device of this library in this view (the plain one or a preset).
bool IsOurDevice(const std::wstring& name) {
  std::vector<DeviceKey> keys;
  if (FAILED(ReadDeviceKeys(&keys))) return false;
  const std::wstring key = DeviceKeyName(name);
  for (const DeviceKey& candidate : keys) {
    if (candidate.ours && _wcsicmp(candidate.key.c_str(), key.c_str()) == 0) return true;
  }
  return false;
}

// camera on|off|status [--name NAME], camera off --all.
int Camera(const std::vector<std::wstring>& args) {
  if (args.empty()) return BadUsage(L"camera needs on, off or status");
  const std::wstring action = args[0];
  if (action != L"on" && action != L"off" && action != L"status") {
    return BadUsage(L"camera " + action + L": give on, off or status");
  }
  std::wstring name;
  bool all = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == L"--all" && action == L"off") {
      all = true;
    } else if (args[i] == L"--name" && i + 1 < args.size() && !args[i + 1].empty()) {
      name = args[++i];
    } else {
      return BadUsage(args[i] == L"--name" ? L"--name needs a device name" : L"unexpected argument " + args[i]);
    }
  }
  if (all && !name.empty()) return BadUsage(L"--all and --name exclude each other");
  if (!all && name.empty()) name = DesktopSourceName;
  // A device removed since its camera was made can still have the camera removed.
  const std::vector<std::wstring> on = WindowsCamerasOn();
  const bool recorded = std::any_of(on.begin(), on.end(), [&name](const std::wstring& n) {
    return _wcsicmp(n.c_str(), name.c_str()) == 0;
  });
  if (!all && !IsOurDevice(name) && !(action == L"off" && recorded)) {
    return BadUsage(L"\"" + name + L"\" is not a Dorvantel device (dorvantel-register list shows them)");
  }
  if (!WindowsCamerasAvailable()) {
    WriteError(std::wstring(kNoWindowsCameras) + L"\n");
    WriteResult(kNoWindowsCameras);
    return kNoCameras;
  }
  if (action == L"status") {
    const std::wstring line = L"\"" + name + L"\": " + WindowsCameraLine(name);
    WriteOutput(line + L"\n");
    WriteResult(line);
    return 0;
  }
  std::wstring error;
  if (action == L"on") {
    if (FAILED(TurnWindowsCameraOn(name, ProgramFolder() + camera_link::kFeedProgram, &error))) return Fail(error);
    const std::wstring done = L"the Windows camera \"" + name + L"\" is on, its feed started now and at every logon";
    WriteError(done + L"\n");
    WriteResult(done);
    return 0;
  }
  std::vector<std::wstring> names = all ? on : std::vector<std::wstring>{name};
  std::wstring done;
  for (const std::wstring& each : names) {
    const HRESULT hr = TurnWindowsCameraOff(each, &error);
    if (FAILED(hr)) return Fail(L"\"" + each + L"\": " + error);
    const std::wstring line = hr == S_OK ? L"removed the Windows camera \"" + each + L"\" and its feed's logon entry"
                                         : L"the Windows camera \"" + each + L"\": nothing was on";
    WriteError(line + L"\n");
    done = line;
  }
  if (names.empty()) {
    done = L"no Windows camera was on";
    WriteError(done + L"\n");
  }
  WriteResult(done);
  return 0;
}

}  // namespace

}  // namespace dorvantel

int wmain(int argc, wchar_t** argv) {
  using namespace dorvantel;
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  if (AsksForHelp(command)) return Usage(0);
  // The register command's own options read --help where it stands; the others take no such value.
  if (command != L"register" && std::any_of(argv + 2, argv + argc, [](const wchar_t* a) {
        return a == std::wstring(L"--help") || a == std::wstring(L"-h");
      })) {
    return Usage(0);
  }
  std::vector<std::wstring> args(argv + 2, argv + argc);
  if (!TakeResultFile(&args)) return BadUsage(L"--result needs a file name");
  if (command != L"register" && command != L"unregister" && command != L"list" && command != L"monitors" &&
      command != L"check" && command != L"camera") {
    BadUsage(L"unknown command " + command);
    return Usage();
  }

  // Every argument is checked before anything is written.
  PresetOptions options;
  bool all = false;
  bool thisBitness = false, viewOnly = false;
  std::wstring reportFile;
  if (command == L"register") {
    ParsedOptions<PresetOptions> parsed = ParsePresetOptions(args);
    if (!parsed.ok()) return BadUsage(parsed.error);
    if (parsed.options.help) return Usage(0);
    options = parsed.options;
  } else if (command == L"unregister") {
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == L"--all") {
        all = true;
      } else if (args[i] == L"--name" && i + 1 < args.size() && !args[i + 1].empty()) {
        options.name = args[++i];
      } else {
        return BadUsage(args[i] == L"--name" ? L"--name needs a device name" : L"unexpected argument " + args[i]);
      }
    }
    if (all && !options.name.empty()) return BadUsage(L"--all and --name exclude each other");
  } else if (command == L"check") {
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == L"--this-bitness") {
        thisBitness = true;
      } else if (args[i] == L"--view") {
        viewOnly = true;
      } else if (args[i] == L"--report" && i + 1 < args.size() && !args[i + 1].empty()) {
        reportFile = args[++i];
      } else {
        return BadUsage(args[i] == L"--report" ? L"--report needs a file" : L"unexpected argument " + args[i]);
      }
    }
  } else if (command == L"camera") {
    // Its arguments are read by Camera, in the apartment: nothing is written before they are.
  } else if (!args.empty()) {
    return BadUsage(L"too many arguments");
  }
  if (command == L"monitors") {
    WriteOutput(MonitorListText());
    return 0;
  }
  if (!all && options.name.empty()) options.name = DesktopSourceName;
  // Any name can be unregistered (only this library's devices are removed), so that a device
  // left by an older version under a name refused now can still go.
  if (command == L"register") {
    const std::wstring badName = CheckDeviceName(options.name);
    if (!badName.empty()) return BadUsage(L"--name: " + badName);
  }

  ComApartment apartment(COINIT_MULTITHREADED);
  if (FAILED(apartment.result())) return Fail(L"cannot start COM: " + ResultText(apartment.result()));

  if (command == L"camera") return Camera(args);
  std::wstring error;
  if (command == L"register") {
    const std::wstring library = ProgramFolder() + DORVANTEL_DLL_NAME;
    SourceLibrary check;
    if (FAILED(check.Load(library, &error))) return Fail(error);
    if (FAILED(RegisterDevice(library, options.name, StoredValues(options.preset), &error))) return Fail(error);
    const std::wstring done = L"registered " + library + L" as the video capture device \"" + options.name + L"\"";
    WriteError(done + L"\n");
    WriteResult(done);
    // Kept all the same: the monitor may be plugged in before a host binds the device.
    const std::wstring missing = MissingMonitor(options.preset);
    if (!missing.empty()) WriteError(L"note: " + missing + L"; until there is, the device gives black frames\n");
    return 0;
  }
  if (command == L"unregister") {
    HRESULT hr = UnregisterDevice(all ? std::wstring() : options.name, &error);
    if (FAILED(hr)) return Fail(error);
    const std::wstring what = all ? std::wstring(L"every video capture device of ") + DORVANTEL_DLL_NAME
                                  : L"the video capture device \"" + options.name + L"\"";
    const std::wstring done = hr == S_OK ? L"unregistered " + what : what + L": nothing was registered";
    WriteError(done + L"\n");
    WriteResult(done);
    // A camera is this user's, not a view's: the other bitness's device may still show it.
    for (const std::wstring& camera : WindowsCamerasOn()) {
      if (all || _wcsicmp(camera.c_str(), options.name.c_str()) == 0) {
        WriteError(L"note: the Windows camera \"" + camera + L"\" stays on; dorvantel-register camera off --name \"" +
                   camera + L"\" removes it\n");
      }
    }
    return 0;
  }
  if (command == L"check") return Check(thisBitness, viewOnly, reportFile);
  std::vector<VideoInputDevice> devices;
  HRESULT hr = ListVideoInputDevices(&devices);
  if (FAILED(hr)) return Fail(L"cannot enumerate the video capture devices: " + ResultText(hr));
  std::vector<DeviceKey> keys;
  hr = ReadDeviceKeys(&keys);
  if (FAILED(hr)) return Fail(L"cannot read the video capture devices: " + ResultText(hr));
  WriteOutput(ListText(devices, keys));
  return 0;
}
