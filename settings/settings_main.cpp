// dorvantel-settings: the capture devices of the desktop source (the plain "Dorvantel" and
// its presets) in a window: add, edit, duplicate, rename, delete and restore the default,
// choosing what each captures by pointing at it, with a live preview; and the check of which
// programs see each device and whether it works there.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/apartment.h"
#include "hostkit/device_check.h"
#include "hostkit/device_registration.h"
#include "base/camera_link.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "hostkit/windows_camera.h"
#include "module/dorvantel.h"
#include "settings/background_task.h"
#include "settings/device_store.h"
#include "editor/dialog_parts.h"
#include "settings/edit_dialog.h"
#include "settings/resource.h"

namespace dorvantel {

namespace {

// The main window's state, owned by wWinMain's frame; the dialog's user data points at it.
struct DeviceList {
  std::vector<StoredDevice> devices;    // as the list shows them, by name
  BackgroundTask task;                  // a save, a removal or a check under way
  DisabledControls disabled;            // the buttons that would start more meanwhile
  UINT dpi = 96;                        // the window's, which the list's columns are sized for
  bool checked = false;                 // the check has run: verdicts hold its answer
  std::vector<DeviceVerdict> verdicts;  // of our devices, but those changed since
  std::vector<std::wstring> unlisted;   // devices shown for the check that programs here do not list
  bool cameras = false;                 // Windows has cameras of Media Foundation (Windows 11)
};

// The list's columns.
enum Column { kName, kPrograms, kWorks, kCaptures };

void SetStatus(HWND dialog, const std::wstring& text) { ::SetDlgItemTextW(dialog, IDC_STATUS, text.c_str()); }

// Runs work off the window's thread: the window answers and paints meanwhile, the buttons are
// disabled and the status says what runs; done runs on the window's thread afterwards.
void InBackground(HWND dialog, DeviceList* list, const std::wstring& status, std::function<void()> work,
                  std::function<void()> done) {
  list->disabled.Disable(dialog);
  SetStatus(dialog, status);
  const HRESULT hr = list->task.Start(dialog, kTaskDoneMessage, std::move(work), [list, done] {
    list->disabled.Restore();
    done();
  });
  if (FAILED(hr)) {
    list->disabled.Restore();
    SetStatus(dialog, L"Cannot start: " + ResultText(hr));
  }
}

// A save or a removal in the background; done shows its outcome.
void InBackground(HWND dialog, DeviceList* list, const std::wstring& status, std::function<void(StoreOutcome*)> work,
                  std::function<void(const StoreOutcome&)> done) {
  auto outcome = std::make_shared<StoreOutcome>();
  InBackground(
      dialog, list, status, [outcome, work] { work(outcome.get()); }, [outcome, done] { done(*outcome); });
}

const DeviceVerdict* VerdictOf(const DeviceList* list, const std::wstring& name) {
  for (const DeviceVerdict& verdict : list->verdicts) {
    if (verdict.ours && _wcsicmp(verdict.name.c_str(), name.c_str()) == 0) return &verdict;
  }
  return nullptr;
}

// A device changed: what the check said of it no longer holds.
void Changed(DeviceList* list, const std::wstring& name) {
  list->verdicts.erase(
      std::remove_if(list->verdicts.begin(), list->verdicts.end(),
                     [&name](const DeviceVerdict& v) { return _wcsicmp(v.name.c_str(), name.c_str()) == 0; }),
      list->verdicts.end());
}

// The Windows camera switch for the selected device: its state, or greyed with the reason.
void ShowCamera(HWND dialog, const DeviceList* list, const std::wstring& name) {
  HWND box = ::GetDlgItem(dialog, IDC_CAMERA);
  if (!list->cameras) {
    ::CheckDlgButton(dialog, IDC_CAMERA, BST_UNCHECKED);
    ::EnableWindow(box, FALSE);
    ::SetDlgItemTextW(dialog, IDC_CAMERA_TEXT, kNoWindowsCameras);
    return;
  }
  const bool on = !name.empty() && WindowsCameraOn(name);
  ::CheckDlgButton(dialog, IDC_CAMERA, on ? BST_CHECKED : BST_UNCHECKED);
  if (!list->task.busy()) ::EnableWindow(box, !name.empty());
  const std::wstring text =
      name.empty() ? std::wstring()
      : on         ? L"Programs of Media Foundation (the Camera app) list \"" + name + L"\" too, for this user."
                   : L"Tick to make \"" + name + L"\" a Windows camera for programs of Media Foundation.";
  ::SetDlgItemTextW(dialog, IDC_CAMERA_TEXT, text.c_str());
}

// What the check found of the selected device, under the list.
void ShowVerdict(HWND dialog, const DeviceList* list, const std::wstring& name) {
  ShowCamera(dialog, list, name);
  std::wstring text;
  const DeviceVerdict* verdict = VerdictOf(list, name);
  if (verdict) {
    text = VerdictText(*verdict);
    for (const std::wstring& line : verdict->lines) text += L"\r\n" + line;
  } else if (!name.empty()) {
    text = list->checked ? L"\"" + name + L"\" changed since the check: run it again."
                         : L"Run check to see which programs find each device and whether it works.";
  }
  ::SetDlgItemTextW(dialog, IDC_CHECK_TEXT, text.c_str());
}

// Lists the devices again; the device of that name (if any) is selected.
void Refresh(HWND dialog, DeviceList* list, const std::wstring& select) {
  HWND view = ::GetDlgItem(dialog, IDC_DEVICES);
  HWND focus = ::GetFocus();
  HRESULT hr = ListStoredDevices(&list->devices);
  if (FAILED(hr)) SetStatus(dialog, L"Cannot list the capture devices: " + ResultText(hr));
  // A device of ours that this view's programs do not list is shown all the same, marked.
  list->unlisted.clear();
  for (const DeviceVerdict& verdict : list->verdicts) {
    const bool shown = std::any_of(list->devices.begin(), list->devices.end(), [&verdict](const StoredDevice& d) {
      return _wcsicmp(d.name.c_str(), verdict.name.c_str()) == 0;
    });
    if (verdict.ours && !shown) {
      list->devices.push_back(StoredDevice{verdict.name, {}, L"not listed for " + BitsText(kOwnBits) + L" programs"});
      list->unlisted.push_back(verdict.name);
    }
  }
  std::sort(list->devices.begin(), list->devices.end(),
            [](const StoredDevice& a, const StoredDevice& b) { return _wcsicmp(a.name.c_str(), b.name.c_str()) < 0; });
  ListView_DeleteAllItems(view);
  int selected = list->devices.empty() ? -1 : 0;
  for (size_t i = 0; i < list->devices.size(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(list->devices[i].name.c_str());
    ListView_InsertItem(view, &item);
    const int row = static_cast<int>(i);
    const DeviceVerdict* verdict = VerdictOf(list, list->devices[i].name);
    std::wstring programs = L"?", works = L"?";
    if (verdict) {
      programs = ProgramsWord(verdict->seenBy);
      works = verdict->works ? L"yes" : L"NO";
    }
    ListView_SetItemText(view, row, kPrograms, const_cast<wchar_t*>(programs.c_str()));
    ListView_SetItemText(view, row, kWorks, const_cast<wchar_t*>(works.c_str()));
    ListView_SetItemText(view, row, kCaptures, const_cast<wchar_t*>(list->devices[i].summary.c_str()));
    if (list->devices[i].name == select) selected = static_cast<int>(i);
  }
  if (selected >= 0) {
    ListView_SetItemState(view, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(view, selected, FALSE);
  }
  ShowVerdict(dialog, list, selected >= 0 ? list->devices[static_cast<size_t>(selected)].name : std::wstring());
  // The count in the title: what a glance (or a script) sees without reading the list.
  const size_t count = list->devices.size();
  const std::wstring title =
      L"Dorvantel settings - " + std::to_wstring(count) + (count == 1 ? L" capture device" : L" capture devices");
  ::SetWindowTextW(dialog, title.c_str());
  const bool any = count > 0;
  for (int id : {IDC_EDIT, IDC_DUPLICATE, IDC_RENAME, IDC_DELETE}) ::EnableWindow(::GetDlgItem(dialog, id), any);
  // The last device deleted with its button: disabling the button took the keyboard's focus
  // from the window, which would answer no key (Esc, the Alt letters) until clicked.
  if (focus && ::IsChild(dialog, focus) && !::IsWindowEnabled(focus)) {
    ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(view), TRUE);
  }
}

const StoredDevice* Selected(HWND dialog, const DeviceList* list) {
  const int row = ListView_GetNextItem(::GetDlgItem(dialog, IDC_DEVICES), -1, LVNI_SELECTED);
  if (row < 0 || static_cast<size_t>(row) >= list->devices.size()) return nullptr;
  return &list->devices[static_cast<size_t>(row)];
}

// The selected device when its settings can be read here: one that programs of this bitness
// do not list is shown for the check, and editing it would write the defaults over its own.
const StoredDevice* SelectedToEdit(HWND dialog, const DeviceList* list) {
  const StoredDevice* device = Selected(dialog, list);
  if (!device || std::find(list->unlisted.begin(), list->unlisted.end(), device->name) == list->unlisted.end()) {
    return device;
  }
  SetStatus(dialog, L"\"" + device->name + L"\" is not listed for " + BitsText(kOwnBits) +
                        L" programs, so its settings cannot be read here: Delete removes it, Add makes it anew.");
  return nullptr;
}

std::vector<std::wstring> Names(const DeviceList* list) {
  std::vector<std::wstring> names;
  for (const StoredDevice& device : list->devices) names.push_back(device.name);
  return names;
}

void Edit(HWND dialog, DeviceList* list, const StoredDevice* from, bool duplicate) {
  PresetEdit edit;
  edit.taken = Names(list);
  if (from) {
    edit.preset = from->preset;
    edit.name = duplicate ? from->name + L" copy" : from->name;
    if (!duplicate) edit.original = from->name;
  } else {
    edit.name = L"Dorvantel preset";
    for (int n = 2; std::find(edit.taken.begin(), edit.taken.end(), edit.name) != edit.taken.end(); ++n) {
      edit.name = L"Dorvantel preset " + std::to_wstring(n);
    }
  }
  if (!EditPreset(dialog, &edit)) return;
  Changed(list, edit.name);
  Refresh(dialog, list, edit.name);
  SetStatus(dialog, edit.done);
}

// The rename dialog's state: the old name in, the new one out.
struct Rename {
  std::wstring name;
  std::vector<std::wstring> taken;
};

// The new name taken from the field; false, with the message beside it, when it cannot be.
bool TakeNewName(HWND dialog, Rename* rename) {
  const std::wstring name = DialogText(dialog, IDC_NEW_NAME);
  const std::wstring error = CheckNewName(name, rename->name, rename->taken);
  ::SetDlgItemTextW(dialog, IDC_NEW_NAME_ERROR, error.c_str());
  if (!error.empty()) return false;
  rename->name = name;
  return true;
}

INT_PTR CALLBACK RenameProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* rename = DialogState<Rename>(dialog, message, lparam);
  switch (message) {
    case WM_INITDIALOG: ::SetDlgItemTextW(dialog, IDC_NEW_NAME, rename->name.c_str()); return TRUE;
    case WM_CTLCOLORSTATIC:
      if (::GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) != IDC_NEW_NAME_ERROR) break;
      return MessageColours(reinterpret_cast<HDC>(wparam));
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK && !TakeNewName(dialog, rename)) return TRUE;
      if (EndWithButton(dialog, wparam)) return TRUE;
      break;
  }
  return FALSE;
}

