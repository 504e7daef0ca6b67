// The GUI test's hands inside Windows, where xdotool cannot reach:
// TITLE names the first shown window whose title begins with it.
//   settings_probe answers TITLE SECONDS
//     sends the window WM_NULL every 20 ms for SECONDS and says how many
//     answers came within 100 ms, the slowest, and how many of its buttons are enabled;
//     status 0 when every one came in time.
//   settings_probe text TITLE ID
//     prints the text of the control ID of that window or of a panel inside it.
//   settings_probe rows TITLE ID
//     prints each row of the list view ID of that window, its columns' texts between tabs.
//   settings_probe fits TITLE [NAME]
//     every labelled control of that dialog (and of the panels it embeds) lies inside it and its
//     text fits it, measured with
//     the dialog's font at the screen's DPI, and the first column of its lists holds NAME; one
//     line per control that does not, status 0 when all fit.
//   settings_probe register|unregister|check ...
//     the register tool's stand-in (the settings program runs it when
//     DORVANTEL_OTHER_REGISTER_TOOL names it): waits while the file DORVANTEL_STAND_IN_GATE
//     names exists (two minutes at most), then fails with the register tool's kind of error
//     line when a file of that name and ".fail" exists, else succeeds.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int StandIn() {
  wchar_t gate[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"DORVANTEL_STAND_IN_GATE", gate, MAX_PATH) == 0) return 0;
  for (int i = 0; i < 1200 && Exists(gate); ++i) ::Sleep(100);
  if (!Exists(std::wstring(gate) + L".fail")) return 0;
  std::printf("dorvantel-register: error: the stand-in was told to fail\n");
  return 1;
}

BOOL CALLBACK CountEnabledButton(HWND control, LPARAM count) {
  wchar_t kind[16] = {};
  ::GetClassNameW(control, kind, 16);
  if (_wcsicmp(kind, L"Button") == 0 && ::IsWindowVisible(control) && ::IsWindowEnabled(control)) {
    ++*reinterpret_cast<int*>(count);
  }
  return TRUE;
}

int Answers(HWND window, int seconds) {
  int sent = 0, answered = 0, enabled = 0;
  DWORD slowest = 0;
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < static_cast<DWORD>(seconds) * 1000;) {
    DWORD_PTR result = 0;
    const DWORD before = ::GetTickCount();
    ++sent;
    if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result)) ++answered;
    slowest = std::max(slowest, ::GetTickCount() - before);
    ::Sleep(20);
  }
  ::EnumChildWindows(window, CountEnabledButton, reinterpret_cast<LPARAM>(&enabled));
  std::printf("answered %d of %d within 100 ms, slowest %lu ms, %d buttons enabled\n", answered, sent,
              static_cast<unsigned long>(slowest), enabled);
  return answered == sent ? 0 : 1;
}

// What fits checks: each control's text with the dialog's font, and its place.
struct Fit {
  HWND dialog;
  HDC dc;
  RECT inside;   // the dialog's client area, in screen coordinates
  int checkBox;  // the box and gap beside a check box's or a radio button's text
  int margins;   // a list's text's margins in its column
  std::wstring name;
  int problems = 0, controls = 0;
};

