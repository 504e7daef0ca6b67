#pragma once
// The filter on its own allocator, as ffmpeg, OBS and VLC use it: its pin connected straight to
// a sink that brings no allocator and only counts the samples (no copy), so every sample is a
// buffer of the filter's own allocator. No graph and no clock; the filter's pacing is off.

#include <string>

#include "bench/filter_graph.h"
#include "bench/timed_loop.h"

namespace dorvantel {

CaseResult RunOwnAllocator(const std::string& name, const FilterOptions& options, const LoopTiming& timing,
                           const ServerClock& server);

}  // namespace dorvantel
