#pragma once
// Owners of the GDI and GDI+ resources that the frame grabber and the desktop capture use.

#include <windows.h>
#include <objidl.h>  // declares what gdiplus.h needs under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <utility>

#include "base/handles.h"

// A device context from CreateDC or CreateCompatibleDC; DeleteDC releases it.
struct CreatedDCTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type dc) noexcept { ::DeleteDC(dc); }
};
using CreatedDC = UniqueResource<CreatedDCTraits>;
using MemoryDC = UniqueResource<CreatedDCTraits>;

// A device context from GetDC; remembers its window (null: the whole screen) for ReleaseDC.
class WindowDC {
 public:
  WindowDC() noexcept = default;
  static WindowDC Get(HWND window) noexcept { return WindowDC(window, ::GetDC(window)); }
  ~WindowDC() { reset(); }

  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  WindowDC(WindowDC&& other) noexcept
      : window_(std::exchange(other.window_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDC& operator=(WindowDC&& other) noexcept {
    if (this != &other) {
      reset();
      window_ = std::exchange(other.window_, nullptr);
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }

  HDC get() const noexcept { return dc_; }
  HWND window() const noexcept { return window_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }
  void reset() noexcept {
    if (HDC dc = std::exchange(dc_, nullptr)) ::ReleaseDC(window_, dc);
    window_ = nullptr;
  }

 private:
  WindowDC(HWND window, HDC dc) noexcept : window_(window), dc_(dc) {}

  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// Selects an object into a device context for a scope and puts the previous one back.
// The guard must not outlive the object or the device context.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectedObject() { Restore(); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

  // False when the object could not be selected.
  explicit operator bool() const noexcept { return previous_ && previous_ != HGDI_ERROR; }

  // Puts the previous object back now; later calls do nothing.
  void Restore() noexcept {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A GDI+ session: GdiplusShutdown with the token that GdiplusStartup handed out.
struct GdiplusSessionTraits {
  using Type = ULONG_PTR;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type token) noexcept { Gdiplus::GdiplusShutdown(token); }
};
using GdiplusSession = UniqueResource<GdiplusSessionTraits>;

// Starts GDI+ version 1 with no debug callback, its background thread and codecs enabled.
// The status is not examined: a failed start leaves the session empty.
GdiplusSession StartGdiplusSession() noexcept;

// A GDI+ bitmap; GdipDisposeImage releases it.
struct GdiplusBitmapTraits {
  using Type = Gdiplus::GpBitmap*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type bitmap) noexcept { Gdiplus::DllExports::GdipDisposeImage(bitmap); }
};
using GdiplusBitmap = UniqueResource<GdiplusBitmapTraits>;

// A GDI+ graphics context; GdipDeleteGraphics releases it.
struct GdiplusGraphicsTraits {
  using Type = Gdiplus::GpGraphics*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type graphics) noexcept { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
};
using GdiplusGraphics = UniqueResource<GdiplusGraphicsTraits>;
