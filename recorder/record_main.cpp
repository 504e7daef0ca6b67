// dorvantel-record: records the desktop through the desktop source into an AVI file, or
// as raw frames on standard output for an encoder.

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/window_title.h"
#include "hostkit/apartment.h"
#include "hostkit/devices.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "hostkit/source_settings.h"
#include "module/dorvantel.h"
#include "recorder/avi_writer.h"
#include "hostkit/capture_graph.h"
#include "hostkit/console.h"
#include "hostkit/monitor_list.h"
#include "hostkit/demo_window.h"
#include "hostkit/source_setup.h"
#include "hostkit/device_registration.h"
#include "hostkit/options.h"
#include "recorder/raw_writer.h"
#include "recorder/recording.h"
#include "recorder/recovery.h"

namespace dorvantel {

namespace {

constexpr wchar_t kProgram[] = L"dorvantel-record";
// Exit statuses: 0 recorded as asked (or until Ctrl-C), 1 failed with nothing recorded,
// 2 bad options, 3 stopped early with what was recorded kept.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStoppedEarly = 3;
// How long the recorder waits for frames beyond the recording's own length.
constexpr double kStallSeconds = 10.0;

std::wstring Format(const wchar_t* pattern, ...) {
  wchar_t text[512];
  va_list args;
  va_start(args, pattern);
  std::vswprintf(text, 512, pattern, args);
  va_end(args);
  return text;
}

std::wstring Megabytes(uint64_t bytes) { return Format(L"%.1f MB", bytes / 1e6); }

// "WHERE: N frames, S s, WxH FORMAT at F fps"
std::wstring Summary(const std::wstring& where, uint64_t frames, const FrameFormat& format, int frameRate) {
  return Format(L"%ls: %llu frames, %.1f s, %dx%d %ls at %d fps", where.c_str(),
                static_cast<unsigned long long>(frames), static_cast<double>(frames) / frameRate, format.width,
                format.height, DescribePixelFormat(format.pixels).name, frameRate);
}

// dorvantel-record --recover NAME.avi.part: closes a recording that did not finish.
int RecoverCommand(const std::wstring& partPath) {
  AviWriter writer;
  std::wstring path, error;
  if (FAILED(RecoverRecording(partPath, true, &writer, &path, &error))) {
    ReportError(kProgram, L"cannot recover " + partPath + L": " + error);
    return kExitFailure;
  }
  WriteError(Summary(path, writer.frames(), writer.format(), writer.frameRate()) + L", " + Megabytes(writer.bytes()) +
             L" (recovered from " + partPath + L")\n");
  return 0;
}

class Recorder {
 public:
  explicit Recorder(const RecorderOptions& options) : options_(options) {}
  int Run();

 private:
  int Fail(const std::wstring& message) {
    ReportError(kProgram, message);
    return kExitFailure;
  }
  int RecoverLeftover();
  HRESULT CreateSource(std::wstring* error);
  HRESULT OpenOutput(const FrameFormat& format, std::wstring* error);
  std::wstring StopCause(const Recording& recording, HRESULT streamError, bool interrupted) const;
  int Summarise(Recording& recording, const FrameFormat& format, bool interrupted, HRESULT streamError);

