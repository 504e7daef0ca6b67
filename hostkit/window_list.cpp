#include "hostkit/window_list.h"

#include "base/window_title.h"

namespace dorvantel {

HWND FindCapturedWindow(const Preset& preset) {
  return preset.target == CaptureTarget::Window ? FindWindowByTitle(preset.windowTitle) : nullptr;
}

}  // namespace dorvantel
