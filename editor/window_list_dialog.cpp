#include "editor/window_list_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "base/window_title.h"
#include "editor/dialog_parts.h"
#include "editor/panel_resource.h"

namespace dorvantel {

namespace {

struct WindowRow {
  ListedWindow listed;
  int icon;  // in the image list
};

// The dialog's state, owned by ChooseWindowFromList's frame; the image list is the list
// view's once set (LVS_SHAREIMAGELISTS is not set, so the list view destroys it).
struct WindowChoice {
  std::vector<WindowRow> windows;
  std::vector<size_t> shown;  // indexes of windows in the list's rows
  HIMAGELIST icons = nullptr;
  std::wstring title;
  HWND window = nullptr;
};

HICON WindowIcon(HWND window) {
  DWORD_PTR icon = 0;
  // A window that does not answer within the time gets its class's icon.
  if (::SendMessageTimeoutW(window, WM_GETICON, ICON_SMALL2, 0, SMTO_ABORTIFHUNG, 200, &icon) && icon) {
    return reinterpret_cast<HICON>(icon);
  }
  if (::SendMessageTimeoutW(window, WM_GETICON, ICON_BIG, 0, SMTO_ABORTIFHUNG, 200, &icon) && icon) {
    return reinterpret_cast<HICON>(icon);
  }
  if (HICON classIcon = reinterpret_cast<HICON>(::GetClassLongPtrW(window, GCLP_HICONSM))) return classIcon;
  if (HICON classIcon = reinterpret_cast<HICON>(::GetClassLongPtrW(window, GCLP_HICON))) return classIcon;
  return ::LoadIconW(nullptr, IDI_APPLICATION);
}

void Fill(HWND dialog, WindowChoice* choice) {
  HWND list = ::GetDlgItem(dialog, IDC_LIST_WINDOWS);
  wchar_t find[512] = {};
  ::GetDlgItemTextW(dialog, IDC_LIST_FIND, find, 512);
  ListView_DeleteAllItems(list);
  choice->shown.clear();
  for (size_t i = 0; i < choice->windows.size(); ++i) {
    if (!TitleContains(choice->windows[i].listed.title, find)) continue;
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(choice->shown.size());
    item.pszText = const_cast<wchar_t*>(choice->windows[i].listed.title.c_str());
    item.iImage = choice->windows[i].icon;
    item.lParam = static_cast<LPARAM>(i);
    ListView_InsertItem(list, &item);
    choice->shown.push_back(i);
  }
  if (!choice->shown.empty())
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

// The selected row's window; false when no row is selected.
bool TakeChosen(HWND dialog, WindowChoice* choice) {
  const int row = ListView_GetNextItem(::GetDlgItem(dialog, IDC_LIST_WINDOWS), -1, LVNI_SELECTED);
  if (row < 0 || static_cast<size_t>(row) >= choice->shown.size()) return false;
  const ListedWindow& chosen = choice->windows[choice->shown[static_cast<size_t>(row)]].listed;
  choice->title = chosen.title;
  choice->window = chosen.window;
  return true;
}

INT_PTR CALLBACK WindowListProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* choice = DialogState<WindowChoice>(dialog, message, lparam);
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = ::GetDlgItem(dialog, IDC_LIST_WINDOWS);
      choice->icons = ImageList_Create(::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                       ILC_COLOR32 | ILC_MASK, 16, 16);
      ListView_SetImageList(list, choice->icons, LVSIL_SMALL);
      SetUpList(list, {{nullptr, 0}});
      for (const ListedWindow& listed : ListOtherWindows()) {
        choice->windows.push_back(WindowRow{listed, ImageList_AddIcon(choice->icons, WindowIcon(listed.window))});
      }
      std::stable_sort(choice->windows.begin(), choice->windows.end(), [](const WindowRow& a, const WindowRow& b) {
        return _wcsicmp(a.listed.title.c_str(), b.listed.title.c_str()) < 0;
      });
      Fill(dialog, choice);
      return TRUE;  // the find box has the focus
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_LIST_FIND && HIWORD(wparam) == EN_CHANGE) {
        Fill(dialog, choice);
        return TRUE;
      }
      if (LOWORD(wparam) == IDOK && !TakeChosen(dialog, choice)) return TRUE;
      if (EndWithButton(dialog, wparam)) return TRUE;
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom == IDC_LIST_WINDOWS && header->code == NM_DBLCLK) {
        ::SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

}  // namespace

bool ChooseWindowFromList(HMODULE module, HWND owner, std::wstring* title, HWND* window) {
  WindowChoice choice;
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
  if (::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_WINDOW_LIST), owner, WindowListProc,
                        reinterpret_cast<LPARAM>(&choice)) != IDOK) {
    return false;
  }
  *title = choice.title;
  *window = choice.window;
  return true;
}

}  // namespace dorvantel
