#include "hostkit/source_setup.h"

#include <utility>
#include <vector>

#include "hostkit/result_text.h"
#include "hostkit/source_settings.h"
#include "base/com_ptr.h"
#include "module/dorvantel.h"
#include "preset/value_bag.h"

namespace dorvantel {

namespace {

namespace Key = SourceProperty;

// Writes settings in turn until the source refuses one; error then names it.
class SettingsWriter {
 public:
  SettingsWriter(IBaseFilter* filter, std::wstring* error) : settings_(filter), error_(error) {
    if (!settings_.bag()) {
      result_ = E_NOINTERFACE;
      *error_ = L"the capture source has no property bag: " + ResultText(result_);
    }
  }
  void Long(const wchar_t* name, LONG value) {
    if (SUCCEEDED(result_)) Check(name, settings_.WriteLong(name, value));
  }
  void Bool(const wchar_t* name, bool value) {
    if (SUCCEEDED(result_)) Check(name, settings_.WriteBool(name, value));
  }
  void Text(const wchar_t* name, const wchar_t* text) {
    if (SUCCEEDED(result_)) Check(name, settings_.WriteText(name, text));
  }
  void Pointer(const wchar_t* name, const void* value) {
    if (SUCCEEDED(result_)) Check(name, settings_.WritePointer(name, value));
  }
  HRESULT result() const { return result_; }

 private:
  void Check(const wchar_t* name, HRESULT hr) {
    if (hr == S_OK) return;
    *error_ = std::wstring(L"the capture source refused the setting ") + name + L": " +
              (hr == S_FALSE ? std::wstring(L"not known") : ResultText(hr));
    result_ = FAILED(hr) ? hr : E_FAIL;
  }

  SourceSettings settings_;
  std::wstring* error_;
  HRESULT result_ = S_OK;
};

}  // namespace

HRESULT ConfigureSource(IBaseFilter* filter, const Preset& preset, Unnamed unnamed, HWND window, std::wstring* error) {
  SettingsWriter write(filter, error);
  const bool all = unnamed == Unnamed::Default;
  switch (preset.target) {
    case CaptureTarget::Display:
      if (all) write.Long(Key::CaptureArea, kAreaDisplay);
      break;
    case CaptureTarget::Rectangle: {
      RECT rectangle = preset.rectangle.value_or(RECT{});
      write.Long(Key::CaptureArea, kAreaScreenRectangle);
      write.Pointer(Key::CaptureValue, &rectangle);
      break;
    }
    case CaptureTarget::Monitor:
      write.Long(Key::CaptureArea, kAreaMonitor);
      write.Long(Key::CaptureValue, preset.monitor.value_or(SourceLimits::kMinMonitor));
      break;
    case CaptureTarget::Desktop: write.Long(Key::CaptureArea, kAreaDesktop); break;
    case CaptureTarget::Window: {
      RECT bounds{};
      ::GetWindowRect(window, &bounds);
      WindowRegion region{window, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top};
      if (preset.rectangle) {
        region.left = preset.rectangle->left;
        region.top = preset.rectangle->top;
        region.right = preset.rectangle->right;
        region.bottom = preset.rectangle->bottom;
      }
      write.Long(Key::CaptureArea, kAreaWindowRectangle);
      // The window found here, not one a device's title would find when streaming starts.
      if (!all) write.Text(Key::WindowTitle, L"");
      write.Pointer(Key::CaptureValue, &region);
      break;
    }
  }
  if (all || preset.cursor) write.Bool(Key::IncludeCursor, preset.cursor.value_or(true));
  if (all || preset.layeredWindows) write.Bool(Key::CaptureTransparentWindows, preset.layeredWindows.value_or(false));
  if (all || preset.frameRate) write.Long(Key::FrameRate, preset.rate());
  // The time stamps decide how the caller's graph is clocked: always the caller's own.
  write.Long(Key::FrameRateMode, preset.rateMode.value_or(kRateByFrameCount));
  if (preset.outputSize) {
    OutputDimensions size = *preset.outputSize;
    write.Pointer(Key::OutputDimensions, &size);
  }
  if (all || preset.interpolation) {
    write.Long(Key::InterpolationMode, preset.interpolation.value_or(kInterpolationFast));
  }
  if (preset.framePacing) write.Bool(Key::FramePacing, *preset.framePacing);
  if (!all && preset.format) write.Text(Key::OutputFormat, DescribePixelFormat(*preset.format).name);
  return write.result();
}

HRESULT LoadPreset(IBaseFilter* filter, const Preset& preset) {
  if (!filter) return E_POINTER;
  ComPtr<IPersistPropertyBag> persist;
  HRESULT hr = filter->QueryInterface(IID_IPersistPropertyBag, persist.put_void());
  if (FAILED(hr)) return hr;
  ValueBag bag(StoredValues(preset));
  return persist->Load(&bag, nullptr);
}

}  // namespace dorvantel
