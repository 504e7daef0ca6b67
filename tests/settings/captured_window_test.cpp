#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "hostkit/apartment.h"
#include "hostkit/frame_format.h"
#include "hostkit/pins.h"
#include "preset/preset.h"
#include "hostkit/source_setup.h"
#include "hostkit/window_list.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

// A shown top-level window of this process with a title and a size of its own.
class TitledWindow {
 public:
  TitledWindow(const wchar_t* title, int width, int height)
      : window_(::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", title,
                                  WS_POPUP | WS_VISIBLE, 40, 40, width, height, nullptr, nullptr, nullptr, nullptr)) {}
  ~TitledWindow() { ::DestroyWindow(window_); }
  TitledWindow(const TitledWindow&) = delete;
  TitledWindow& operator=(const TitledWindow&) = delete;
  HWND handle() const { return window_; }

 private:
  HWND window_;
};

Preset WindowPreset(const std::wstring& title) {
  Preset preset;
  preset.target = CaptureTarget::Window;
  preset.windowTitle = title;
  return preset;
}

std::wstring SizeOf(HWND window) {
  RECT r{};
  if (!window || !::GetWindowRect(window, &r)) return L"no window";
  return std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top);
}

// The size of the frames a device of the preset makes: for a window, the size of the window
// the filter finds by the title when it loads the preset.
std::wstring FilterFrameSize(const SourceLibrary& library, const Preset& preset) {
  ComPtr<IBaseFilter> filter;
  ComPtr<IPin> pin;
  ComPtr<IAMStreamConfig> config;
  TaskMediaType type;
  FrameFormat format;
  HRESULT hr = library.CreateFilter(&filter);
  if (SUCCEEDED(hr)) hr = LoadPreset(filter.get(), preset);
  if (SUCCEEDED(hr)) hr = FindPin(filter.get(), PINDIR_OUTPUT, &pin);
  if (SUCCEEDED(hr)) hr = pin->QueryInterface(IID_IAMStreamConfig, config.put_void());
  if (SUCCEEDED(hr)) hr = config->GetFormat(type.put());
  if (SUCCEEDED(hr)) hr = FrameFormatFromMediaType(*type.get(), &format);
  if (FAILED(hr)) return L"failed " + std::to_wstring(hr);
  return std::to_wstring(format.width) + L"x" + std::to_wstring(format.height);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The window the settings program finds for a title (to draw a part of it) is the one a
// device of that title captures: the exact title where case differs, and none for no title.
TEST(SettingsCapturedWindow, IsTheWindowTheFilterCaptures) {
  ComApartment apartment(COINIT_APARTMENTTHREADED);
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  {
    // The exact title below one that differs only in case: a lookup that ignores case finds
    // the upper one first.
    TitledWindow exact(L"Dorvantel Title Probe", 200, 120);
    TitledWindow upper(L"DORVANTEL TITLE PROBE", 260, 150);
    TitledWindow exactLower(L"dorvantel title probe", 220, 130);
    for (const wchar_t* title : {L"Dorvantel Title Probe", L"DORVANTEL TITLE PROBE", L"dorvantel title probe",
                                 L"dORVANTEL tITLE pROBE", L"Title Probe"}) {
      const Preset preset = WindowPreset(title);
      EXPECT_EQ(FilterFrameSize(library, preset), SizeOf(FindCapturedWindow(preset))) << Narrow(title);
    }
    EXPECT_EQ(exact.handle(), FindCapturedWindow(WindowPreset(L"Dorvantel Title Probe")));

    // No title finds no window, as a title no window has.
    const Preset none = WindowPreset(L"");
    EXPECT_EQ(nullptr, FindCapturedWindow(none));
    EXPECT_EQ(FilterFrameSize(library, WindowPreset(L"No window has this title")), FilterFrameSize(library, none));
    for (HWND window : {exact.handle(), upper.handle(), exactLower.handle()}) {
      EXPECT_NE(SizeOf(window), FilterFrameSize(library, none));
    }
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
