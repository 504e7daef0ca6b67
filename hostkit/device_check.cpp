#include "hostkit/device_check.h"

#include <atomic>
#include <string>

#include "base/handles.h"
#include "hostkit/capture_graph.h"
#include "hostkit/device_registration.h"
#include "hostkit/devices.h"
#include "hostkit/monitor_list.h"
#include "hostkit/other_tool.h"
#include "hostkit/pins.h"
#include "preset/preset.h"
#include "hostkit/result_text.h"
#include "hostkit/source_library.h"
#include "hostkit/window_list.h"
#include "hostkit/windows_camera.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The machine type of a Windows executable's PE header; 0 when it cannot be read.
WORD MachineOf(const std::wstring& path) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                0, nullptr));
  if (!file.valid()) return 0;
  IMAGE_DOS_HEADER dos{};
  DWORD got = 0;
  if (!::ReadFile(file.get(), &dos, sizeof(dos), &got, nullptr) || got != sizeof(dos) ||
      dos.e_magic != IMAGE_DOS_SIGNATURE) {
    return 0;
  }
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } pe{};
  if (::SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::ReadFile(file.get(), &pe, sizeof(pe), &got, nullptr) || got != sizeof(pe) ||
      pe.signature != IMAGE_NT_SIGNATURE) {
    return 0;
  }
  return pe.header.Machine;
}

// Why programs of this bitness cannot create the filter from the library its class names;
// empty when they can.
std::wstring LibraryProblem() {
  wchar_t clsid[40];
  ::StringFromGUID2(CLSID_DesktopSource, clsid, 40);
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = sizeof(path);
  if (::RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32").c_str(), nullptr,
                     RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS ||
      !path[0]) {
    return L"its COM class is not registered, so no program can create it: register the device again";
  }
  const std::wstring library = path;
  if (::GetFileAttributesW(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return L"its library " + library + L" is missing (moved or deleted): register the device again with the " +
           L"dorvantel-register beside the library";
  }
  const WORD machine = MachineOf(library);
#ifdef _WIN64
  const WORD own = IMAGE_FILE_MACHINE_AMD64;
#else
  const WORD own = IMAGE_FILE_MACHINE_I386;
#endif
  if (machine != own && (machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_I386)) {
    return L"its library " + library + L" is a " + BitsText(machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 32) +
           L" library, which " + BitsText(kOwnBits) + L" programs cannot load: register it with the " +
           BitsText(kOwnBits) + L" dorvantel-register";
  }
  SourceLibrary loaded;
  std::wstring error;
  if (FAILED(loaded.Load(library, &error))) return L"its library does not load: " + error;
  ComPtr<IBaseFilter> filter;
  const HRESULT hr = loaded.CreateFilter(&filter);
  if (FAILED(hr)) return L"its library " + library + L" does not create the filter: " + ResultText(hr);
  return {};
}

// A property bag of one stored value, as a device's key would hold it alone.
class OneValueBag : public IPropertyBag {
 public:
  explicit OneValueBag(const PresetValue& value) : value_(value) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!value) return E_POINTER;
    if (_wcsicmp(name, value_.key.c_str()) != 0) return E_INVALIDARG;
    if (value_.isText) {
      value->vt = VT_BSTR;
      value->bstrVal = ::SysAllocString(value_.text.c_str());
      return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    value->vt = VT_I4;
    value->lVal = value_.number;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  PresetValue value_;
};

// The first stored value that a new filter's IPersistPropertyBag::Load refuses on its own.
std::wstring RefusedValue(const std::vector<PresetValue>& stored) {
  for (const PresetValue& value : stored) {
    ComPtr<IPersistPropertyBag> persist;
    if (FAILED(::CoCreateInstance(CLSID_DesktopSource, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistPropertyBag,
                                  persist.put_void()))) {
      return {};
    }
    OneValueBag bag(value);
    const HRESULT hr = persist->Load(&bag, nullptr);
    if (FAILED(hr)) return L"the filter refuses its stored value " + StoredText(value) + L" (" + ResultText(hr) + L")";
  }
  return {};
}

// Counts the frames of a test grab and keeps the first one's length.
class FirstFrame : public SampleCallback {
 public:
  FirstFrame() : arrived_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    if (frames_++ == 0) {
      bytes_ = sample->GetActualDataLength();
      ::SetEvent(arrived_.get());
    }
    return S_OK;
  }
  bool Wait(DWORD ms) const { return ::WaitForSingleObject(arrived_.get(), ms) == WAIT_OBJECT_0; }
  long bytes() const { return bytes_; }

 private:
  EventHandle arrived_;
  std::atomic<long> frames_{0};
  long bytes_ = 0;  // written before arrived_ is set
};

