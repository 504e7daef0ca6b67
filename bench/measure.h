#pragma once
// What one benchmark case costs: frames, wall time and the process's CPU time over a
// measured window, the X server's CPU time over the same window when its process is known,
// and the process's peak memory.

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/handles.h"

namespace dorvantel {

// A point in time as the benchmark sees it: wall clock, CPU of this process (all its
// threads, user + system) and CPU of the X server.
struct Snapshot {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  double serverCpuSeconds = -1;  // negative: unknown
};

// Reads the X server's CPU time from the Linux process table through Wine's Z: drive;
// pid 0 reads nothing.
class ServerClock {
 public:
  explicit ServerClock(unsigned long pid) : pid_(pid) {}
  double CpuSeconds() const;

 private:
  unsigned long pid_;
};

Snapshot TakeSnapshot(const ServerClock& server);

// The wall clock alone, in seconds; cheap enough to read every frame.
double WallSeconds();

struct CaseResult {
  std::string name;
  uint64_t frames = 0;
  Snapshot begin;
  Snapshot end;
  double peakMegabytes = 0;
  LONG width = 0;  // of the frames produced
  LONG height = 0;
  double meanByte = -1;  // of the last frame's bytes, sampled: 0 for a black frame; negative: unknown
  bool ok = false;
  std::string note;  // why a case failed, or what it measured
};

// The process's peak working set so far, in MiB.
double PeakMegabytes();

// The mean of every 61st byte of a frame (a prime stride, so that no colour channel or
// padding byte is favoured): a cheap check that frames are not black.
double SampledMean(const BYTE* pixels, size_t bytes);

// One line of key=value fields on stdout: the record that scripts/bench.sh collects.
void PrintResult(const CaseResult& result);

// The measured window of a case, counted on the streaming thread. Once armed, it opens at the
// next sample and closes at the first sample after the window's length, taking both snapshots
// there, so that the window holds whole frames and the waiting thread need not poll.
class MeasuredWindow {
 public:
  MeasuredWindow() : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  MeasuredWindow(const MeasuredWindow&) = delete;
  MeasuredWindow& operator=(const MeasuredWindow&) = delete;

  void Arm(double seconds, const ServerClock* server);
  // Each sample the sink receives, on the streaming thread.
  void Count(IMediaSample* sample);
  // The closed window's frames, snapshots and last frame's mean byte; false when it did not
  // close in time.
  bool Wait(DWORD timeoutMs, CaseResult* result);

 private:
  enum State { kIdle, kArmed, kOpen, kClosed };
  std::atomic<uint64_t> frames_{0};
  std::atomic<int> state_{kIdle};
  double seconds_ = 0;
  const ServerClock* server_ = nullptr;
  uint64_t firstFrame_ = 0;
  CaseResult window_;  // written by the streaming thread until it signals done_
  EventHandle done_;
};

}  // namespace dorvantel
