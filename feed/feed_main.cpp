// dorvantel-feed: captures the screen as a preset's device does, in the user's session, and
// publishes the frames (NV12 at the device's size and rate) in the preset's frame ring, where
// the Windows 11 camera's media source reads them (base/camera_link.h).
//   dorvantel-feed [--name PRESET] [--seconds N]
// Ends on Ctrl-C, when its console closes, at the end of the session or after N seconds.
// Exit statuses: 0 ended as asked, 1 failed, 2 bad options, 3 another feed serves the preset.

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/camera_link.h"
#include "base/frame_ring.h"
#include "hostkit/apartment.h"
#include "hostkit/capture_graph.h"
#include "hostkit/console.h"
#include "hostkit/devices.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "hostkit/source_setup.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

constexpr wchar_t kProgram[] = L"dorvantel-feed";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAlreadyRunning = 3;

struct FeedOptions {
  std::wstring preset = camera_link::kDefaultPreset;
  double seconds = 0;  // 0: until stopped
};

bool ParseFeedOptions(int argc, wchar_t** argv, FeedOptions* options, std::wstring* error) {
  for (int i = 1; i < argc; ++i) {
    std::wstring option = argv[i];
    if (i + 1 >= argc) {
      *error = option == camera_link::kFeedNameOption || option == camera_link::kFeedSecondsOption
                   ? option + L" needs a value"
                   : L"unknown option " + option;
      return false;
    }
    std::wstring value = argv[++i];
    if (option == camera_link::kFeedNameOption) {
      if (value.empty() || value.size() > 64 || value.find(L'\\') != std::wstring::npos) {
        *error = L"--name needs a device name of 1 to 64 characters without backslashes";
        return false;
      }
      options->preset = value;
    } else if (option == camera_link::kFeedSecondsOption) {
      wchar_t* end = nullptr;
      options->seconds = std::wcstod(value.c_str(), &end);
      if (*end || !(options->seconds > 0) || options->seconds > 1e7) {
        *error = L"--seconds needs a number of seconds above 0";
        return false;
      }
    } else {
      *error = L"unknown option " + option;
      return false;
    }
  }
  return true;
}

// The grabber's callback: each frame into the ring. Runs on the source's streaming thread;
// the ring is written by this thread alone while the graph runs.
class RingFeeder : public SampleCallback {
 public:
  explicit RingFeeder(FrameRing* ring) noexcept : ring_(ring) {}
  // The connected format; before the graph runs (no frame comes earlier).
  void SetFormat(const FrameFormat& format) noexcept {
    format_ = {static_cast<uint32_t>(format.width), static_cast<uint32_t>(format.height), FrameRing::kNv12,
               static_cast<uint32_t>(format.width), format.imageSize};
  }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || static_cast<DWORD>(sample->GetActualDataLength()) < format_.bytes) {
      return S_OK;
    }
    if (SUCCEEDED(ring_->Write(format_, data))) ::InterlockedIncrement(&frames_);
    return S_OK;
  }
  LONG frames() const noexcept { return frames_; }

 private:
  FrameRing* ring_;
  RingFrameFormat format_;
  volatile LONG frames_ = 0;
};

// A hidden top-level window titled camera_link::FeedWindowTitle, so that the end of the
// session (WM_ENDSESSION) and a close request (the control code's) reach the program; either
// sets the stop event.
class SessionWindow {
 public:
  SessionWindow(HANDLE stop, const std::wstring& preset) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DorvantelFeed";
    ::RegisterClassW(&windowClass);
    window_ = ::CreateWindowExW(0, windowClass.lpszClassName, camera_link::FeedWindowTitle(preset).c_str(), WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    if (window_) ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(stop));
  }
  ~SessionWindow() {
    if (window_) ::DestroyWindow(window_);
  }
  SessionWindow(const SessionWindow&) = delete;
  SessionWindow& operator=(const SessionWindow&) = delete;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto stop = reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if ((message == WM_ENDSESSION && wparam) || message == WM_CLOSE) {
      if (stop) ::SetEvent(stop);
      return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  HWND window_ = nullptr;
};

int Fail(const std::wstring& message) {
  ReportError(kProgram, message);
  return kExitFailure;
}

// The preset's ring: in the global namespace, created or opened, else (no right to either)
// in the session's own.
HRESULT AttachRing(const std::wstring& preset, FrameRing* ring, std::wstring* where) {
  *where = camera_link::FrameSectionName(preset);
  HRESULT hr = ring->Attach(*where);
  if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) hr = ring->Open(*where);
  if (SUCCEEDED(hr)) return hr;
  *where = camera_link::FrameSectionName(preset, camera_link::Namespace::Local);
  return ring->Attach(*where);
}

