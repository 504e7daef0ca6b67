#pragma once
// What the editor's and the settings program's dialogs share.

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace dorvantel {

// The dialog's state, which DialogBoxParamW passed to WM_INITDIALOG; kept in the dialog's
// user data from then on. Null before WM_INITDIALOG.
template <typename State>
State* DialogState(HWND dialog, UINT message, LPARAM lparam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  return reinterpret_cast<State*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

// The window's DPI (per monitor where the system knows it, else the system's): the program
// is per-monitor DPI aware, and sizes in pixels are written at 96 and scaled to it.
inline UINT WindowDpi(HWND window) {
  using GetDpi = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpi>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi) {
    if (const UINT dpi = getDpi(window)) return dpi;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The dialogs' face ("MS Shell Dlg 2") at that size in points and DPI; the caller deletes it.
inline HFONT DialogFont(int dpi, int points) {
  return ::CreateFontW(-::MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg 2");
}

// A report list view with full-row selection and these columns: each as wide as given (in
// pixels at 96 DPI, scaled to the view's) but the last, which takes the rest of the view's
// width but a scroll bar's.
struct ListColumn {
  const wchar_t* title;  // null: none (a list without a header)
  int width;
};
inline void SetUpList(HWND view, std::initializer_list<ListColumn> columns) {
  ListView_SetExtendedListViewStyle(view, LVS_EX_FULLROWSELECT);
  RECT client{};
  ::GetClientRect(view, &client);
  const int dpi = static_cast<int>(WindowDpi(view));
  int left = client.right - ::GetSystemMetrics(SM_CXVSCROLL);
  int index = 0;
  for (const ListColumn& c : columns) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | (c.title ? LVCF_TEXT : 0);
    column.pszText = const_cast<wchar_t*>(c.title);
    column.cx = index + 1 == static_cast<int>(columns.size()) ? left : ::MulDiv(c.width, dpi, 96);
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

// The dialog's controls disabled while a work runs (the texts stay as they are, so that the
// status reads as usual), and given back as they were: what was disabled before stays so.
class DisabledControls {
 public:
  void Disable(HWND dialog) {
    Restore();
    focus_ = ::GetFocus();
    ::EnumChildWindows(dialog, DisableOne, reinterpret_cast<LPARAM>(this));
  }
  void Restore() {
    for (HWND control : controls_) ::EnableWindow(control, TRUE);
    controls_.clear();
    if (focus_ && ::IsWindowEnabled(focus_)) ::SetFocus(focus_);
    focus_ = nullptr;
  }

 private:
  static BOOL CALLBACK DisableOne(HWND control, LPARAM self) {
    wchar_t kind[16] = {};
    ::GetClassNameW(control, kind, 16);
    if (_wcsicmp(kind, L"Static") != 0 && ::IsWindowEnabled(control)) {
      ::EnableWindow(control, FALSE);
      reinterpret_cast<DisabledControls*>(self)->controls_.push_back(control);
    }
    return TRUE;
  }

  std::vector<HWND> controls_;
  HWND focus_ = nullptr;
};

}  // namespace dorvantel
