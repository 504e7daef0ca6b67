#include "base/window_title.h"

#include <cwctype>

namespace {

struct FindState {
  const std::wstring* title;
  std::wstring lowerTitle;
  HWND exact;
  HWND partial;
};

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

BOOL CALLBACK CompareTitle(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<FindState*>(param);
  if (!::IsWindowVisible(window)) return TRUE;
  wchar_t text[512];
  int length = ::GetWindowTextW(window, text, 512);
  std::wstring title(text, length > 0 ? length : 0);
  if (title.empty()) return TRUE;
  if (title == *state->title) {
    state->exact = window;
    return FALSE;
  }
  if (!state->partial && Lower(title).find(state->lowerTitle) != std::wstring::npos) state->partial = window;
  return TRUE;
}

}  // namespace

HWND FindWindowByTitle(const std::wstring& title) {
  if (title.empty()) return nullptr;
  FindState state{&title, Lower(title), nullptr, nullptr};
  ::EnumWindows(CompareTitle, reinterpret_cast<LPARAM>(&state));
  return state.exact ? state.exact : state.partial;
}

bool TitleContains(const std::wstring& title, const std::wstring& part) {
  return Lower(title).find(Lower(part)) != std::wstring::npos;
}

namespace {

BOOL CALLBACK ListWindow(HWND window, LPARAM data) {
  auto* windows = reinterpret_cast<std::vector<ListedWindow>*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  const int length = ::GetWindowTextLengthW(window);
  if (process == ::GetCurrentProcessId() || !::IsWindowVisible(window) || length <= 0) return TRUE;
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  title.resize(static_cast<size_t>(::GetWindowTextW(window, &title[0], length + 1)));
  if (!title.empty()) windows->push_back(ListedWindow{window, title});
  return TRUE;
}

}  // namespace

std::vector<ListedWindow> ListOtherWindows() {
  std::vector<ListedWindow> windows;
  ::EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}
