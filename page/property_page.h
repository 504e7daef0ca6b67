#pragma once
// The filter's property page: the capture panel on the settings of the filter it was opened
// on, which it reads through the filter's IPersistPropertyBag (the values a device stores) and
// holds through its IPropertyBag. It lets go of the filter on SetObjects(0, NULL) and of the
// site on SetPageSite(NULL), and of both when it is released.
//
// When edits take effect: on Apply, which Windows' frame calls for OK and Apply; Cancel there
// calls only Deactivate, which then drops them. Wine's frame calls neither Apply nor anything
// else that tells OK from Cancel, and always ends with Deactivate: where the frame never calls
// Apply (ApplyOnDeactivate), Deactivate applies edits not yet applied. A filter that is not
// connected takes everything; a connected or running one keeps its connection's size and
// format until the host's next connection, which the page says.
//
// Below the panel the page has a row of its own: a device name and "Save as a device", which
// stores the page's settings (as the fields show them, applied or not) as that named capture
// device through the register tool beside the library, on a worker, and says on the page what
// came of it. A page released while a save runs waits for the tool to end.
//
// Every call comes on the frame's thread, the thread the page lives on; the page never waits
// for the filter's worker (writing a setting takes the capture lock for one grab at most).

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "base/com_ptr.h"
#include "framework/unknown.h"
#include "editor/capture_panel.h"
#include "page/device_save.h"

namespace dorvantel {

// The page's own controls, after the editor's (whose identifiers are below 2300).
enum PageControl : int { IDC_PAGE_DEVICE_NAME = 2300, IDC_PAGE_SAVE_DEVICE, IDC_PAGE_SAVE_RESULT };

// Whether Deactivate applies edits not yet applied: for a frame that never calls Apply.
enum class PageFrame { CallsApply, NeverCallsApply };
// The frame of the platform the library runs on: Wine's never calls Apply.
PageFrame PlatformFrame() noexcept;

class DesktopSourcePage : public IPropertyPage, public CUnknown {
 public:
  DesktopSourcePage(IUnknown* outer, HMODULE module, PageFrame frame) noexcept;
  ~DesktopSourcePage() override;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT place, BOOL modal) override;
  HRESULT STDMETHODCALLTYPE Deactivate() override;
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
  // Takes the first object with the desktop source's property bags; (0, NULL) lets go.
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
  HRESULT STDMETHODCALLTYPE Show(UINT command) override;
  HRESULT STDMETHODCALLTYPE Move(LPCRECT place) override;
  HRESULT STDMETHODCALLTYPE IsPageDirty() override;
  // Writes the edits into the filter. E_FAIL when a field is refused (its message beside it),
  // the filter's answer when it refuses the settings; nothing changes then.
  HRESULT STDMETHODCALLTYPE Apply() override;
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpFolder) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

 private:
  void Edited();
  // The page's message: sent to the panel's window, false when it is none of the page's.
  bool PageMessage(UINT message, WPARAM wparam);
  void AddSaveRow();
  void SaveAsDevice();
  void SaveEnded();
  // The note under the fields, from the filter's state now.
  std::wstring StateNote() const;

  const HMODULE module_;
  const PageFrame frame_;
  ComPtr<IPropertyPageSite> site_;
  ComPtr<IPropertyBag> filter_;
  CapturePanel panel_;
  DeviceSaver saver_;
  bool dirty_ = false;
};

// The class factory's creation function: the new page (reference count 0) or null.
CUnknown* CreateDesktopSourcePage(IUnknown* outer, HRESULT* result);

}  // namespace dorvantel
