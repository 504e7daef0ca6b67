#pragma once
// The library as a host uses it: the built DLL loaded by its path, its filter in Wine's
// filter graph, connected in one of its formats to a Sample Grabber that only counts the
// samples (no copy) and on to a Null Renderer. The graph has no clock and the filter's own
// frame pacing is off, so nothing paces the source. Owns the loaded library, the graph and its
// filters; the library is released last.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <optional>
#include <string>

#include "bench/layouts.h"
#include "bench/timed_loop.h"
#include "format/frame_size.h"
#include "base/com_ptr.h"
#include "module/dorvantel.h"
#include "hostkit/grabber_graph.h"
#include "hostkit/source_library.h"

namespace dorvantel {

struct FilterOptions {
  const Layout* layout = nullptr;
  bool cursor = false;
  std::optional<FrameSize> output;
  LONG interpolation = 0;
  LONG area = kAreaDisplay;  // kAreaMonitor (with monitor) or kAreaDesktop: what is captured
  LONG monitor = 1;
};

// Writes a case's options into the filter, with its frame pacing off.
HRESULT WriteFilterOptions(IBaseFilter* filter, const FilterOptions& options);

class FilterGraphCase {
 public:
  FilterGraphCase();
  ~FilterGraphCase();
  FilterGraphCase(const FilterGraphCase&) = delete;
  FilterGraphCase& operator=(const FilterGraphCase&) = delete;

  // Creates the filter, writes its settings and connects the graph; *step names what failed.
  HRESULT Build(const FilterOptions& options, std::string* step);
  // Runs the graph, counts the frames of the measured window, stops it.
  CaseResult Measure(const std::string& name, const LoopTiming& timing, const ServerClock& server);

 private:
  class Counter;

  HRESULT CreateSource();
  // Connects in the format at position and checks that it stayed the one connected.
  HRESULT Connect(int position, WORD bitCount);

  SourceLibrary library_;  // declared first: released after every object it made
  ComPtr<IBaseFilter> source_;
  GrabberGraph graph_;
  Counter* counter_ = nullptr;
  LONG width_ = 0;  // of the connected format
  LONG height_ = 0;
};

}  // namespace dorvantel
