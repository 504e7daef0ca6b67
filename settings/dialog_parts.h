#pragma once
// What the settings program's dialogs share.

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>

namespace dorvantel {

// The dialog's state, which DialogBoxParamW passed to WM_INITDIALOG; kept in the dialog's
// user data from then on. Null before WM_INITDIALOG.
template <typename State>
State* DialogState(HWND dialog, UINT message, LPARAM lparam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  return reinterpret_cast<State*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

// A report list view with full-row selection and these columns: each as wide as given but the
// last, which takes the rest of the view's width but a scroll bar's.
struct ListColumn {
  const wchar_t* title;  // null: none (a list without a header)
  int width;
};
inline void SetUpList(HWND view, std::initializer_list<ListColumn> columns) {
  ListView_SetExtendedListViewStyle(view, LVS_EX_FULLROWSELECT);
  RECT client{};
  ::GetClientRect(view, &client);
  int left = client.right - ::GetSystemMetrics(SM_CXVSCROLL);
  int index = 0;
  for (const ListColumn& c : columns) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | (c.title ? LVCF_TEXT : 0);
    column.pszText = const_cast<wchar_t*>(c.title);
    column.cx = index + 1 == static_cast<int>(columns.size()) ? left : c.width;
    left -= column.cx;
    ListView_InsertColumn(view, index++, &column);
  }
}

// The text of a dialog's control.
inline std::wstring DialogText(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
  return text;
}

// Ends the dialog with the button's id when the command is OK or Cancel; false for others.
inline bool EndWithButton(HWND dialog, WPARAM command) {
  const int id = LOWORD(command);
  if (id != IDOK && id != IDCANCEL) return false;
  ::EndDialog(dialog, id);
  return true;
}

// WM_CTLCOLORSTATIC's answer for a message beside a field: red text on the dialog's face.
inline INT_PTR MessageColours(HDC dc) {
  ::SetTextColor(dc, RGB(200, 0, 0));
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace dorvantel
