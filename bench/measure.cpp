#include "bench/measure.h"

#include <psapi.h>

#include <cstdio>

namespace dorvantel {

namespace {

double FileTimeSeconds(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 1e7;
}

}  // namespace

double WallSeconds() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ServerClock::CpuSeconds() const {
  if (pid_ == 0) return -1;
  char path[64];
  std::snprintf(path, sizeof(path), "Z:\\proc\\%lu\\stat", pid_);
  FILE* file = std::fopen(path, "rb");
  if (!file) return -1;
  char line[1024] = {};
  const size_t length = std::fread(line, 1, sizeof(line) - 1, file);
  std::fclose(file);
  line[length] = 0;
  // Fields after the command name, which is in parentheses: state is field 3, utime 14,
  // stime 15, in clock ticks of 1/100 s.
  const char* rest = nullptr;
  for (const char* p = line; *p; ++p) {
    if (*p == ')') rest = p + 1;
  }
  if (!rest) return -1;
  unsigned long long user = 0, system = 0;
  if (std::sscanf(rest, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2) return -1;
  return static_cast<double>(user + system) / 100.0;
}

Snapshot TakeSnapshot(const ServerClock& server) {
  Snapshot snapshot;
  FILETIME created, exited, kernel, user;
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    snapshot.cpuSeconds = FileTimeSeconds(kernel) + FileTimeSeconds(user);
  }
  snapshot.serverCpuSeconds = server.CpuSeconds();
  snapshot.wallSeconds = WallSeconds();
  return snapshot;
}

double PeakMegabytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

double SampledMean(const BYTE* pixels, size_t bytes) {
  if (!pixels || bytes == 0) return -1;
  unsigned long long sum = 0, count = 0;
  for (size_t i = 0; i < bytes; i += 61, ++count) sum += pixels[i];
  return static_cast<double>(sum) / static_cast<double>(count);
}

void PrintResult(const CaseResult& result) {
  const double wall = result.end.wallSeconds - result.begin.wallSeconds;
  const double cpu = result.end.cpuSeconds - result.begin.cpuSeconds;
  const bool serverKnown = result.begin.serverCpuSeconds >= 0 && result.end.serverCpuSeconds >= 0;
  const double server = serverKnown ? result.end.serverCpuSeconds - result.begin.serverCpuSeconds : -1;
  const double frames = static_cast<double>(result.frames);
  std::printf("case=%s ok=%d size=%ldx%ld frames=%llu seconds=%.3f fps=%.2f cpu_ms=%.3f xserver_ms=%.3f peak_mb=%.1f",
              result.name.c_str(), result.ok ? 1 : 0, static_cast<long>(result.width), static_cast<long>(result.height),
              static_cast<unsigned long long>(result.frames), wall, wall > 0 ? frames / wall : 0.0,
              frames > 0 ? 1000.0 * cpu / frames : 0.0, frames > 0 && serverKnown ? 1000.0 * server / frames : -1.0,
              result.peakMegabytes);
  std::printf(" mean_byte=%.1f", result.meanByte);
  if (!result.note.empty()) std::printf(" note=%s", result.note.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

void MeasuredWindow::Arm(double seconds, const ServerClock* server) {
  seconds_ = seconds;
  server_ = server;
  state_ = kArmed;
}

void MeasuredWindow::Count(IMediaSample* sample) {
  const uint64_t frame = ++frames_;
  switch (state_.load()) {
    case kArmed:
      window_.begin = TakeSnapshot(*server_);
      firstFrame_ = frame;
      state_ = kOpen;
      break;
    case kOpen: {
      if (WallSeconds() - window_.begin.wallSeconds < seconds_) break;
      window_.end = TakeSnapshot(*server_);
      window_.frames = frame - firstFrame_;
      BYTE* data = nullptr;
      if (SUCCEEDED(sample->GetPointer(&data))) {
        window_.meanByte = SampledMean(data, static_cast<size_t>(sample->GetSize()));
      }
      state_ = kClosed;
      ::SetEvent(done_.get());
      break;
    }
    default: break;
  }
}

bool MeasuredWindow::Wait(DWORD timeoutMs, CaseResult* result) {
  if (::WaitForSingleObject(done_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  result->frames = window_.frames;
  result->begin = window_.begin;
  result->end = window_.end;
  result->meanByte = window_.meanByte;
  return true;
}

}  // namespace dorvantel
