#pragma once
// The preset editor: a device's name and what it captures and how, as plain controls,
// each checked by the preset's own checks (a message beside the field), with the live
// preview; Save registers it in every installed bitness (device_store.h).

#include <windows.h>

#include <string>
#include <vector>

#include "preset/preset.h"

namespace dorvantel {

struct PresetEdit {
  std::wstring original;            // the device edited; empty for a new one
  std::wstring name;                // the name to start from
  Preset preset;                    // what it captures, to start from
  std::vector<std::wstring> taken;  // names of the devices there are
  std::wstring done;                // after a save: one line for the status
};

// Runs the editor modally; true when it saved.
bool EditPreset(HWND owner, PresetEdit* edit);

}  // namespace dorvantel
