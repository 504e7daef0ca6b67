#pragma once
// The capture panel: what to capture and how, as plain controls in a child dialog (its template
// IDD_CAPTURE_PANEL of editor.rc, found in the module it is given), each field checked by the
// preset's own checks with the message beside it. What to capture: the primary display, a
// monitor as every tool numbers and names it, the whole desktop, a region of the screen (typed,
// or drawn on the overlay over every monitor) or a window (typed, chosen from a list or clicked
// on the overlay). The filter's property page and the settings program's editor embed it.
//
// The pickers and the overlay are modal on the thread the panel lives on, the host's window
// thread for the property page: a running graph's threads go on meanwhile.

#include <windows.h>

#include <functional>
#include <string>

#include "editor/overlay.h"
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

  // The template's size in pixels, as a dialog of the system's dialog font makes it, with
  // extraUnitsHigh dialog units more height for rows the embedder adds below it.
  static SIZE TemplateSize(HMODULE module, int extraUnitsHigh = 0);

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void Fill();
  void UpdateEnabled() const;
  // After an edit made through a picker or the overlay.
  void Edited() const;
  void PickFromList() const;
  void PickByClick() const;
  void Draw() const;
  void Picked(const std::wstring& title) const;
  // Hides the window the panel is in while the overlay runs; false when it was cancelled.
  bool PointAt(OverlayMode mode, RECT* region, HWND* window) const;

  HWND window_ = nullptr;
  HMODULE module_ = nullptr;
  Preset preset_;
  bool filling_ = false;
};

}  // namespace dorvantel