// Why a test grab through the bound filter gives no frame of the size it promises; empty when
// it gives one.
std::wstring GrabProblem(IBaseFilter* filter, DWORD grabMs) {
  ComPtr<IPin> pin;
  TaskMediaType promised;
  if (FAILED(FindPin(filter, PINDIR_OUTPUT, &pin)) || FAILED(OfferedType(pin.get(), 0, &promised)) ||
      promised.get()->formattype != FORMAT_VideoInfo || !promised.get()->pbFormat) {
    return L"it offers no video format, so programs cannot connect it";
  }
  const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(promised.get()->pbFormat)->bmiHeader;
  const std::wstring size = std::to_wstring(header.biWidth) + L"x" + std::to_wstring(std::labs(header.biHeight));
  FirstFrame frames;
  CaptureGraph graph;
  std::wstring error;
  // Without the graph's clock: one frame needs no pacing, and under Wine a clocked graph
  // stopped right after its first frame was seen to hang now and then as it was released.
  HRESULT hr = graph.Build(filter, std::nullopt, false, &frames, &error);
  FrameFormat format;
  if (SUCCEEDED(hr)) hr = graph.ConnectedFormat(&format);
  if (SUCCEEDED(hr)) hr = graph.Run();
  if (FAILED(hr)) return L"a test grab cannot start: " + (error.empty() ? ResultText(hr) : error);
  const bool arrived = frames.Wait(grabMs);
  graph.Stop();
  graph.Release();
  if (!arrived) return L"a test grab gave no frame within " + std::to_wstring(grabMs / 1000) + L" seconds";
  if (format.width != header.biWidth || format.height != std::labs(header.biHeight) ||
      frames.bytes() != static_cast<long>(format.imageSize)) {
    return L"a test grab gave " + std::to_wstring(frames.bytes()) + L" bytes of " + std::to_wstring(format.width) +
           L"x" + std::to_wstring(format.height) + L" where the device promises " + size;
  }
  return {};
}

void CheckOurDevice(const DeviceKey& key, const VideoInputDevice& listed, const std::wstring& libraryProblem,
                    DWORD grabMs, CheckedDevice* device) {
  if (!libraryProblem.empty()) {
    device->problems.push_back(libraryProblem);
    return;
  }
  Preset preset;
  PresetProblem stored = ReadStoredValues(listed.stored, &preset);
  for (size_t i = 0; !stored.ok() && i < listed.stored.size(); ++i) {
    Preset alone;
    const PresetProblem problem = ReadStoredValues({listed.stored[i]}, &alone);
    if (!problem.ok()) {
      stored.message = L"its stored value " + StoredText(listed.stored[i]) + L" is refused (" + problem.message + L")";
      break;
    }
  }
  ComPtr<IBaseFilter> filter;
  const HRESULT bound = CreateVideoInputDevice(key.friendlyName, &filter);  // as a host binds it
  if (FAILED(bound)) {
    std::wstring why = stored.ok() ? RefusedValue(listed.stored) : stored.message;
    if (why.empty()) why = ResultText(bound);
    device->problems.push_back(L"programs cannot open it: " + why);
    return;
  }
  if (!stored.ok()) device->problems.push_back(stored.message);
  if (preset.target == CaptureTarget::Window && !FindCapturedWindow(preset)) {
    device->notes.push_back(L"it captures the window " + Quoted(preset.windowTitle) +
                            L", which is not open now: programs get its frames once it is");
    return;
  }
  // A monitor unplugged (a laptop off its dock) comes back; until then its frames are black.
  const std::wstring missing = MissingMonitor(preset);
  if (!missing.empty()) {
    device->notes.push_back(missing + L"; programs get black frames until it is connected");
    return;
  }
  const std::wstring grab = GrabProblem(filter.get(), grabMs);
  if (!grab.empty()) device->problems.push_back(grab);
}

// Tabs and line breaks would break a line of the view's text.
std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c < L' ') c = L' ';
  }
  return text;
}

std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(L'\t', start);
    fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
    if (tab == std::wstring::npos) return fields;
    start = tab + 1;
  }
}

