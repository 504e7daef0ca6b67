#pragma once
// The capture panel: what to capture and how, as plain controls in a child dialog (its template
// IDD_CAPTURE_PANEL, found in the module it is given), each field checked by the preset's own
// checks with the message beside it. The filter's property page embeds it.

#include <windows.h>

#include <functional>
#include <string>

#include "preset/preset.h"

namespace dorvantel {

class CapturePanel {
 public:
  CapturePanel() = default;
  ~CapturePanel() { Destroy(); }
  CapturePanel(const CapturePanel&) = delete;
  CapturePanel& operator=(const CapturePanel&) = delete;

  // Makes the panel a child of parent at place, its fields filled from preset (which is kept:
  // what the fields do not show stays as it is there). Null when the template cannot be made.
  HWND Create(HMODULE module, HWND parent, const RECT& place, const Preset& preset);
  void Destroy() noexcept;
  HWND window() const noexcept { return window_; }

  // The fields read into *preset, each checked alone; with show every message goes beside its
  // field (an empty one clears it). True when every field is good; *first: the first message.
  bool Read(Preset* preset, bool show, std::wstring* first) const;
  // One line under the fields: what the user should know about when edits take effect.
  void SetNote(const std::wstring& text) const;
  // The line for a message that is about no one field (a value the filter refused).
  void SetError(const std::wstring& text) const;

  // Called after each edit the user makes (not while the panel fills its fields).
  std::function<void()> changed;
  // For the window that embeds the panel: each message the panel's window gets goes here
  // first (commands of controls it added, messages it posts); true when it was handled there.
  std::function<bool(UINT message, WPARAM wparam, LPARAM lparam)> embedder;

  // The template's size in pixels, as a dialog of the system's dialog font makes it.
  static SIZE TemplateSize(HMODULE module);

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void Fill();
  void UpdateEnabled() const;

  HWND window_ = nullptr;
  Preset preset_;
  bool filling_ = false;
};

}  // namespace dorvantel
