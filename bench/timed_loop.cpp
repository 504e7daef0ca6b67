#include "bench/timed_loop.h"

#include "base/handles.h"

namespace dorvantel {

namespace {

CaseResult RunHere(const std::string& name, const LoopTiming& timing, const ServerClock& server,
                   const std::function<bool()>& frame) {
  CaseResult result;
  result.name = name;
  const double start = WallSeconds();
  for (;;) {
    if (!frame()) {
      result.note = "frame-failed";
      return result;
    }
    if (WallSeconds() - start >= timing.warmupSeconds) break;
  }
  result.begin = TakeSnapshot(server);
  for (;;) {
    if (!frame()) {
      result.note = "frame-failed";
      return result;
    }
    ++result.frames;
    if (WallSeconds() - result.begin.wallSeconds >= timing.seconds) break;
  }
  result.end = TakeSnapshot(server);
  result.peakMegabytes = PeakMegabytes();
  result.ok = true;
  return result;
}

struct LoopThreadArguments {
  const std::string* name;
  const LoopTiming* timing;
  const ServerClock* server;
  const std::function<bool()>* frame;
  CaseResult result;
};

DWORD WINAPI LoopThread(void* parameter) {
  auto* arguments = static_cast<LoopThreadArguments*>(parameter);
  arguments->result = RunHere(*arguments->name, *arguments->timing, *arguments->server, *arguments->frame);
  return 0;
}

}  // namespace

CaseResult RunTimedLoop(const std::string& name, const LoopTiming& timing, const ServerClock& server,
                        const std::function<bool()>& frame) {
  if (!timing.onWorkerThread) return RunHere(name, timing, server, frame);
  LoopThreadArguments arguments{&name, &timing, &server, &frame, {}};
  ThreadHandle thread(::CreateThread(nullptr, 0, LoopThread, &arguments, 0, nullptr));
  if (!thread) {
    arguments.result.name = name;
    arguments.result.note = "no-thread";
    return arguments.result;
  }
  ::WaitForSingleObject(thread.get(), INFINITE);
  return arguments.result;
}

}  // namespace dorvantel
