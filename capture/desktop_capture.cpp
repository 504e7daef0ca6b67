#include "capture/desktop_capture.h"

#include <new>
#include <string>

#include "base/dpi_awareness.h"
#include "base/window_title.h"

namespace {

bool IsScreenArea(LONG area) {
  return area == kAreaDisplay || area == kAreaScreenRectangle || area == kAreaMonitor || area == kAreaDesktop;
}
bool IsWindowArea(LONG area) { return area == kAreaWindow || area == kAreaWindowRectangle; }
bool IsLayoutArea(LONG area) { return area == kAreaMonitor || area == kAreaDesktop; }

// A layout read this long ago is read again at the next grab, even when the desktop's bounds
// stayed the same (a monitor switched off or moved inside them).
constexpr ULONGLONG kLayoutAge = 500;  // milliseconds

// What a grab of a missing monitor copies from: nothing.
const MonitorLayout kNoMonitors;

}  // namespace

DesktopCapture::DesktopCapture() noexcept {
  PhysicalPixels physical;
  OpenDeviceContexts();
  CaptureWholeDisplay();
  gdiplus_ = StartGdiplusSession();
}

void DesktopCapture::CaptureWholeDisplay() noexcept {
  settings_.CaptureRect.Set(0, 0, ::GetDeviceCaps(ScreenDC(), HORZRES), ::GetDeviceCaps(ScreenDC(), VERTRES));
}

void DesktopCapture::ResetSettings() noexcept {
  PhysicalPixels physical;
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
  const RECT bounds = WindowRectOnScreen(window);  // its size as the screen shows it
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
  PhysicalPixels physical;
  SectionLockHolder hold(&captureLock_);
  if (area == settings_.CaptureArea) return S_OK;
  CloseDeviceContexts();
  settings_.CaptureArea = area;
  OpenDeviceContexts();
  TakeLayout();
  return S_OK;
}

HRESULT DesktopCapture::SelectMonitor(LONG number) noexcept {
  if (number < SourceLimits::kMinMonitor || number > SourceLimits::kMaxMonitor) return E_INVALIDARG;
  PhysicalPixels physical;
  SectionLockHolder hold(&captureLock_);
  settings_.CaptureMonitor = number;
  TakeLayout();
  return S_OK;
}

void DesktopCapture::TakeLayout(std::optional<::FrameSize> keepSize) noexcept {
  PhysicalPixels physical;
  SectionLockHolder hold(&captureLock_);
  CaptureSettings& s = settings_;
  if (!IsLayoutArea(s.CaptureArea)) return;
  MonitorLayout layout;
  layout.Read();
  RECT rect = layout.Bounds();
  s.MonitorMissing = false;
  if (s.CaptureArea == kAreaMonitor) {
    if (const Monitor* monitor = layout.Find(s.CaptureMonitor)) {
      rect = monitor->rect;
    } else {
      // Black frames of a sensible size: the primary monitor's.
      s.MonitorMissing = true;
      const Monitor* primary = layout.Find(1);
      rect = primary ? primary->rect : RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
  }
  if (::IsRectEmpty(&rect)) return;  // no layout to take: the rectangle stays
  if (keepSize && !s.OutputSize) {
    rect.right = rect.left + keepSize->width;
    rect.bottom = rect.top + keepSize->height;
  }
  s.CaptureRect.Set(rect.left, rect.top, rect.right, rect.bottom);
}

const MonitorLayout& DesktopCapture::CurrentLayout() noexcept {
  RECT bounds = {};
  ::GetClipBox(ScreenDC(), &bounds);
  const ULONGLONG now = ::GetTickCount64();
  if (layoutRead_ == 0 || now - layoutRead_ >= kLayoutAge || !::EqualRect(&bounds, &layoutBounds_)) {
    layout_.Read();
    layoutBounds_ = bounds;
    layoutRead_ = now;
  }
  return layout_;
}

HRESULT DesktopCapture::Grab(BYTE* destination, size_t destinationBytes, BITMAPINFO* info, size_t infoBytes,
                             HBITMAP destinationSection) noexcept {
  PhysicalPixels physical;
  SectionLockHolder hold(&captureLock_);
  if (!ScreenDC() || !MemoryDC()) return S_FALSE;
  const CaptureSettings& s = settings_;
  GrabRequest request;
  request.source = ScreenDC();
  request.memory = MemoryDC();
  request.rectangle = s.CaptureRect.Corners();
  request.outputSize = s.OutputSize;
  // Frames of another size than the destination's (settings written while the pin stays
  // connected at its size) are scaled into it, rather than not sent until the sizes agree.
  if (info && infoBytes >= sizeof(BITMAPINFOHEADER)) {
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const ::FrameSize target{header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight};
    const ::FrameSize produced = s.OutputSize.value_or(::FrameSize{s.CaptureRect.width, s.CaptureRect.height});
    if (target.width > 0 && target.height > 0 &&
        (produced.width != target.width || produced.height != target.height)) {
      request.outputSize = target;
    }
  }
  request.destination = destination;
  request.destinationBytes = destinationBytes;
  request.destinationSection = destinationSection;
  request.info = info;
  request.infoBytes = infoBytes;
  request.drawCursor = s.IncludeCursor;
  request.includeLayeredWindows = s.CaptureTransparentWindows;
  request.interpolation = s.InterpolationMode;
  request.window = IsWindowArea(s.CaptureArea) ? s.CaptureWindow : nullptr;
  if (IsScreenArea(s.CaptureArea)) {
    const bool missing = s.CaptureArea == kAreaMonitor && s.MonitorMissing;
    request.monitors = missing ? &kNoMonitors : &CurrentLayout();
    // A platform that lists no monitor: whatever the screen gives.
    if (!missing && request.monitors->Count() == 0) request.monitors = nullptr;
  }
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
  if (!IsScreenArea(settings_.CaptureArea) && !IsWindowArea(settings_.CaptureArea)) return;
  screen_ = WindowDC::Get(nullptr);
  memory_.reset(::CreateCompatibleDC(ScreenDC()));
  layoutRead_ = 0;
}

void DesktopCapture::CloseDeviceContexts() noexcept {
  surfaces_.Release();
  screen_.reset();
  memory_.reset();
}
