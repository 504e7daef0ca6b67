#pragma once
// Runs one frame's work over and over on the calling thread: first for a warm-up, then for
// the measured window, and reports frames, times and peak memory.

#include <functional>
#include <string>

#include "bench/measure.h"

namespace dorvantel {

struct LoopTiming {
  double warmupSeconds = 0.3;
  double seconds = 2.0;
  // Runs the loop on a thread of its own, as the filter's worker runs its grabs, instead of
  // the calling thread.
  bool onWorkerThread = false;
};

// frame() does one frame's work and returns false to stop the case as failed.
CaseResult RunTimedLoop(const std::string& name, const LoopTiming& timing, const ServerClock& server,
                        const std::function<bool()>& frame);

}  // namespace dorvantel
