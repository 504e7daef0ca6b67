#include "hostkit/source_setup.h"

#include "hostkit/result_text.h"
#include "hostkit/source_settings.h"
#include "module/dorvantel.h"

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

HRESULT ConfigureSource(IBaseFilter* filter, const RecorderOptions& options, HWND window, std::wstring* error) {
  SettingsWriter write(filter, error);
  // A registered device brings its own settings: only what the command line names replaces them.
  const bool all = options.device.empty();
  switch (options.target) {
    case CaptureTarget::Display:
      if (all) write.Long(Key::CaptureArea, kAreaDisplay);
      break;
    case CaptureTarget::Rectangle: {
      RECT rectangle = options.rectangle;
      write.Long(Key::CaptureArea, kAreaScreenRectangle);
      write.Pointer(Key::CaptureValue, &rectangle);
      break;
    }
    case CaptureTarget::Monitor:
      write.Long(Key::CaptureArea, kAreaMonitor);
      write.Long(Key::CaptureValue, options.monitor);
      break;
    case CaptureTarget::Desktop: write.Long(Key::CaptureArea, kAreaDesktop); break;
    case CaptureTarget::Window: {
      RECT bounds{};
      ::GetWindowRect(window, &bounds);
      WindowRegion region{window, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top};
      if (options.hasRectangle) {
        region.left = options.rectangle.left;
        region.top = options.rectangle.top;
        region.right = options.rectangle.right;
        region.bottom = options.rectangle.bottom;
      }
      write.Long(Key::CaptureArea, kAreaWindowRectangle);
      // The window found here, not one a device's title would find when streaming starts.
      if (!all) write.Text(Key::WindowTitle, L"");
      write.Pointer(Key::CaptureValue, &region);
      break;
    }
  }
  if (all || options.cursorGiven) write.Bool(Key::IncludeCursor, options.cursor);
  if (all || options.layeredWindows) write.Bool(Key::CaptureTransparentWindows, options.layeredWindows);
  if (all || options.rateGiven) write.Long(Key::FrameRate, options.frameRate);
  // The time stamps decide how the recording graph is clocked: always the recorder's own.
  write.Long(Key::FrameRateMode, options.frameRateMode);
  if (options.scaled) {
    OutputDimensions size{options.outputWidth, options.outputHeight};
    write.Pointer(Key::OutputDimensions, &size);
  }
  if (all || options.interpolationGiven) write.Long(Key::InterpolationMode, options.interpolation);
  if (!all && options.formatGiven) write.Text(Key::OutputFormat, DescribePixelFormat(options.pixels).name);
  return write.result();
}

}  // namespace dorvantel
