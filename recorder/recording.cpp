#include "recorder/recording.h"

#include <algorithm>
#include <cstring>

namespace dorvantel {

namespace {
constexpr int64_t kUnitsPerSecond = 10000000;
}

Recording::Recording(int frameRate, uint64_t frameLimit, bool stampsPaced)
    : interval_(kUnitsPerSecond / frameRate),
      stampsPaced_(stampsPaced),
      done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      timeline_(kUnitsPerSecond / frameRate, frameLimit) {
  ::QueryPerformanceFrequency(&frequency_);
  ::QueryPerformanceCounter(&start_);
}

Recording::~Recording() = default;

void Recording::Start(const FrameFormat& format, WriteFrame write) {
  SectionLockHolder hold(&lock_);
  format_ = format;
  write_ = std::move(write);
  lastFrame_.assign(format.imageSize, 0);
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

double Recording::deliveryRate() {
  SectionLockHolder hold(&lock_);
  const uint64_t frames = delivered_.load();
  if (frames < 2 || lastArrival_ <= firstArrival_) return 0;
  return static_cast<double>(frames - 1) * kUnitsPerSecond / static_cast<double>(lastArrival_ - firstArrival_);
}

void Recording::Fail(HRESULT hr) {
  HRESULT expected = S_OK;
  writeError_.compare_exchange_strong(expected, hr);
  stopped_ = true;
  ::SetEvent(done_.get());
}

HRESULT Recording::SampleCB(double, IMediaSample* sample) {
  const int64_t arrival = Now();
  SectionLockHolder hold(&lock_);
  if (!started_ || stopped_ || !sample) return S_OK;
  ++delivered_;

  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < static_cast<long>(format_.imageSize)) {
    Fail(E_UNEXPECTED);
    return S_OK;
  }
  if (delivered_ == 1) firstArrival_ = arrival;
  lastArrival_ = arrival;
  // The recording's time starts with the first frame.
  int64_t presentation = arrival - firstArrival_;
  REFERENCE_TIME start = 0, end = 0;
  if (stampsPaced_ && SUCCEEDED(sample->GetTime(&start, &end))) {
    // The clock releases every frame some constant time after its stamp, give or take the
    // grab's jitter; the least delay seen is that constant. A frame delayed a whole
    // interval beyond it missed its slot and is placed by its arrival instead.
    const int64_t delay = arrival - start;
    if (delivered_ == 1 || delay < leastDelay_) leastDelay_ = delay;
    presentation = start + std::max<int64_t>(0, delay - leastDelay_ - interval_);
  }

  const FrameTimeline::Placement placement = timeline_.Place(presentation);
  HRESULT hr = S_OK;
  for (uint64_t i = 0; i < placement.previousCopies && SUCCEEDED(hr); ++i) {
    hr = write_(lastFrame_.data());
    if (SUCCEEDED(hr)) ++written_;
  }
  if (placement.copies > 0) std::memcpy(lastFrame_.data(), data, format_.imageSize);
  for (uint64_t i = 0; i < placement.copies && SUCCEEDED(hr); ++i) {
    hr = write_(lastFrame_.data());
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

}  // namespace dorvantel
