#pragma once
// A source filter for tests: CSource with output pins that offer the desktop formats at a
// fixed frame size. Pins log what the filter asks of them and can be told to fail.

#include <windows.h>
#include <dshow.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "format/desktop_formats.h"
#include "format/output_pin.h"
#include "base/com_ptr.h"
#include "framework/source_filter.h"

// {A4E51B3C-6F0D-4C8E-9B2A-5D7E3F1C0A11}
const CLSID CLSID_TestSource = {0xa4e51b3c, 0x6f0d, 0x4c8e, {0x9b, 0x2a, 0x5d, 0x7e, 0x3f, 0x1c, 0x0a, 0x11}};

class TestSource;

class TestPin : public CBaseOutputPin {
 public:
  TestPin(TestSource* filter, FrameSize size, LPCWSTR name, std::vector<std::wstring>* log);
  ~TestPin() override;

  HRESULT VerifyMediaType(const AM_MEDIA_TYPE* type) override {
    if (type) {
      const auto* video = type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat
                              ? reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)
                              : nullptr;
      verified.push_back({type->subtype, video ? video->bmiHeader.biWidth : 0});
    }
    return VerifyDesktopMediaType(size_, type);
  }
  HRESULT MediaTypeAt(int position, MediaType* type) override {
    SectionLockHolder hold(Lock());
    // The desktop pin's own list: the formats beyond it are offered through IAMStreamConfig.
    if (position >= kPinFormatCount) return VFW_S_NO_MORE_ITEMS;
    return DesktopMediaTypeAt(size_, position, type);
  }
  HRESULT ApplyMediaType(const AM_MEDIA_TYPE* type) override {
    SectionLockHolder hold(Lock());
    const HRESULT hr = CBasePin::ApplyMediaType(type);
    if (FAILED(hr)) return hr;
    return ApplyDesktopMediaType(&ConnectionType());
  }
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (!allocator || !request) return E_POINTER;
    SectionLockHolder hold(Lock());
    return SizeDesktopBuffers(ConnectionType(), allocator, request);
  }
  HRESULT Activate() override {
    Log(L"activate");
    if (FAILED(activateResult)) return activateResult;
    return CBaseOutputPin::Activate();
  }
  HRESULT Deactivate() override {
    Log(L"deactivate");
    if (FAILED(deactivateResult)) return deactivateResult;
    return CBaseOutputPin::Deactivate();
  }
  HRESULT NotifyRunning(REFERENCE_TIME start) override {
    Log(L"run");
    return runResult;
  }
  HRESULT CreateOwnAllocator(IMemAllocator** allocator) override {
    ++ownAllocators;
    return CBaseOutputPin::CreateOwnAllocator(allocator);
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
    ++typeLists;
    return CBaseOutputPin::EnumMediaTypes(types);
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

  HRESULT activateResult = S_OK;
  HRESULT deactivateResult = S_OK;
  HRESULT runResult = S_OK;
  int ownAllocators = 0;
  int typeLists = 0;
  // Every type VerifyMediaType was asked about, in order.
  struct Verified {
    GUID subtype;
    LONG width;
  };
  std::vector<Verified> verified;

 private:
  void Log(const wchar_t* what) {
    if (log_) log_->push_back(std::wstring(Name() ? Name() : L"") + L" " + what);
  }

  TestSource* const source_;
  const FrameSize size_;
  std::vector<std::wstring>* const log_;
};

class TestSource : public CSource {
 public:
  // Made with a count of 0: Create hands out the first reference.
  TestSource(FrameSize size, int pins, std::vector<std::wstring>* log) : CSource(nullptr, CLSID_TestSource) {
    for (int i = 0; i < pins; ++i) {
      const std::wstring name = i == 0 ? L"Out" : L"Out" + std::to_wstring(i + 1);
      new TestPin(this, size, name.c_str(), log);
    }
  }

  static ComPtr<IBaseFilter> Create(FrameSize size, int pins = 1, std::vector<std::wstring>* log = nullptr) {
    ComPtr<IBaseFilter> filter;
    auto* source = new TestSource(size, pins, log);
    source->InnerQueryInterface(IID_IBaseFilter, filter.put_void());
    return filter;
  }
  static TestSource* From(IBaseFilter* filter) { return static_cast<TestSource*>(filter); }

  TestPin* Pin(int index) { return static_cast<TestPin*>(PinAt(index)); }

  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    ++pinLists;
    return CBaseFilter::EnumPins(pins);
  }
  // The filter's current reference count, read by adding and dropping one.
  ULONG References() {
    AddRef();
    return Release();
  }

  int pinLists = 0;
};

inline TestPin::TestPin(TestSource* filter, FrameSize size, LPCWSTR name, std::vector<std::wstring>* log)
    : CBaseOutputPin(filter, filter->StateLock(), name), source_(filter), size_(size), log_(log) {
  source_->AttachPin(this);
}

inline TestPin::~TestPin() {
  Log(L"destroyed");
  source_->DetachPin(this);
}

inline HRESULT STDMETHODCALLTYPE TestPin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  const int index = source_->PinIndexOf(this);
  if (index < 0) return VFW_E_NOT_FOUND;
  *id = static_cast<LPWSTR>(::CoTaskMemAlloc(12 * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  const std::wstring text = std::to_wstring(index + 1);
  std::wmemcpy(*id, text.c_str(), text.size() + 1);
  return S_OK;
}

// Frame size used where the size itself is not under test.
constexpr FrameSize kTestFrame = {320, 240};
