#include "settings/preview.h"

#include <algorithm>

#include "hostkit/result_text.h"
#include "hostkit/source_settings.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

// A read-only property bag of a preset's values, as the device's registry key hands them to
// the filter: numbers as VT_I4, the rest as BSTRs; a key it does not hold is not stored.
// Lives on the caller's stack for the one Load call.
class PresetBag : public IPropertyBag {
 public:
  explicit PresetBag(const std::vector<PresetValue>& values) : values_(values) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IPropertyBag) return E_NOINTERFACE;
    *out = static_cast<IPropertyBag*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    for (const PresetValue& stored : values_) {
      if (_wcsicmp(stored.key.c_str(), name) != 0) continue;
      ::VariantInit(value);
      if (!stored.isText) {
        value->vt = VT_I4;
        value->lVal = stored.number;
        return S_OK;
      }
      value->bstrVal = ::SysAllocString(stored.text.c_str());
      if (!value->bstrVal) return E_OUTOFMEMORY;
      value->vt = VT_BSTR;
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  const std::vector<PresetValue>& values_;
};

}  // namespace

HRESULT Preview::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_ISampleGrabberCB) return E_NOINTERFACE;
  *out = static_cast<ISampleGrabberCB*>(this);
  return S_OK;
}

HRESULT Preview::Start(const std::vector<PresetValue>& values, int rate, HWND window, UINT message,
                       std::wstring* error) {
  Stop();
  if (!library_.loaded()) {
    HRESULT hr = library_.Load(ProgramFolder() + DORVANTEL_DLL_NAME, error);
    if (FAILED(hr)) return hr;
  }
  ComPtr<IBaseFilter> source;
  HRESULT hr = library_.CreateFilter(&source);
  if (FAILED(hr)) {
    *error = L"cannot create the filter: " + ResultText(hr);
    return hr;
  }
  // Exactly what binding the device does with the stored values.
  ComPtr<IPersistPropertyBag> persist;
  hr = source.query(&persist);
  PresetBag bag(values);
  if (SUCCEEDED(hr)) hr = persist->Load(&bag, nullptr);
  if (FAILED(hr)) {
    *error = L"the filter refuses these settings: " + ResultText(hr);
    return hr;
  }
  // Only the pace differs from what hosts get: a few frames a second are enough to see.
  int storedRate = 10;
  SourceSettings settings(source.get());
  settings.ReadFrameRate(&storedRate);
  settings.WriteLong(SourceProperty::FrameRate, std::min(storedRate, rate));

  window_ = window;
  message_ = message;
  posted_ = false;
  hr = graph_.Build(source.get(), std::nullopt, true, this, error);
  FrameFormat format;
  if (SUCCEEDED(hr)) hr = graph_.ConnectedFormat(&format);
  if (SUCCEEDED(hr)) {
    SectionLockHolder hold(&lock_);
    format_ = format;
    frame_.clear();
  }
  if (SUCCEEDED(hr)) {
    hr = graph_.Run();
    if (FAILED(hr)) *error = L"the filter cannot start: " + ResultText(hr);
  }
  if (FAILED(hr)) {
    graph_.Release();
    return hr;
  }
  running_ = true;
  return S_OK;
}

void Preview::Stop() {
  if (running_) graph_.Stop();
  graph_.Release();
  running_ = false;
  SectionLockHolder hold(&lock_);
  frame_.clear();
}

HRESULT Preview::SampleCB(double time, IMediaSample* sample) {
  BYTE* buffer = nullptr;
  if (!sample || FAILED(sample->GetPointer(&buffer))) return S_OK;
  return BufferCB(time, buffer, sample->GetActualDataLength());
}

HRESULT Preview::BufferCB(double, BYTE* buffer, long length) {
  {
    SectionLockHolder hold(&lock_);
    if (!buffer || length < static_cast<long>(format_.imageSize) || format_.imageSize == 0) return S_OK;
    frame_.assign(buffer, buffer + format_.imageSize);
  }
  ++frames_;
  if (!posted_.exchange(true)) ::PostMessageW(window_, message_, 0, 0);
  return S_OK;
}

bool Preview::Paint(HDC dc, const RECT& area, std::wstring* size) {
  SectionLockHolder hold(&lock_);
  if (frame_.empty() || format_.width <= 0 || format_.height <= 0) return false;
  *size = std::to_wstring(format_.width) + L"x" + std::to_wstring(format_.height) + L" " +
          DescribePixelFormat(format_.pixels).name;
  // The header and the colour table (or the 5-6-5 masks) that StretchDIBits reads.
  std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = format_.width;
  header->biHeight = format_.height;
  header->biPlanes = 1;
  header->biBitCount = static_cast<WORD>(format_.bits);
  header->biCompression = BI_RGB;
  if (format_.pixels == PixelFormat::Rgb565) {
    header->biCompression = BI_BITFIELDS;
    format_.BitMasks(reinterpret_cast<DWORD*>(header + 1));
  } else if (format_.pixels == PixelFormat::Rgb8) {
    header->biClrUsed = static_cast<DWORD>(format_.palette.size());
    std::copy(format_.palette.begin(), format_.palette.end(), reinterpret_cast<RGBQUAD*>(header + 1));
  }
  const int areaWidth = area.right - area.left, areaHeight = area.bottom - area.top;
  int width = areaWidth, height = static_cast<int>(static_cast<long long>(areaWidth) * format_.height / format_.width);
  if (height > areaHeight) {
    height = areaHeight;
    width = static_cast<int>(static_cast<long long>(areaHeight) * format_.width / format_.height);
  }
  width = std::max(width, 1);
  height = std::max(height, 1);
  const int left = area.left + (areaWidth - width) / 2, top = area.top + (areaHeight - height) / 2;
  ::SetStretchBltMode(dc, HALFTONE);
  ::SetBrushOrgEx(dc, 0, 0, nullptr);
  ::StretchDIBits(dc, left, top, width, height, 0, 0, format_.width, format_.height, frame_.data(),
                  reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, SRCCOPY);
  return true;
}

}  // namespace dorvantel
