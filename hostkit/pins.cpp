#include "hostkit/pins.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace dorvantel {

void FreeMediaTypeContents(AM_MEDIA_TYPE* type) noexcept {
  ::CoTaskMemFree(type->pbFormat);
  type->cbFormat = 0;
  type->pbFormat = nullptr;
  if (type->pUnk) type->pUnk->Release();
  type->pUnk = nullptr;
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* found) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.put());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION pinDirection;
    if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction) {
      *found = pin;
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT OfferedType(IPin* pin, int position, TaskMediaType* type) {
  ComPtr<IEnumMediaTypes> types;
  HRESULT hr = pin->EnumMediaTypes(types.put());
  if (FAILED(hr)) return hr;
  if (position > 0 && types->Skip(static_cast<ULONG>(position)) != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
  return types->Next(1, type->put(), nullptr) == S_OK && type->get() ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT ChooseCapability(IPin* pin, DWORD compression) {
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = pin->QueryInterface(IID_IAMStreamConfig, config.put_void());
  if (FAILED(hr)) return hr;
  TaskMediaType current;
  hr = config->GetFormat(current.put());
  if (FAILED(hr)) return hr;
  if (!current || current.get()->formattype != FORMAT_VideoInfo || !current.get()->pbFormat ||
      current.get()->cbFormat < sizeof(VIDEOINFOHEADER)) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  const auto* now = reinterpret_cast<const VIDEOINFOHEADER*>(current.get()->pbFormat);
  int count = 0, capsSize = 0;
  hr = config->GetNumberOfCapabilities(&count, &capsSize);
  if (FAILED(hr)) return hr;
  std::vector<BYTE> caps(static_cast<size_t>(std::max(capsSize, 1)));
  for (int i = 0; i < count; ++i) {
    TaskMediaType type;
    if (FAILED(config->GetStreamCaps(i, type.put(), caps.data())) || !type) continue;
    AM_MEDIA_TYPE* candidate = type.get();
    if (candidate->formattype != FORMAT_VideoInfo || !candidate->pbFormat ||
        candidate->cbFormat < sizeof(VIDEOINFOHEADER)) {
      continue;
    }
    auto* video = reinterpret_cast<VIDEOINFOHEADER*>(candidate->pbFormat);
    if (video->bmiHeader.biCompression != compression) continue;
    video->bmiHeader.biWidth = now->bmiHeader.biWidth;
    video->bmiHeader.biHeight = std::labs(now->bmiHeader.biHeight);
    video->AvgTimePerFrame = now->AvgTimePerFrame;
    return config->SetFormat(candidate);
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

}  // namespace dorvantel
