#include "tests/reliability/support/desktop_source.h"

#include "hostkit/source_settings.h"
#include "tests/support/test_graph.h"

using namespace dorvantel;

DesktopSource::DesktopSource(const LoadedLibrary& library) {
  if (FAILED(library.CreateFilter(&filter_)) || !filter_) return;
  filter_->FindPin(L"1", pin_.put());
  filter_.query(&bag_);
}

HRESULT DesktopSource::WriteLong(const wchar_t* name, LONG value) { return SourceSettings(filter()).WriteLong(name, value); }

HRESULT DesktopSource::WriteBool(const wchar_t* name, bool value) { return SourceSettings(filter()).WriteBool(name, value); }

HRESULT DesktopSource::WritePointer(const wchar_t* name, const void* value) {
  return SourceSettings(filter()).WritePointer(name, value);
}

HRESULT DesktopSource::CaptureScreenRect(const RECT& rect) {
  const HRESULT hr = WriteLong(L"CaptureArea", 1);
  if (FAILED(hr)) return hr;
  return WritePointer(L"CaptureValue", &rect);
}

HRESULT DesktopSource::ConnectTo(IPin* receiver, int formatPosition) {
  TaskMediaType type;
  const HRESULT hr = OfferedType(pin_.get(), formatPosition, &type);
  return SUCCEEDED(hr) ? pin_->Connect(receiver, type.get()) : hr;
}

HRESULT DesktopSource::DisconnectFrom(IPin* receiver) {
  const HRESULT hr = pin_->Disconnect();
  if (receiver) receiver->Disconnect();
  return hr;
}

void DesktopSource::Release() {
  bag_.reset();
  pin_.reset();
  filter_.reset();
}
