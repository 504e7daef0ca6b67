// dorvantel-settings: the capture devices of the desktop source (the plain "Dorvantel" and
// its presets) in a window: add, edit, duplicate, rename, delete and restore the default,
// choosing what each captures by pointing at it, with a live preview.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/apartment.h"
#include "hostkit/device_registration.h"
#include "hostkit/result_text.h"
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
  std::vector<StoredDevice> devices;  // as the list shows them, by name
  BackgroundTask task;                // a save or a removal under way
  DisabledControls disabled;          // the buttons that would start more meanwhile
  UINT dpi = 96;                      // the window's, which the list's columns are sized for
};

void SetStatus(HWND dialog, const std::wstring& text) { ::SetDlgItemTextW(dialog, IDC_STATUS, text.c_str()); }

// Runs a save or a removal off the window's thread: the window answers and paints meanwhile,
// the buttons are disabled and the status says what runs; done shows the outcome.
void InBackground(HWND dialog, DeviceList* list, const std::wstring& status, std::function<void(StoreOutcome*)> work,
                  std::function<void(const StoreOutcome&)> done) {
  auto outcome = std::make_shared<StoreOutcome>();
  list->disabled.Disable(dialog);
  SetStatus(dialog, status);
  const HRESULT hr = list->task.Start(
      dialog, kTaskDoneMessage, [outcome, work] { work(outcome.get()); },
      [dialog, list, outcome, done] {
        list->disabled.Restore();
        done(*outcome);
      });
  if (FAILED(hr)) {
    list->disabled.Restore();
    SetStatus(dialog, L"Cannot start: " + ResultText(hr));
  }
}

// Lists the devices again; the device of that name (if any) is selected.
void Refresh(HWND dialog, DeviceList* list, const std::wstring& select) {
  HWND view = ::GetDlgItem(dialog, IDC_DEVICES);
  HRESULT hr = ListStoredDevices(&list->devices);
  if (FAILED(hr)) SetStatus(dialog, L"Cannot list the capture devices: " + ResultText(hr));
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
    ListView_SetItemText(view, static_cast<int>(i), 1, const_cast<wchar_t*>(list->devices[i].summary.c_str()));
    if (list->devices[i].name == select) selected = static_cast<int>(i);
  }
  if (selected >= 0) {
    ListView_SetItemState(view, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(view, selected, FALSE);
  }
  // The count in the title: what a glance (or a script) sees without reading the list.
  const size_t count = list->devices.size();
  const std::wstring title =
      L"Dorvantel settings - " + std::to_wstring(count) + (count == 1 ? L" capture device" : L" capture devices");
  ::SetWindowTextW(dialog, title.c_str());
  const bool any = count > 0;
  for (int id : {IDC_EDIT, IDC_DUPLICATE, IDC_RENAME, IDC_DELETE}) ::EnableWindow(::GetDlgItem(dialog, id), any);
}

const StoredDevice* Selected(HWND dialog, const DeviceList* list) {
  const int row = ListView_GetNextItem(::GetDlgItem(dialog, IDC_DEVICES), -1, LVNI_SELECTED);
  if (row < 0 || static_cast<size_t>(row) >= list->devices.size()) return nullptr;
  return &list->devices[static_cast<size_t>(row)];
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
  const StoredDevice* device = Selected(dialog, list);
  if (!device) return;
  Rename rename{device->name, Names(list)};
  if (::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RENAME), dialog, RenameProc,
                        reinterpret_cast<LPARAM>(&rename)) != IDOK ||
      rename.name == device->name) {
    return;
  }
  // The new device first: a failure leaves the old one as it was.
  const std::wstring oldName = device->name, newName = rename.name;
  const Preset preset = device->preset;
  InBackground(
      dialog, list, L"Renaming \"" + oldName + L"\"...",
      [oldName, newName, preset](StoreOutcome* out) {
        out->result = SaveDevice(newName, preset, &out->done, &out->error);
        // A name that differs in case only is the same registry key, which the save wrote over.
        if (SUCCEEDED(out->result) && !SameDeviceKey(oldName, newName))
          out->result = DeleteDevice(oldName, &out->error);
      },
      [dialog, list, oldName, newName](const StoreOutcome& out) {
        const bool renamed = SUCCEEDED(out.result);
        Refresh(dialog, list, renamed ? newName : oldName);
        SetStatus(dialog,
                  renamed ? L"Renamed \"" + oldName + L"\" to \"" + newName + L"\"." : L"Not renamed: " + out.error);
      });
}

void DeleteSelected(HWND dialog, DeviceList* list) {
  const StoredDevice* device = Selected(dialog, list);
  if (!device) return;
  const std::wstring name = device->name;
  const std::wstring question = L"Delete the capture device \"" + name + L"\"? Hosts will no longer find it.";
  if (::MessageBoxW(dialog, question.c_str(), L"Dorvantel delete", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES)
    return;
  InBackground(
      dialog, list, L"Deleting \"" + name + L"\"...",
      [name](StoreOutcome* out) { out->result = DeleteDevice(name, &out->error); },
      [dialog, list, name](const StoreOutcome& out) {
        Refresh(dialog, list, {});
        SetStatus(dialog, SUCCEEDED(out.result) ? L"Deleted \"" + name + L"\"." : L"Not deleted: " + out.error);
      });
}

void RestoreDefault(HWND dialog, DeviceList* list) {
  InBackground(
      dialog, list, std::wstring(L"Restoring \"") + DesktopSourceName + L"\"...",
      [](StoreOutcome* out) { out->result = SaveDevice(DesktopSourceName, Preset{}, &out->done, &out->error); },
      [dialog, list](const StoreOutcome& out) {
        Refresh(dialog, list, DesktopSourceName);
        SetStatus(dialog, SUCCEEDED(out.result) ? std::wstring(L"Restored the default device \"") + DesktopSourceName +
                                                      L"\" for " + out.done + L"."
                                                : L"Not restored: " + out.error);
      });
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* list = DialogState<DeviceList>(dialog, message, lparam);
  switch (message) {
    case WM_INITDIALOG: {
      SetUpList(::GetDlgItem(dialog, IDC_DEVICES), {{L"Device", 140}, {L"What it captures", 0}});
      list->dpi = WindowDpi(dialog);
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
      ListView_SetColumnWidth(view, 0, ::MulDiv(ListView_GetColumnWidth(view, 0), dpi, list->dpi));
      ListView_SetColumnWidth(view, 1, LVSCW_AUTOSIZE_USEHEADER);
      list->dpi = dpi;
      break;
    }
    case WM_COMMAND:
      // One save or removal at a time, and the window stays until it has ended.
      if (list->task.busy()) return TRUE;
      switch (LOWORD(wparam)) {
        case IDC_ADD: Edit(dialog, list, nullptr, false); return TRUE;
        case IDC_EDIT:
          if (const StoredDevice* device = Selected(dialog, list)) Edit(dialog, list, device, false);
          return TRUE;
        case IDC_DUPLICATE:
          if (const StoredDevice* device = Selected(dialog, list)) Edit(dialog, list, device, true);
          return TRUE;
        case IDC_RENAME: RenameSelected(dialog, list); return TRUE;
        case IDC_DELETE: DeleteSelected(dialog, list); return TRUE;
        case IDC_RESTORE: RestoreDefault(dialog, list); return TRUE;
        case IDCANCEL: ::EndDialog(dialog, IDCANCEL); return TRUE;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
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
