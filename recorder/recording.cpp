#include "recorder/recording.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int64_t kUnitsPerSecond = 10000000;
}

Recording::Recording(int frame_rate, uint64_t frame_limit, bool stamps_paced)
    : interval_(kUnitsPerSecond / frame_rate),
      stamps_paced_(stamps_paced),
      done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      timeline_(kUnitsPerSecond / frame_rate, frame_limit) {
  ::QueryPerformanceFrequency(&frequency_);
  ::QueryPerformanceCounter(&start_);
}

Recording::~Recording() = default;

void Recording::Start(const FrameFormat& format, WriteFrame write) {
  SectionLockHolder hold(&lock_);
  format_ = format;
  write_ = std::move(write);
  last_frame_.assign(format.image_size, 0);
  ::QueryPerformanceCounter(&start_);
  started_ = true;
}

void Recording::Stop() {
  SectionLockHolder hold(&lock_);
  stopped_ = true;
}

int64_t Recording::Now() const {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const int64_t ticks = now.QuadPart - start_.QuadPart;
  // In two steps, so that the product cannot overflow.
  return ticks / frequency_.QuadPart * kUnitsPerSecond +
         ticks % frequency_.QuadPart * kUnitsPerSecond / frequency_.QuadPart;
}

double Recording::elapsed() const { return static_cast<double>(Now()) / kUnitsPerSecond; }

double Recording::delivery_rate() {
  SectionLockHolder hold(&lock_);
  const uint64_t frames = delivered_.load();
  if (frames < 2 || last_arrival_ <= first_arrival_) return 0;
  return static_cast<double>(frames - 1) * kUnitsPerSecond / static_cast<double>(last_arrival_ - first_arrival_);
}

void Recording::Fail(HRESULT hr) {
  HRESULT expected = S_OK;
  write_error_.compare_exchange_strong(expected, hr);
  stopped_ = true;
  ::SetEvent(done_.get());
}

HRESULT Recording::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
    *out = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT Recording::SampleCB(double, IMediaSample* sample) {
  const int64_t arrival = Now();
  SectionLockHolder hold(&lock_);
  if (!started_ || stopped_ || !sample) return S_OK;
  ++delivered_;

  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < static_cast<long>(format_.image_size)) {
    Fail(E_UNEXPECTED);
    return S_OK;
  }
  if (delivered_ == 1) first_arrival_ = arrival;
  last_arrival_ = arrival;
  // The recording's time starts with the first frame.
  int64_t presentation = arrival - first_arrival_;
  REFERENCE_TIME start = 0, end = 0;
  if (stamps_paced_ && SUCCEEDED(sample->GetTime(&start, &end))) {
    // The clock releases every frame some constant time after its stamp, give or take the
    // grab's jitter; the least delay seen is that constant. A frame delayed a whole
    // interval beyond it missed its slot and is placed by its arrival instead.
    const int64_t delay = arrival - start;
    if (delivered_ == 1 || delay < least_delay_) least_delay_ = delay;
    presentation = start + std::max<int64_t>(0, delay - least_delay_ - interval_);
  }

  const FrameTimeline::Placement placement = timeline_.Place(presentation);
  HRESULT hr = S_OK;
  for (uint64_t i = 0; i < placement.previous_copies && SUCCEEDED(hr); ++i) {
    hr = write_(last_frame_.data());
    if (SUCCEEDED(hr)) ++written_;
  }
  if (placement.copies > 0) std::memcpy(last_frame_.data(), data, format_.image_size);
  for (uint64_t i = 0; i < placement.copies && SUCCEEDED(hr); ++i) {
    hr = write_(last_frame_.data());
    if (SUCCEEDED(hr)) ++written_;
  }
  repeated_ = timeline_.repeated();
  if (FAILED(hr)) {
    Fail(hr);
  } else if (timeline_.full()) {
    stopped_ = true;
    ::SetEvent(done_.get());
  }
  return S_OK;
}

HRESULT Recording::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }
