#include "settings/preview.h"

#include <algorithm>
#include <utility>

#include "hostkit/apartment.h"

#include "hostkit/result_text.h"
#include "hostkit/source_settings.h"
#include "hostkit/source_setup.h"
#include "module/dorvantel.h"

namespace dorvantel {

Preview::~Preview() { Quit(INFINITE); }

bool Preview::Quit(DWORD waitMs) {
  if (!thread_) return true;
  Give(Order::Quit);
  if (::WaitForSingleObject(thread_.get(), waitMs) != WAIT_OBJECT_0) return false;
  thread_.reset();
  return true;
}

HRESULT Preview::Show(const Preset& preset, int rate, HWND window, UINT frameMessage, UINT startedMessage) {
  {
    SectionLockHolder hold(&orderLock_);
    preset_ = preset;
    rate_ = rate;
    orderWindow_ = window;
    frameMessage_ = frameMessage;
    startedMessage_ = startedMessage;
  }
  return Give(Order::Show);
}

void Preview::Stop() {
  if (thread_) Give(Order::Stop);
  SectionLockHolder hold(&lock_);
  frame_.clear();
}

Preview::Start Preview::Started(std::wstring* error) {
  SectionLockHolder hold(&orderLock_);
  *error = outcomeError_;
  if (outcomeOf_ != orders_) return Start::Stale;
  return SUCCEEDED(outcome_) ? Start::Running : Start::Failed;
}

HRESULT Preview::Give(Order order) {
  if (!thread_) {
    wake_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!wake_) return HRESULT_FROM_WIN32(::GetLastError());
    thread_.reset(::CreateThread(nullptr, 0, Serve, this, 0, nullptr));
    if (!thread_) return HRESULT_FROM_WIN32(::GetLastError());
  }
  {
    SectionLockHolder hold(&orderLock_);
    if (order_ != Order::Quit) order_ = order;  // a later order replaces one not yet taken
    ++orders_;
  }
  ::SetEvent(wake_.get());
  return S_OK;
}

DWORD WINAPI Preview::Serve(void* self) {
  auto* preview = static_cast<Preview*>(self);
  ComApartment apartment;
  for (;;) {
    ::WaitForSingleObject(preview->wake_.get(), INFINITE);
    Order order;
    Preset preset;
    int rate;
    HWND window;
    UINT startedMessage, frameMessage;
    unsigned orderNumber;
    {
      SectionLockHolder hold(&preview->orderLock_);
      order = std::exchange(preview->order_, Order::None);
      preset = preview->preset_;
      rate = preview->rate_;
      window = preview->orderWindow_;
      startedMessage = preview->startedMessage_;
      frameMessage = preview->frameMessage_;
      orderNumber = preview->orders_;
    }
    if (order == Order::None) continue;
    preview->StopGraph();
    if (order == Order::Quit) return 0;
    if (order == Order::Stop) continue;
    // No graph runs now: the streaming thread reads these once the new one runs.
    preview->window_ = window;
    preview->message_ = frameMessage;
    std::wstring error;
    const HRESULT hr = apartment.joined() ? preview->StartGraph(preset, rate, &error) : apartment.result();
    if (!apartment.joined()) error = L"cannot start COM: " + ResultText(hr);
    {
      SectionLockHolder hold(&preview->orderLock_);
      preview->outcomeOf_ = orderNumber;
      preview->outcome_ = hr;
      preview->outcomeError_ = error;
    }
    ::PostMessageW(window, startedMessage, 0, 0);
  }
}

HRESULT Preview::StartGraph(const Preset& preset, int rate, std::wstring* error) {
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
  // Exactly what binding the device does with the stored values, but for a YUV format: the
  // preview draws its frames with GDI, so it takes the source's first format, RGB32, then.
  Preset shown = preset;
  std::optional<PixelFormat> hostsFormat;
  if (shown.format && DescribePixelFormat(*shown.format).yuv) hostsFormat = std::exchange(shown.format, std::nullopt);
  hr = LoadPreset(source.get(), shown);
  if (FAILED(hr)) {
    *error = L"the filter refuses these settings: " + ResultText(hr);
    return hr;
  }
  // Only the pace differs from what hosts get: a few frames a second are enough to see.
  int storedRate = kDefaultFrameRate;
  SourceSettings settings(source.get());
  settings.ReadFrameRate(&storedRate);
  settings.WriteLong(SourceProperty::FrameRate, std::min(storedRate, rate));

  posted_ = false;
  hr = graph_.Build(source.get(), std::nullopt, true, this, error);
  FrameFormat format;
  if (SUCCEEDED(hr)) hr = graph_.ConnectedFormat(&format);
  if (SUCCEEDED(hr)) {
    SectionLockHolder hold(&lock_);
    format_ = format;
    hostsFormat_ = hostsFormat;
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

void Preview::StopGraph() {
  if (running_) graph_.Stop();
  graph_.Release();
  running_ = false;
  SectionLockHolder hold(&lock_);
  frame_.clear();
}

HRESULT Preview::SampleCB(double, IMediaSample* sample) {
  BYTE* buffer = nullptr;
  if (!sample || FAILED(sample->GetPointer(&buffer))) return S_OK;
  const long length = sample->GetActualDataLength();
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
  *size = std::to_wstring(format_.width) + L"x" + std::to_wstring(format_.height) + L" ";
  if (hostsFormat_) {
    *size += DescribePixelFormat(*hostsFormat_).name + std::wstring(L" (previewed in ") +
             DescribePixelFormat(format_.pixels).name + L")";
  } else {
    *size += DescribePixelFormat(format_.pixels).name;
  }
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
