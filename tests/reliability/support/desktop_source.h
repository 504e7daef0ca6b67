#pragma once
// The library's filter as a host holds it: IBaseFilter, its one pin and its property bag,
// created through the built library's class factory. Release drops every reference.

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "base/com_ptr.h"
#include "hostkit/pins.h"
#include "tests/support/library.h"

class DesktopSource {
 public:
  explicit DesktopSource(const LoadedLibrary& library);
  DesktopSource(const DesktopSource&) = delete;
  DesktopSource& operator=(const DesktopSource&) = delete;

  bool valid() const { return filter_ && pin_ && bag_; }
  IBaseFilter* filter() const { return filter_.get(); }
  IPin* pin() const { return pin_.get(); }
  IPropertyBag* bag() const { return bag_.get(); }

  HRESULT WriteLong(const wchar_t* name, LONG value);
  HRESULT WriteBool(const wchar_t* name, bool value);
  HRESULT WritePointer(const wchar_t* name, const void* value);
  // Captures the screen rectangle (area 1).
  HRESULT CaptureScreenRect(const RECT& rect);

  // Connects the pin to receiver with the pin's own format at position (0-4).
  HRESULT ConnectTo(IPin* receiver, int formatPosition);
  // Disconnects both ends.
  HRESULT DisconnectFrom(IPin* receiver);

  void Release();

 private:
  ComPtr<IBaseFilter> filter_;
  ComPtr<IPin> pin_;
  ComPtr<IPropertyBag> bag_;
};