std::wstring SeenBy(const std::vector<int>& bits) {
  if (bits.empty()) return L"no program sees it";
  if (bits.size() == 2) return L"64-bit and 32-bit programs see it";
  return BitsText(bits[0]) + L" programs see it";
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring wide(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(wcslen(wide.c_str()));
  return wide;
}

// The other bitness's view, as its own register tool checks it; why not, when it cannot.
std::wstring CheckOtherView(DWORD timeoutMs, ViewCheck* view) {
  const std::wstring tool = OtherRegisterTool();
  if (tool.empty()) return L"no " + BitsText(kOtherBits) + L" dorvantel-register is installed beside this one";
  std::string output;
  DWORD status = 1;
  std::wstring error;
  if (FAILED(RunTool(tool, {L"check", L"--view"}, timeoutMs, &output, &status, &error))) return error;
  if (status != 0 || !ReadViewText(FromUtf8(output), view)) {
    return tool + L" could not check: exit status " + std::to_wstring(status);
  }
  return {};
}

}  // namespace

HRESULT CheckThisView(DWORD grabMs, ViewCheck* view, std::wstring* error) {
  view->bits = kOwnBits;
  view->devices.clear();
  std::vector<DeviceKey> keys;
  HRESULT hr = ReadDeviceKeys(&keys);
  if (FAILED(hr)) {
    *error = L"cannot read the video capture devices: " + ResultText(hr);
    return hr;
  }
  std::vector<VideoInputDevice> listed;
  hr = ListVideoInputDevices(&listed);
  if (FAILED(hr)) {
    *error = L"cannot enumerate the video capture devices: " + ResultText(hr);
    return hr;
  }
  bool anyOurs = false;
  for (const DeviceKey& key : keys) anyOurs = anyOurs || key.ours;
  const std::wstring libraryProblem = anyOurs ? LibraryProblem() : std::wstring();
  std::vector<bool> matched(listed.size(), false);
  for (const DeviceKey& key : keys) {
    CheckedDevice device{key.key, key.friendlyName.empty() ? key.key : key.friendlyName, key.ours};
    const VideoInputDevice* found = FindListed(listed, key);
    device.listed = found != nullptr;
    if (found) matched[static_cast<size_t>(found - listed.data())] = true;
    if (key.ours) {
      if (found) {
        CheckOurDevice(key, *found, libraryProblem, grabMs, &device);
      } else {
        device.problems.push_back(L"programs do not list it: " + UnlistedReason(key) +
                                  L"; dorvantel-register unregister --all removes it");
      }
      device.works = device.listed && device.problems.empty();
    }
    view->devices.push_back(device);
  }
  // Devices the enumerator lists without a key here (the platform's own cameras).
  for (size_t i = 0; i < listed.size(); ++i) {
    if (!matched[i] && !listed[i].desktopSource) {
      view->devices.push_back(CheckedDevice{listed[i].name, listed[i].name, false, true});
    }
  }
  return S_OK;
}

std::wstring ViewText(const ViewCheck& view) {
  std::wstring text = L"view\t" + std::to_wstring(view.bits) + L"\n";
  for (const CheckedDevice& device : view.devices) {
    text += L"device\t" + OneLine(device.key) + L"\t" + OneLine(device.name) + L"\t" + (device.ours ? L"1" : L"0") +
            L"\t" + (device.listed ? L"1" : L"0") + L"\t" + (device.works ? L"1" : L"0") + L"\n";
    for (const std::wstring& problem : device.problems) text += L"problem\t" + OneLine(problem) + L"\n";
    for (const std::wstring& note : device.notes) text += L"note\t" + OneLine(note) + L"\n";
  }
  return text;
}

bool ReadViewText(const std::wstring& text, ViewCheck* view) {
  *view = ViewCheck{};
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const std::vector<std::wstring> fields = Fields(line);
    if (fields[0] == L"view" && fields.size() == 2) {
      view->bits = _wtoi(fields[1].c_str());
    } else if (fields[0] == L"device" && fields.size() == 6 && view->bits) {
      view->devices.push_back(
          CheckedDevice{fields[1], fields[2], fields[3] == L"1", fields[4] == L"1", fields[5] == L"1"});
    } else if (fields.size() == 2 && !view->devices.empty() && (fields[0] == L"problem" || fields[0] == L"note")) {
      (fields[0] == L"problem" ? view->devices.back().problems : view->devices.back().notes).push_back(fields[1]);
    }
  }
  return view->bits == 32 || view->bits == 64;
}