void RenameSelected(HWND dialog, DeviceList* list) {
  const StoredDevice* device = SelectedToEdit(dialog, list);
  if (!device) return;
  Rename rename{device->name, Names(list)};
  if (::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RENAME), dialog, RenameProc,
                        reinterpret_cast<LPARAM>(&rename)) != IDOK ||
      rename.name == device->name) {
    return;
  }
  // The new device first: a failure leaves the old one as it was. Its Windows camera follows it.
  const std::wstring oldName = device->name, newName = rename.name;
  const Preset preset = device->preset;
  const bool camera = list->cameras && WindowsCameraOn(oldName);
  InBackground(
      dialog, list, L"Renaming \"" + oldName + L"\"...",
      [oldName, newName, preset, camera](StoreOutcome* out) {
        out->result = SaveDevice(newName, preset, &out->done, &out->error);
        // A name that differs in case only is the same registry key, which the save wrote over.
        if (SUCCEEDED(out->result) && !SameDeviceKey(oldName, newName))
          out->result = DeleteDevice(oldName, &out->error);
        if (FAILED(out->result) || !camera) return;
        std::wstring error;
        out->camera = FAILED(RenameWindowsCamera(oldName, newName, ProgramFolder() + camera_link::kFeedProgram, &error))
                          ? L"; its Windows camera was not renamed: " + error
                          : L", its Windows camera too.";
      },
      [dialog, list, oldName, newName](const StoreOutcome& out) {
        const bool renamed = SUCCEEDED(out.result);
        Changed(list, oldName);
        Changed(list, newName);
        Refresh(dialog, list, renamed ? newName : oldName);
        SetStatus(dialog, renamed ? L"Renamed \"" + oldName + L"\" to \"" + newName + L"\"" +
                                        (out.camera.empty() ? L"." : out.camera)
                                  : L"Not renamed: " + out.error);
      });
}

