#include "capture/desktop_capture.h"

#include <new>
#include <string>

#include "base/window_title.h"

namespace {

bool IsScreenArea(LONG area) { return area == kAreaDisplay || area == kAreaScreenRectangle; }
bool IsWindowArea(LONG area) { return area == kAreaWindow || area == kAreaWindowRectangle; }

}  // namespace

DesktopCapture::DesktopCapture() noexcept {
  OpenDeviceContexts();
  CaptureWholeDisplay();
  gdiplus_ = StartGdiplusSession();
}

void DesktopCapture::CaptureWholeDisplay() noexcept {
  settings_.CaptureRect.Set(0, 0, ::GetDeviceCaps(ScreenDC(), HORZRES), ::GetDeviceCaps(ScreenDC(), VERTRES));
}

void DesktopCapture::ResetSettings() noexcept {
  SectionLockHolder hold(&captureLock_);
  SwitchCaptureArea(kAreaDisplay);
  settings_ = CaptureSettings{};
  CaptureWholeDisplay();
}

HRESULT DesktopCapture::FindTitledWindow(bool resize) noexcept {
  std::wstring title;
  {
    SectionLockHolder hold(&captureLock_);
    if (!IsWindowArea(settings_.CaptureArea) || settings_.WindowTitle.empty()) return S_OK;
    try {
      title = settings_.WindowTitle;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  // Looked up without the lock: reading the titles of this process's windows sends them
  // messages.
  const HWND window = FindWindowByTitle(title);
  if (!window) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  RECT bounds{};
  ::GetWindowRect(window, &bounds);
  SectionLockHolder hold(&captureLock_);
  if (settings_.WindowTitle != title) return S_OK;  // written anew meanwhile
  settings_.CaptureWindow = window;
  if (resize && settings_.WholeWindow) settings_.CaptureRect.Set(0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top);
  return S_OK;
}

DesktopCapture::~DesktopCapture() {
  CloseDeviceContexts();
  gdiplus_.reset();
}

FrameSize DesktopCapture::FrameSize() noexcept {
  SectionLockHolder hold(&captureLock_);
  return settings_.FrameSize();
}

HRESULT DesktopCapture::SwitchCaptureArea(LONG area) noexcept {
  if (!IsScreenArea(area) && !IsWindowArea(area)) return E_INVALIDARG;
  SectionLockHolder hold(&captureLock_);
  if (area == settings_.CaptureArea) return S_OK;
  CloseDeviceContexts();
  settings_.CaptureArea = area;
  OpenDeviceContexts();
  return S_OK;
}

HRESULT DesktopCapture::Grab(BYTE* destination, size_t destinationBytes, BITMAPINFO* info, size_t infoBytes,
                             HBITMAP destinationSection) noexcept {
  SectionLockHolder hold(&captureLock_);
  if (!ScreenDC() || !MemoryDC()) return S_FALSE;
  const CaptureSettings& s = settings_;
  GrabRequest request;
  request.source = ScreenDC();
  request.memory = MemoryDC();
  request.rectangle = s.CaptureRect.Corners();
  request.outputSize = s.OutputSize;
  request.destination = destination;
  request.destinationBytes = destinationBytes;
  request.destinationSection = destinationSection;
  request.info = info;
  request.infoBytes = infoBytes;
  request.drawCursor = s.IncludeCursor;
  request.includeLayeredWindows = s.CaptureTransparentWindows;
  request.interpolation = s.InterpolationMode;
  request.window = IsWindowArea(s.CaptureArea) ? s.CaptureWindow : nullptr;
  if (request.window && !::IsWindow(request.window)) return kCaptureWindowGone;
  const bool written = GrabFrame(request, surfaces_);
  if (request.window && !::IsWindow(request.window)) return kCaptureWindowGone;
  return written ? S_OK : S_FALSE;
}

void DesktopCapture::ReleaseSurfaces() noexcept {
  SectionLockHolder hold(&captureLock_);
  surfaces_.Release();
}

void DesktopCapture::OpenDeviceContexts() noexcept {
  if (IsScreenArea(settings_.CaptureArea)) {
    display_.reset(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  } else if (IsWindowArea(settings_.CaptureArea)) {
    screen_ = WindowDC::Get(nullptr);
  } else {
    return;
  }
  memory_.reset(::CreateCompatibleDC(ScreenDC()));
}

void DesktopCapture::CloseDeviceContexts() noexcept {
  surfaces_.Release();
  display_.reset();
  screen_.reset();
  memory_.reset();
}