std::vector<DeviceVerdict> Verdicts(const std::vector<ViewCheck>& views, const std::vector<int>& expected) {
  std::vector<DeviceVerdict> verdicts;
  for (const ViewCheck& view : views) {
    for (const CheckedDevice& device : view.devices) {
      bool known = false;
      for (const DeviceVerdict& verdict : verdicts)
        known = known || _wcsicmp(verdict.key.c_str(), device.key.c_str()) == 0;
      if (!known) verdicts.push_back(DeviceVerdict{device.key, device.name, device.ours});
    }
  }
  for (DeviceVerdict& verdict : verdicts) {
    verdict.works = verdict.ours;
    for (int bits : expected) {
      const CheckedDevice* device = nullptr;
      for (const ViewCheck& view : views) {
        for (const CheckedDevice& candidate : view.devices) {
          if (view.bits == bits && _wcsicmp(candidate.key.c_str(), verdict.key.c_str()) == 0) device = &candidate;
        }
      }
      if (device && device->listed) verdict.seenBy.push_back(bits);
      if (!verdict.ours) continue;
      const std::wstring who = BitsText(bits) + L" programs: ";
      if (!device) {
        verdict.works = false;
        verdict.lines.push_back(who + L"it is not registered for them: register it with the " + BitsText(bits) +
                                L" dorvantel-register, or save it again in Dorvantel settings");
        continue;
      }
      verdict.works = verdict.works && device->works;
      for (const std::wstring& problem : device->problems) verdict.lines.push_back(who + problem);
      for (const std::wstring& note : device->notes) verdict.lines.push_back(who + note);
    }
  }
  return verdicts;
}

std::wstring VerdictText(const DeviceVerdict& device) {
  if (!device.ours)
    return Quoted(device.name) + L": another program's device; " + SeenBy(device.seenBy) + L" (not checked)";
  return Quoted(device.name) + L" (Dorvantel): " + SeenBy(device.seenBy) +
         (device.works ? L"; it works" : L"; it has problems");
}

std::wstring ProgramsWord(const std::vector<int>& seenBy) {
  if (seenBy.empty()) return L"none";
  if (seenBy.size() == 2) return L"both";
  return BitsText(seenBy[0]);
}

HRESULT RunCheck(bool thisBitness, DWORD grabMs, DWORD otherMs, CheckRun* run, std::wstring* error) {
  *run = CheckRun{std::vector<ViewCheck>(1), {kOwnBits}, {}};
  const HRESULT hr = CheckThisView(grabMs, &run->views[0], error);
  if (FAILED(hr) || thisBitness) return hr;
  ViewCheck other;
  const std::wstring why = CheckOtherView(otherMs, &other);
  if (!why.empty()) {
    run->unchecked = BitsText(kOtherBits) + L" programs: not checked: " + why;
    return S_OK;
  }
  run->views.push_back(other);
  run->expected = {64, 32};
  return S_OK;
}

std::wstring CheckSummary(const std::vector<DeviceVerdict>& verdicts, const std::vector<int>& expected) {
  size_t ours = 0, working = 0, others = 0;
  for (const DeviceVerdict& device : verdicts) {
    (device.ours ? ours : others) += 1;
    working += device.works ? 1 : 0;
  }
  std::wstring summary;
  if (ours == 0) {
    summary = L"no Dorvantel device is registered: programs find none (dorvantel-register register makes one)";
  } else {
    summary = std::to_wstring(ours) + L" Dorvantel device" + (ours == 1 ? L"" : L"s") + L", " +
              std::to_wstring(working) + L" working for ";
    for (size_t i = 0; i < expected.size(); ++i) {
      summary += (i ? L" and " : L"") + BitsText(expected[i]);
    }
    summary += L" programs";
    if (working < ours) summary += L", " + std::to_wstring(ours - working) + L" with problems";
  }
  if (others > 0)
    summary += L"; " + std::to_wstring(others) + L" device" + (others == 1 ? L"" : L"s") + L" of other programs";
  return summary;
}

std::wstring CheckReport(const std::vector<ViewCheck>& views, const std::vector<int>& expected, bool* allGood,
                         bool cameras) {
  const std::vector<DeviceVerdict> verdicts = Verdicts(views, expected);
  std::wstring text;
  bool any = false;
  *allGood = true;
  for (const DeviceVerdict& device : verdicts) {
    text += VerdictText(device) + L"\n";
    if (!device.ours) continue;
    any = true;
    *allGood = *allGood && device.works;
    for (const std::wstring& line : device.lines) text += L"  " + line + L"\n";
    if (cameras) text += L"  " + WindowsCameraLine(device.name) + L"\n";
  }
  *allGood = *allGood && any;
  return text + L"summary: " + CheckSummary(verdicts, expected) + L"\n";
}

}  // namespace dorvantel