void DeleteSelected(HWND dialog, DeviceList* list) {
  const StoredDevice* device = Selected(dialog, list);
  if (!device) return;
  const std::wstring name = device->name;
  const bool camera = list->cameras && WindowsCameraOn(name);
  const std::wstring question = L"Delete the capture device \"" + name + L"\"? Hosts will no longer find it" +
                                (camera ? L", nor programs its Windows camera." : L".");
  if (::MessageBoxW(dialog, question.c_str(), L"Dorvantel delete", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES)
    return;
  InBackground(
      dialog, list, L"Deleting \"" + name + L"\"...",
      [name, camera](StoreOutcome* out) {
        out->result = DeleteDevice(name, &out->error);
        if (FAILED(out->result) || !camera) return;
        std::wstring error;
        out->camera = FAILED(TurnWindowsCameraOff(name, &error)) ? L"; its Windows camera stays: " + error
                                                                 : L" and its Windows camera.";
      },
      [dialog, list, name](const StoreOutcome& out) {
        Changed(list, name);
        Refresh(dialog, list, {});
        SetStatus(dialog, SUCCEEDED(out.result) ? L"Deleted \"" + name + L"\"" + (out.camera.empty() ? L"." : out.camera)
                                                : L"Not deleted: " + out.error);
      });
}

void RestoreDefault(HWND dialog, DeviceList* list) {
  InBackground(
      dialog, list, std::wstring(L"Restoring \"") + DesktopSourceName + L"\"...",
      [](StoreOutcome* out) { out->result = SaveDevice(DesktopSourceName, Preset{}, &out->done, &out->error); },
      [dialog, list](const StoreOutcome& out) {
        Changed(list, DesktopSourceName);
        Refresh(dialog, list, DesktopSourceName);
        SetStatus(dialog, SUCCEEDED(out.result) ? std::wstring(L"Restored the default device \"") + DesktopSourceName +
                                                      L"\" for " + out.done + L"."
                                                : L"Not restored: " + out.error);
      });
}

// Turns the selected device's Windows camera on or off, as the box now says, with the register
// tool's code: on the worker, since the platform and the feed take their time.
void SwitchCamera(HWND dialog, DeviceList* list) {
  const StoredDevice* device = Selected(dialog, list);
  if (!device || !list->cameras) return;
  const std::wstring name = device->name;
  const bool on = ::IsDlgButtonChecked(dialog, IDC_CAMERA) == BST_CHECKED;
  InBackground(
      dialog, list, (on ? L"Turning on the Windows camera \"" : L"Turning off the Windows camera \"") + name + L"\"...",
      [name, on](StoreOutcome* out) {
        out->result = on ? TurnWindowsCameraOn(name, ProgramFolder() + camera_link::kFeedProgram, &out->error)
                         : TurnWindowsCameraOff(name, &out->error);
      },
      [dialog, list, name, on](const StoreOutcome& out) {
        const StoredDevice* selected = Selected(dialog, list);
        ShowCamera(dialog, list, selected ? selected->name : std::wstring());
        if (FAILED(out.result)) {
          SetStatus(dialog, L"The Windows camera is not " + std::wstring(on ? L"on: " : L"off: ") + out.error);
        } else {
          SetStatus(dialog, L"The Windows camera \"" + name + (on ? L"\" is on." : L"\" is off."));
        }
      });
}

// The whole check, both bitnesses and a test grab per device: seconds, or minutes where the
// other bitness's tool starts slowly. The marks and the messages come from it.
void RunWholeCheck(HWND dialog, DeviceList* list) {
  struct Outcome {
    CheckRun run;
    HRESULT result = S_OK;
    std::wstring error;
  };
  auto outcome = std::make_shared<Outcome>();
  const StoredDevice* device = Selected(dialog, list);
  const std::wstring selected = device ? device->name : std::wstring();
  InBackground(
      dialog, list,
      L"Checking every device for " + (OtherRegisterTool().empty() ? BitsText(kOwnBits) : L"64-bit and 32-bit") +
          L" programs...",
      [outcome] { outcome->result = RunCheck(false, kCheckGrabMs, kCheckOtherMs, &outcome->run, &outcome->error); },
      [dialog, list, outcome, selected] {
        if (FAILED(outcome->result)) {
          SetStatus(dialog, L"Not checked: " + outcome->error);
          return;
        }
        list->checked = true;
        list->verdicts = Verdicts(outcome->run.views, outcome->run.expected);
        Refresh(dialog, list, selected);
        SetStatus(dialog, L"Checked: " + CheckSummary(list->verdicts, outcome->run.expected) +
                              (outcome->run.unchecked.empty() ? L"" : L" (" + outcome->run.unchecked + L")"));
      });
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* list = DialogState<DeviceList>(dialog, message, lparam);
  switch (message) {
    case WM_INITDIALOG: {
      SetUpList(::GetDlgItem(dialog, IDC_DEVICES),
                {{L"Device", 130}, {L"Programs", 62}, {L"Works", 46}, {L"What it captures", 0}});
      list->dpi = WindowDpi(dialog);
      list->cameras = WindowsCamerasAvailable();
      Refresh(dialog, list, DesktopSourceName);
      if (!OtherRegisterTool().empty()) {
        SetStatus(dialog, L"Changes are saved for 64-bit and 32-bit hosts.");
      }
      return TRUE;
    }
    case kTaskDoneMessage: list->task.Finish(); return TRUE;
    case WM_DPICHANGED: {
      // On a monitor of another DPI the dialog is laid out anew; the columns follow it.
      HWND view = ::GetDlgItem(dialog, IDC_DEVICES);
      const UINT dpi = LOWORD(wparam);
      for (int column : {kName, kPrograms, kWorks}) {
        ListView_SetColumnWidth(view, column, ::MulDiv(ListView_GetColumnWidth(view, column), dpi, list->dpi));
      }
      ListView_SetColumnWidth(view, kCaptures, LVSCW_AUTOSIZE_USEHEADER);
      list->dpi = dpi;
      break;
    }
    case WM_COMMAND:
      // One save or removal at a time, and the window stays until it has ended.
      if (list->task.busy()) return TRUE;
      switch (LOWORD(wparam)) {
        case IDC_ADD: Edit(dialog, list, nullptr, false); return TRUE;
        case IDC_EDIT:
          if (const StoredDevice* device = SelectedToEdit(dialog, list)) Edit(dialog, list, device, false);
          return TRUE;
        case IDC_DUPLICATE:
          if (const StoredDevice* device = SelectedToEdit(dialog, list)) Edit(dialog, list, device, true);
          return TRUE;
        case IDC_RENAME: RenameSelected(dialog, list); return TRUE;
        case IDC_DELETE: DeleteSelected(dialog, list); return TRUE;
        case IDC_RESTORE: RestoreDefault(dialog, list); return TRUE;
        case IDC_CHECK: RunWholeCheck(dialog, list); return TRUE;
        case IDC_CAMERA: SwitchCamera(dialog, list); return TRUE;
        case IDCANCEL: ::EndDialog(dialog, IDCANCEL); return TRUE;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom == IDC_DEVICES && header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
        if ((change->uNewState & LVIS_SELECTED) && static_cast<size_t>(change->iItem) < list->devices.size()) {
          ShowVerdict(dialog, list, list->devices[static_cast<size_t>(change->iItem)].name);
        }
        return TRUE;
      }
      if (header->idFrom == IDC_DEVICES && (header->code == NM_DBLCLK || header->code == NM_RETURN)) {
        ::SendMessageW(dialog, WM_COMMAND, IDC_EDIT, 0);
        return TRUE;
      }
      if (header->idFrom == IDC_DEVICES && header->code == LVN_KEYDOWN &&
          reinterpret_cast<const NMLVKEYDOWN*>(lparam)->wVKey == VK_DELETE) {
        ::SendMessageW(dialog, WM_COMMAND, IDC_DELETE, 0);
        return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

}  // namespace

}  // namespace dorvantel

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace dorvantel;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The preview's graph lives on this window's thread.
  ComApartment apartment(COINIT_APARTMENTTHREADED);
  if (!apartment.joined()) {
    ::MessageBoxW(nullptr, (L"Cannot start COM: " + ResultText(apartment.result())).c_str(), L"Dorvantel settings",
                  MB_ICONERROR);
    return 1;
  }
  DeviceList list;
  ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainProc, reinterpret_cast<LPARAM>(&list));
  return 0;
}
