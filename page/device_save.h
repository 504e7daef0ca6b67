#pragma once
// Saving the page's settings as a named capture device: the register tool beside the library
// (dorvantel-register.exe, in the library's own folder) run as "register --name NAME" with the
// preset's options, on a worker so that the host's window never waits for it. The device list
// is the machine's, so a process without administrator rights starts the tool elevated; the
// tool writes its one-line result to a file the saver names (--result), which an elevated
// start cannot give back as output.

#include <windows.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "base/section_lock.h"
#include "preset/preset.h"

namespace dorvantel {

struct SaveOutcome {
  bool saved = false;
  std::wstring line;  // what the page shows: done, or why not, on one line
};

// How the tool is started: as this process is, or asking for administrator rights.
enum class SaveRights { AsThisProcess, Elevated };
// Elevated when this process has no administrator rights now (UAC's limited token).
SaveRights RightsToSave() noexcept;

// The register tool in module's folder.
std::wstring RegisterToolBeside(HMODULE module);

// Runs tool with "register --name name" and the preset's options, and waits for it (a tool
// that runs past timeoutMs is ended). Blocking: for the worker.
SaveOutcome RunRegisterTool(const std::wstring& tool, const std::wstring& name, const Preset& preset,
                            SaveRights rights, DWORD timeoutMs);

// One save at a time on a worker thread. When it ends, message is posted to the window given
// last (Notify), at once if that window comes after the end; Take then gives the outcome.
// The destructor waits for a running save (the tool's time, bounded by its timeout).
class DeviceSaver {
 public:
  DeviceSaver() = default;
  ~DeviceSaver();
  DeviceSaver(const DeviceSaver&) = delete;
  DeviceSaver& operator=(const DeviceSaver&) = delete;

  // Starts saving; false when a save runs already or no thread could be started.
  bool Start(std::wstring tool, std::wstring name, Preset preset, SaveRights rights, UINT message);
  bool busy() const noexcept { return worker_.valid(); }
  // The window told when the save ends; null while there is none.
  void Notify(HWND window);
  // The outcome of the save that ended, after which another may start; false while one runs.
  bool Take(SaveOutcome* outcome);

 private:
  static DWORD WINAPI Run(void* self);
  void Join() noexcept;

  std::wstring tool_, name_;
  Preset preset_;
  SaveRights rights_ = SaveRights::AsThisProcess;
  UINT message_ = 0;
  ThreadHandle worker_;
  SectionLock lock_;  // guards window_, ended_ and outcome_ once the worker runs
  HWND window_ = nullptr;
  bool ended_ = false;
  SaveOutcome outcome_;
};

}  // namespace dorvantel