  RecorderOptions options_;
  int frameRate_ = options_.preset.rate();        // with a device, the device's
  ComApartment apartment_{COINIT_MULTITHREADED};  // first in, last out: every COM object goes before it
  uint64_t limit_ = 0;                            // frames to record; 0 until Ctrl-C
  DemoWindow demo_;
  SourceLibrary library_;  // declared before source_: outlives the filter it makes
  ComPtr<IBaseFilter> source_;
  AviWriter avi_;
  RawFrameWriter raw_;
};

// A NAME.avi.part left by a recording into the same name that did not finish (killed,
// crashed) is closed into a file of its own before this recording takes the name.
int Recorder::RecoverLeftover() {
  const std::wstring partPath = options_.output + L".part";
  if (::GetFileAttributesW(partPath.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  AviWriter writer;
  std::wstring path, error;
  HRESULT hr = RecoverRecording(partPath, false, &writer, &path, &error);
  if (hr == AviWriter::kNoFrames && ::DeleteFileW(partPath.c_str())) {
    WriteError(L"removed " + partPath + L", left by a recording that stopped before its first frame\n");
    return 0;
  }
  if (FAILED(hr)) return Fail(partPath + L" is in the way and cannot be recovered: " + error);
  WriteError(partPath + L" was left by a recording that did not finish; it is recovered as " +
             Summary(path, writer.frames(), writer.format(), writer.frameRate()) + L"\n");
  return 0;
}

HRESULT Recorder::CreateSource(std::wstring* error) {
  if (!options_.device.empty()) {
    HRESULT hr = CreateVideoInputDevice(options_.device, &source_);
    if (hr == VFW_E_NOT_FOUND) {
      *error = L"no video capture device is named \"" + options_.device + L"\" (register it with dorvantel-register)";
    } else if (FAILED(hr)) {
      *error = L"cannot create the capture device \"" + options_.device + L"\": " + ResultText(hr);
    }
    return hr;
  }
  HRESULT hr = library_.Load(ProgramFolder() + DORVANTEL_DLL_NAME, error);
  if (FAILED(hr)) return hr;
  hr = library_.CreateFilter(&source_);
  if (FAILED(hr)) {
    *error = L"the capture library " + library_.path() + L" did not create the desktop source: " + ResultText(hr);
  }
  return hr;
}

HRESULT Recorder::OpenOutput(const FrameFormat& format, std::wstring* error) {
  HRESULT hr;
  if (options_.rawOutput()) {
    HANDLE stream = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (::GetFileType(stream) == FILE_TYPE_CHAR) {
      *error = L"standard output is a terminal: send the raw frames into a pipe or a file";
      return E_INVALIDARG;
    }
    hr = raw_.Open(stream, format, frameRate_);
    if (FAILED(hr)) *error = L"cannot write to standard output: " + ResultText(hr);
  } else {
    hr = avi_.Open(options_.output, format, frameRate_);
    if (FAILED(hr)) *error = L"cannot write " + options_.output + L": " + ResultText(hr);
  }
  return hr;
}

int Recorder::Run() {
  if (FAILED(apartment_.result())) return Fail(L"cannot start COM: " + ResultText(apartment_.result()));
  HANDLE interrupted = InterruptEvent();
  if (!options_.rawOutput()) {
    const int status = RecoverLeftover();
    if (status != 0) return status;
  }

  if (options_.demo) {
    HRESULT hr = demo_.Show(options_.demoBounds, L"Dorvantel demo");
    if (FAILED(hr)) return Fail(L"cannot show the demo window: " + ResultText(hr));
  }
  const Preset& preset = options_.preset;
  HWND window = nullptr;
  if (preset.target == CaptureTarget::Window) {
    window = FindWindowByTitle(preset.windowTitle);
    if (!window) return Fail(L"no window has the title \"" + preset.windowTitle + L"\"");
  }

  std::wstring error;
  if (FAILED(CreateSource(&error))) return Fail(error);
  const bool device = !options_.device.empty();
  if (FAILED(ConfigureSource(source_.get(), preset, device ? Unnamed::Kept : Unnamed::Default, window, &error))) {
    return Fail(error);
  }
  if (device) {
    HRESULT hr = SourceSettings(source_.get()).ReadFrameRate(&frameRate_);
    if (FAILED(hr)) return Fail(L"cannot read the capture device's frame rate: " + ResultText(hr));
  }

  // Frame-count stamps are paced by the graph clock; the other modes stamp by grab time,
  // which the clock must not wait for, so the recording's own clock places those frames.
  const bool paced = preset.rateMode.value_or(kRateByFrameCount) == kRateByFrameCount;
  limit_ = options_.seconds > 0 ? static_cast<uint64_t>(std::llround(options_.seconds * frameRate_)) : 0;
  Recording recording(frameRate_, limit_, paced);
  CaptureGraph graph;
  const std::optional<PixelFormat> pixels =
      device ? std::nullopt : std::optional<PixelFormat>(preset.format.value_or(PixelFormat::Rgb32));
  if (FAILED(graph.Build(source_.get(), pixels, paced, &recording, &error))) return Fail(error);
  FrameFormat format;
  HRESULT hr = graph.ConnectedFormat(&format);
  if (FAILED(hr)) return Fail(L"the capture source connected in an unexpected format: " + ResultText(hr));
  if (FAILED(OpenOutput(format, &error))) return Fail(error);

  if (options_.rawOutput()) {
    recording.Start(format, [this](const void* frame) { return raw_.WriteFrame(frame); });
  } else {
    recording.Start(format, [this](const void* frame) { return avi_.WriteFrame(frame); });
  }
  hr = graph.Run();
  if (FAILED(hr)) {
    graph.Stop();
    return Fail(L"cannot start the recording graph: " + ResultText(hr));
  }

  ProgressLine progress(!options_.quiet);
  bool wasInterrupted = false;
  HRESULT streamError = S_OK;
  HANDLE waits[2] = {recording.doneEvent(), interrupted};
  for (;;) {
    DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, 250);
    if (woken == WAIT_OBJECT_0) break;
    if (woken == WAIT_OBJECT_0 + 1) {
      wasInterrupted = true;
      break;
    }
    const double elapsed = recording.elapsed();
    progress.Show(Format(L"recording %6.1f s  %6llu frames  %5.1f fps", elapsed,
                         static_cast<unsigned long long>(recording.written()),
                         elapsed > 0 ? recording.delivered() / elapsed : 0.0));
    streamError = graph.CheckEvents();
    if (streamError != S_OK) break;
    const double allowed = options_.seconds + kStallSeconds;
    if (recording.delivered() == 0 && elapsed > kStallSeconds) {
      streamError = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      break;
    }
    if (limit_ && elapsed > allowed) break;
  }
  progress.Finish();

  graph.Stop();
  recording.Stop();
  graph.Release();
  source_.reset();
  return Summarise(recording, format, wasInterrupted, streamError);
}

// Why the recording stopped before its end; empty when it did not.
std::wstring Recorder::StopCause(const Recording& recording, HRESULT streamError, bool interrupted) const {
  const HRESULT writeError = recording.writeError();
  if (writeError == HRESULT_FROM_WIN32(ERROR_DISK_FULL) || writeError == HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL)) {
    return L"the disk is full";
  }
  if (writeError == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)) {
    return L"the file has reached the largest size it can have";
  }
  if (FAILED(writeError)) {
    return (options_.rawOutput() ? std::wstring(L"cannot write to standard output: ")
                                 : L"cannot write " + options_.output + L": ") +
           ResultText(writeError);
  }
  if (limit_ && recording.written() >= limit_) return L"";
  if (streamError == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) return L"the capture source delivered no frames";
  if (streamError == HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE)) return L"the recorded window was closed";
  if (FAILED(streamError)) return L"the capture stream failed: " + ResultText(streamError);
  if (streamError == S_FALSE) return L"the capture source ended its stream";
  if (limit_ && !interrupted) return L"the capture source stalled";
  return L"";
}