BOOL CALLBACK FitOne(HWND control, LPARAM data) {
  auto* fit = reinterpret_cast<Fit*>(data);
  if (!::IsWindowVisible(control)) return TRUE;
  // The dialog's own controls and those of the child dialogs it embeds, not a control's parts.
  const HWND parent = ::GetParent(control);
  wchar_t parentKind[16] = {};
  ::GetClassNameW(parent, parentKind, 16);
  if (parent != fit->dialog && wcscmp(parentKind, L"#32770") != 0) return TRUE;
  wchar_t kind[32] = {}, text[256] = {};
  ::GetClassNameW(control, kind, 32);
  ::GetWindowTextW(control, text, 256);
  RECT place{}, client{};
  ::GetWindowRect(control, &place);
  ::GetClientRect(control, &client);
  ++fit->controls;
  RECT both{};
  ::IntersectRect(&both, &place, &fit->inside);
  if (!::EqualRect(&both, &place)) {
    std::printf("control %d \"%ls\" reaches outside the dialog\n", ::GetDlgCtrlID(control), text);
    ++fit->problems;
  }
  if (_wcsicmp(kind, L"SysListView32") == 0 && !fit->name.empty()) {
    SIZE extent{};
    ::GetTextExtentPoint32W(fit->dc, fit->name.c_str(), static_cast<int>(fit->name.size()), &extent);
    const int column = static_cast<int>(::SendMessageW(control, LVM_GETCOLUMNWIDTH, 0, 0));
    if (extent.cx + fit->margins > column) {
      std::printf("list %d: \"%ls\" %ld wide in a column of %d\n", ::GetDlgCtrlID(control), fit->name.c_str(),
                  extent.cx + fit->margins, column);
      ++fit->problems;
    }
  }
  const bool button = _wcsicmp(kind, L"Button") == 0, label = _wcsicmp(kind, L"Static") == 0;
  if (!text[0] || !(button || label)) return TRUE;
  std::wstring shown;
  for (const wchar_t* c = text; *c; ++c) {
    if (*c == L'&' && c[1] != L'&') continue;  // a mnemonic's mark is not drawn
    shown += *c;
  }
  SIZE extent{};
  ::GetTextExtentPoint32W(fit->dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
  const LONG style = ::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
  const bool box = button && (style == BS_AUTOCHECKBOX || style == BS_CHECKBOX || style == BS_AUTORADIOBUTTON ||
                              style == BS_RADIOBUTTON);
  const int room = client.right - (box ? fit->checkBox : 0);
  // A label that wraps its words (LTEXT's plain style) may take several lines of its height.
  if (label && (::GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_LEFT) {
    RECT wrapped{0, 0, room, 0};
    ::DrawTextW(fit->dc, shown.c_str(), static_cast<int>(shown.size()), &wrapped, DT_WORDBREAK | DT_CALCRECT);
    extent = SIZE{wrapped.right, wrapped.bottom};
  }
  if (extent.cx > room || extent.cy > client.bottom) {
    std::printf("control %d \"%ls\": text %ldx%ld in %dx%ld\n", ::GetDlgCtrlID(control), shown.c_str(), extent.cx,
                extent.cy, room, client.bottom);
    ++fit->problems;
  }
  return TRUE;
}

int Fits(HWND dialog, const wchar_t* name) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  // The dialogs' font: "MS Shell Dlg" 8 points with DS_SHELLFONT.
  HFONT font =
      ::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg 2");
  HGDIOBJ old = ::SelectObject(screen, font);
  Fit fit{dialog, screen, {}, ::MulDiv(16, dpi, 96), ::MulDiv(12, dpi, 96), name ? name : L""};
  ::GetClientRect(dialog, &fit.inside);
  ::MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&fit.inside), 2);
  ::EnumChildWindows(dialog, FitOne, reinterpret_cast<LPARAM>(&fit));
  ::SelectObject(screen, old);
  ::DeleteObject(font);
  ::ReleaseDC(nullptr, screen);
  std::printf("%d controls at %d DPI, %d cut off or outside\n", fit.controls, dpi, fit.problems);
  return fit.problems == 0 && fit.controls > 0 ? 0 : 1;
}

// A list view of another process: its item texts are read through a buffer in that process.
int Rows(HWND list) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(list, &process);
  HANDLE other = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
  if (!other) return 1;
  constexpr int kChars = 256;
  auto* remote = static_cast<char*>(
      ::VirtualAllocEx(other, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
  const int rows = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  const HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int columns = header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  for (int row = 0; remote && row < rows; ++row) {
    std::wstring line;
    for (int column = 0; column < columns; ++column) {
      LVITEMW item{};
      item.iSubItem = column;
      item.cchTextMax = kChars;
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
      wchar_t text[kChars] = {};
      ::WriteProcessMemory(other, remote, &item, sizeof(item), nullptr);
      ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
      ::ReadProcessMemory(other, remote + sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t), nullptr);
      line += (column ? L"\t" : L"") + std::wstring(text);
    }
    std::printf("%ls\n", line.c_str());
  }
  if (remote) ::VirtualFreeEx(other, remote, 0, MEM_RELEASE);
  ::CloseHandle(other);
  return remote ? 0 : 1;
}

// The text of the control of that id in a window or in a panel inside it.
BOOL CALLBACK TextOfId(HWND control, LPARAM data) {
  auto* wanted = reinterpret_cast<std::pair<int, std::wstring>*>(data);
  if (::GetDlgCtrlID(control) != wanted->first) return TRUE;
  // Asked, not read from the window: an edit control of another process keeps its text itself.
  wchar_t text[512] = {};
  ::SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  wanted->second = text;
  return FALSE;
}

// The first shown top-level window whose title begins with title.
struct Search {
  const wchar_t* title;
  HWND found = nullptr;
};
BOOL CALLBACK Match(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  if (!::IsWindowVisible(window) || wcsncmp(text, search->title, wcslen(search->title)) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Pixels as they are: the settings program is per-monitor DPI aware.
  using SetContext = BOOL(WINAPI*)(HANDLE);
  if (auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
    set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  } else {
    ::SetProcessDPIAware();
  }
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"register" || command == L"unregister" || command == L"check") return StandIn();
  if (argc < 3) {
    std::fprintf(stderr, "usage: settings_probe answers TITLE SECONDS | fits TITLE | register ...\n");
    return 2;
  }
  Search search{argv[2]};
  ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  HWND window = search.found;
  if (!window) {
    std::printf("no window \"%ls\"\n", argv[2]);
    return 1;
  }
  if (command == L"answers" && argc > 3) return Answers(window, _wtoi(argv[3]));
  if (command == L"rows" && argc > 3) return Rows(::GetDlgItem(window, _wtoi(argv[3])));
  if (command == L"fits") return Fits(window, argc > 3 ? argv[3] : nullptr);
  if (command == L"text" && argc > 3) {
    std::pair<int, std::wstring> wanted{_wtoi(argv[3]), L""};
    ::EnumChildWindows(window, TextOfId, reinterpret_cast<LPARAM>(&wanted));
    std::printf("%ls\n", wanted.second.c_str());
    return 0;
  }
  return 2;
}