int Feed(const FeedOptions& options) {
  UniqueHandle instance(::CreateMutexW(nullptr, FALSE, camera_link::FeedMutexName(options.preset).c_str()));
  if (instance && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    WriteError(std::wstring(kProgram) + L": a feed for \"" + options.preset + L"\" is already running\n");
    return kExitAlreadyRunning;
  }
  ComApartment apartment(COINIT_MULTITHREADED);
  if (FAILED(apartment.result())) return Fail(L"cannot start COM: " + ResultText(apartment.result()));
  HANDLE interrupted = InterruptEvent();
  UniqueHandle ended(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SessionWindow window(ended.get(), options.preset);

  // The registered device of the preset; the default preset also without registration, from
  // the library beside the program.
  SourceLibrary library;  // outlives the filter it makes
  ComPtr<IBaseFilter> source;
  HRESULT hr = CreateVideoInputDevice(options.preset, &source);
  if (hr == VFW_E_NOT_FOUND && options.preset == camera_link::kDefaultPreset) {
    std::wstring error;
    hr = library.Load(ProgramFolder() + DORVANTEL_DLL_NAME, &error);
    if (FAILED(hr)) return Fail(error);
    hr = library.CreateFilter(&source);
    if (SUCCEEDED(hr)) hr = ConfigureSource(source.get(), Preset{}, Unnamed::Default, nullptr, &error);
    if (FAILED(hr)) return Fail(L"cannot make the desktop source: " + ResultText(hr));
  } else if (hr == VFW_E_NOT_FOUND) {
    return Fail(L"no video capture device is named \"" + options.preset + L"\" (register it with dorvantel-register)");
  } else if (FAILED(hr)) {
    return Fail(L"cannot create the capture device \"" + options.preset + L"\": " + ResultText(hr));
  }

  FrameRing ring;
  std::wstring ringName;
  hr = AttachRing(options.preset, &ring, &ringName);
  if (FAILED(hr)) return Fail(L"cannot open the frame section " + ringName + L": " + ResultText(hr));

  // The graph's clock paces the frames at the device's rate; the ring takes them as they come.
  CaptureGraph graph;
  RingFeeder feeder(&ring);
  std::wstring error;
  hr = graph.Build(source.get(), PixelFormat::Nv12, true, &feeder, &error);
  if (FAILED(hr)) return Fail(error);
  FrameFormat format;
  hr = graph.ConnectedFormat(&format);
  if (FAILED(hr) || format.pixels != PixelFormat::Nv12 || format.imageSize > ring.frameCapacity()) {
    return Fail(L"the capture source connected in an unexpected format: " + ResultText(FAILED(hr) ? hr : E_UNEXPECTED));
  }
  feeder.SetFormat(format);
  hr = graph.Run();
  if (FAILED(hr)) {
    graph.Stop();
    return Fail(L"cannot start the capture graph: " + ResultText(hr));
  }
  WriteError(std::wstring(kProgram) + L": feeding \"" + options.preset + L"\" (" + std::to_wstring(format.width) +
             L"x" + std::to_wstring(format.height) + L" NV12) into " + ringName + L"\n");

  ULONGLONG end = options.seconds > 0 ? ::GetTickCount64() + static_cast<ULONGLONG>(options.seconds * 1000) : 0;
  HANDLE waits[2] = {interrupted, ended.get()};
  HRESULT streamError = S_OK;
  for (;;) {
    DWORD woken = ::MsgWaitForMultipleObjects(2, waits, FALSE, 250, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1) break;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ring.Beat();
    streamError = graph.CheckEvents();
    if (streamError != S_OK) break;
    if (end && ::GetTickCount64() >= end) break;
  }
  graph.Stop();
  graph.Release();
  source.reset();
  WriteError(std::wstring(kProgram) + L": " + std::to_wstring(feeder.frames()) + L" frames fed\n");
  if (FAILED(streamError)) return Fail(L"the capture stream failed: " + ResultText(streamError));
  return 0;
}

}  // namespace

}  // namespace dorvantel

int wmain(int argc, wchar_t** argv) {
  dorvantel::FeedOptions options;
  std::wstring error;
  if (!dorvantel::ParseFeedOptions(argc, argv, &options, &error)) {
    dorvantel::ReportError(dorvantel::kProgram, error);
    dorvantel::WriteError(L"usage: dorvantel-feed [--name PRESET] [--seconds N]\n");
    return dorvantel::kExitUsage;
  }
  return dorvantel::Feed(options);
}