int Recorder::Summarise(Recording& recording, const FrameFormat& format, bool interrupted, HRESULT streamError) {
  const std::wstring cause = StopCause(recording, streamError, interrupted);
  const uint64_t frames = recording.written();
  // Standard output that takes no more frames has lost its reader: what it kept is not known.
  if (options_.rawOutput() && FAILED(recording.writeError())) return Fail(cause);
  if (frames == 0) {
    avi_.Abandon();
    if (!cause.empty()) return Fail(cause + L"; nothing was recorded");
    return Fail(interrupted ? L"stopped before the first frame; nothing was written"
                            : L"no frames were recorded; nothing was written");
  }
  if (!options_.rawOutput()) {
    HRESULT hr = avi_.Finish();
    if (FAILED(hr)) {
      return Fail(L"cannot finish " + options_.output + L": " + ResultText(hr) +
                  Format(L"; its %llu frames stay in ", static_cast<unsigned long long>(frames)) + options_.output +
                  L".part (dorvantel-record --recover)");
    }
  }
  const std::wstring where = options_.rawOutput() ? std::wstring(L"standard output") : options_.output;
  WriteError(Summary(where, frames, format, frameRate_));
  if (!options_.rawOutput()) WriteError(L", " + Megabytes(avi_.bytes()));
  WriteError(interrupted ? L" (stopped by Ctrl-C)\n" : L"\n");

  const uint64_t repeated = recording.repeated();
  if (repeated > 0) {
    WriteError(
        Format(L"capture fell behind: the source delivered %.1f frames per second of the %d asked, "
               L"so %llu of %llu frames repeat the frame before them to keep real time\n",
               recording.deliveryRate(), frameRate_, static_cast<unsigned long long>(repeated),
               static_cast<unsigned long long>(frames)));
  }
  if (cause.empty()) return 0;
  const double seconds = static_cast<double>(frames) / frameRate_;
  WriteError(std::wstring(kProgram) + L": stopped early: " + cause + L"; " +
             (options_.rawOutput() ? std::wstring(L"the encoder got") : where + L" keeps") +
             Format(L" the %.1f s recorded", seconds) +
             (limit_ ? Format(L" of the %.1f s asked", options_.seconds) : std::wstring()) + L"\n");
  return kExitStoppedEarly;
}

}  // namespace

}  // namespace dorvantel

int wmain(int argc, wchar_t** argv) {
  using namespace dorvantel;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  ParsedOptions<RecorderOptions> parsed = ParseRecorderOptions(args);
  if (!parsed.ok()) {
    ReportError(kProgram, parsed.error);
    return kExitUsage;
  }
  if (parsed.options.help) {
    WriteError(RecorderUsage());
    return 0;
  }
  if (parsed.options.listMonitors) {
    WriteOutput(MonitorListText());
    return 0;
  }
  // A recording of a monitor that is not there would be black from start to end.
  const std::wstring missing = MissingMonitor(parsed.options.preset);
  if (!missing.empty()) {
    ReportError(kProgram, missing + L" (dorvantel-record --monitors lists them)");
    return kExitUsage;
  }
  if (!parsed.options.recover.empty()) return RecoverCommand(parsed.options.recover);
  return Recorder(parsed.options).Run();
}
