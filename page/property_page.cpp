#include "page/property_page.h"

#include <dshow.h>

#include <new>
#include <vector>

#include "module/dorvantel.h"
#include "editor/panel_resource.h"
#include "preset/preset.h"
#include "preset/value_bag.h"

namespace dorvantel {

namespace {

// The filter's settings as a device stores them.
HRESULT SaveFilter(IPropertyBag* filter, ValueBag* bag) {
  ComPtr<IPersistPropertyBag> persist;
  HRESULT hr = filter->QueryInterface(IID_IPersistPropertyBag, persist.put_void());
  return FAILED(hr) ? hr : persist->Save(bag, FALSE, TRUE);
}

// Every setting of the filter made the preset's: the defaults, then what the preset names.
// When the filter refuses them it gets its settings from before back.
HRESULT WritePreset(IPropertyBag* filter, const Preset& preset) {
  ComPtr<IPersistPropertyBag> persist;
  HRESULT hr = filter->QueryInterface(IID_IPersistPropertyBag, persist.put_void());
  if (FAILED(hr)) return hr;
  ValueBag before;
  hr = persist->Save(&before, FALSE, TRUE);
  if (FAILED(hr)) return hr;
  ValueBag after(StoredValues(preset));
  hr = persist->InitNew();
  if (SUCCEEDED(hr)) hr = persist->Load(&after, nullptr);
  if (FAILED(hr)) {
    persist->InitNew();
    persist->Load(&before, nullptr);
  }
  return hr;
}

// The filter's pin is connected; *running: its graph is not stopped.
bool Connected(IPropertyBag* filter, bool* running) {
  *running = false;
  ComPtr<IBaseFilter> base;
  if (FAILED(filter->QueryInterface(IID_IBaseFilter, base.put_void()))) return false;
  FILTER_STATE state = State_Stopped;
  if (SUCCEEDED(base->GetState(0, &state))) *running = state != State_Stopped;
  ComPtr<IEnumPins> pins;
  if (FAILED(base->EnumPins(pins.put())) || !pins) return false;
  ComPtr<IPin> pin;
  bool connected = false;
  while (!connected && pins->Next(1, pin.put(), nullptr) == S_OK) {
    ComPtr<IPin> peer;
    connected = SUCCEEDED(pin->ConnectedTo(peer.put())) && peer;
  }
  return connected;
}

// What the worker posts to the panel's window when a save has ended.
constexpr UINT kSaveEnded = WM_APP + 1;
// The save row below the panel, in dialog units.
constexpr int kSaveRowUnits = 34;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

PageFrame PlatformFrame() noexcept {
  // Wine's ntdll names its version; its property frame never calls Apply.
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll && ::GetProcAddress(ntdll, "wine_get_version");
  return wine ? PageFrame::NeverCallsApply : PageFrame::CallsApply;
}

DesktopSourcePage::DesktopSourcePage(IUnknown* outer, HMODULE module, PageFrame frame) noexcept
    : CUnknown(outer), module_(module), frame_(frame) {
  panel_.changed = [this] { Edited(); };
  panel_.embedder = [this](UINT message, WPARAM wparam, LPARAM) { return PageMessage(message, wparam); };
}

DesktopSourcePage::~DesktopSourcePage() { saver_.Notify(nullptr); }

HRESULT STDMETHODCALLTYPE DesktopSourcePage::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IPropertyPage)) return ExposeInterface(static_cast<IPropertyPage*>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::SetPageSite(IPropertyPageSite* site) {
  if (site && site_) return E_UNEXPECTED;
  site_ = ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Activate(HWND parent, LPCRECT place, BOOL) {
  if (!place) return E_POINTER;
  if (panel_.window()) return E_UNEXPECTED;
  if (!filter_) return E_UNEXPECTED;
  ValueBag saved;
  Preset preset;
  HRESULT hr = SaveFilter(filter_.get(), &saved);
  if (FAILED(hr)) return hr;
  // A value the tools would refuse (a rate above theirs, written by a host) shows its message.
  const PresetProblem problem = ReadStoredValues(saved.values(), &preset);
  if (!panel_.Create(module_, parent, *place, preset)) return HRESULT_FROM_WIN32(::GetLastError());
  AddSaveRow();
  dirty_ = false;
  panel_.SetError(FieldMessage(problem));
  panel_.SetNote(StateNote());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Deactivate() {
  if (!panel_.window()) return E_UNEXPECTED;
  // Edits that cannot be taken (a refused field) are dropped with the panel.
  if (dirty_ && frame_ == PageFrame::NeverCallsApply) Apply();
  saver_.Notify(nullptr);
  panel_.Destroy();
  dirty_ = false;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::GetPageInfo(PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  const size_t bytes = sizeof(DesktopSourcePageName);
  auto* title = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (!title) return E_OUTOFMEMORY;
  memcpy(title, DesktopSourcePageName, bytes);
  info->cb = sizeof(PROPPAGEINFO);
  info->pszTitle = title;
  info->size = CapturePanel::TemplateSize(module_, kSaveRowUnits);
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::SetObjects(ULONG count, IUnknown** objects) {
  if (count == 0) {
    filter_.reset();
    return S_OK;
  }
  if (!objects) return E_POINTER;
  for (ULONG i = 0; i < count; ++i) {
    if (!objects[i]) continue;
    ComPtr<IPropertyBag> bag;
    ComPtr<IPersistPropertyBag> persist;
    if (FAILED(objects[i]->QueryInterface(IID_IPropertyBag, bag.put_void())) ||
        FAILED(objects[i]->QueryInterface(IID_IPersistPropertyBag, persist.put_void()))) {
      continue;
    }
    filter_ = bag;
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Show(UINT command) {
  if (!panel_.window()) return E_UNEXPECTED;
  ::ShowWindow(panel_.window(), static_cast<int>(command));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Move(LPCRECT place) {
  if (!place) return E_POINTER;
  if (!panel_.window()) return E_UNEXPECTED;
  ::MoveWindow(panel_.window(), place->left, place->top, place->right - place->left, place->bottom - place->top,
               TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Apply() {
  if (!dirty_) return S_OK;
  if (!filter_ || !panel_.window()) return E_UNEXPECTED;
  Preset preset;
  std::wstring first;
  if (!panel_.Read(&preset, true, &first)) return E_FAIL;
  const HRESULT hr = WritePreset(filter_.get(), preset);
  if (FAILED(hr)) {
    panel_.SetError(L"The filter refused these settings; it keeps its own.");
    return hr;
  }
  dirty_ = false;
  panel_.SetNote(StateNote());
  if (site_) site_->OnStatusChange(PROPPAGESTATUS_CLEAN);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DesktopSourcePage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE DesktopSourcePage::TranslateAccelerator(MSG* message) {
  if (!message) return E_POINTER;
  if (!panel_.window()) return S_FALSE;
  return ::IsDialogMessageW(panel_.window(), message) ? S_OK : S_FALSE;
}

void DesktopSourcePage::Edited() {
  dirty_ = true;
  if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

bool DesktopSourcePage::PageMessage(UINT message, WPARAM wparam) {
  if (message == kSaveEnded) {
    SaveEnded();
    return true;
  }
  if (message != WM_COMMAND) return false;
  const int id = LOWORD(wparam);
  if (id == IDC_PAGE_SAVE_DEVICE && HIWORD(wparam) == BN_CLICKED) SaveAsDevice();
  // The name is no setting of the filter: editing it leaves the page clean.
  return id == IDC_PAGE_SAVE_DEVICE || id == IDC_PAGE_DEVICE_NAME;
}

void DesktopSourcePage::AddSaveRow() {
  HWND panel = panel_.window();
  RECT note{};
  ::GetWindowRect(::GetDlgItem(panel, IDC_PANEL_NOTE), &note);
  ::MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&note), 2);
  const auto font = static_cast<WPARAM>(::SendMessageW(panel, WM_GETFONT, 0, 0));
  struct Control {
    const wchar_t* kind;
    const wchar_t* text;
    int id;
    DWORD style, extended;
    RECT units;  // left, top, width, height below the note
  };
  const Control controls[] = {
      {L"STATIC", L"De&vice name:", -1, SS_LEFT, 0, {4, 4, 48, 8}},
      {L"EDIT", L"", IDC_PAGE_DEVICE_NAME, WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, {54, 2, 110, 12}},
      {L"BUTTON", L"&Save as a device", IDC_PAGE_SAVE_DEVICE, WS_TABSTOP | BS_PUSHBUTTON, 0, {168, 1, 80, 14}},
      {L"STATIC", L"", IDC_PAGE_SAVE_RESULT, SS_LEFT | SS_NOPREFIX, 0, {4, 18, 244, 16}},
  };
  for (const Control& c : controls) {
    RECT place{c.units.left, c.units.top, c.units.left + c.units.right, c.units.top + c.units.bottom};
    ::MapDialogRect(panel, &place);
    HWND control = ::CreateWindowExW(c.extended, c.kind, c.text, WS_CHILD | WS_VISIBLE | c.style, place.left,
                                     note.bottom + place.top, place.right - place.left, place.bottom - place.top,
                                     panel, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
    if (control) ::SendMessageW(control, WM_SETFONT, font, FALSE);
  }
  ::EnableWindow(::GetDlgItem(panel, IDC_PAGE_SAVE_DEVICE), !saver_.busy());
  saver_.Notify(panel);
}

void DesktopSourcePage::SaveAsDevice() {
  HWND panel = panel_.window();
  const auto say = [panel](const std::wstring& line) { ::SetDlgItemTextW(panel, IDC_PAGE_SAVE_RESULT, line.c_str()); };
  wchar_t name[256] = {};
  ::GetDlgItemTextW(panel, IDC_PAGE_DEVICE_NAME, name, 256);
  if (!name[0]) return say(L"Type a name first: hosts list the device by it.");
  Preset preset;
  std::wstring first;
  if (!panel_.Read(&preset, true, &first)) return say(L"Not saved: " + first);
  const SaveRights rights = RightsToSave();
  if (!saver_.Start(RegisterToolBeside(module_), name, preset, rights, kSaveEnded)) {
    return say(L"Not saved: no thread could be started to save it.");
  }
  ::EnableWindow(::GetDlgItem(panel, IDC_PAGE_SAVE_DEVICE), FALSE);
  say(rights == SaveRights::Elevated ? L"Saving: devices are for every user, so Windows asks for administrator rights..."
                                     : L"Saving...");
}

void DesktopSourcePage::SaveEnded() {
  SaveOutcome outcome;
  if (!saver_.Take(&outcome)) return;
  ::SetDlgItemTextW(panel_.window(), IDC_PAGE_SAVE_RESULT, outcome.line.c_str());
  ::EnableWindow(::GetDlgItem(panel_.window(), IDC_PAGE_SAVE_DEVICE), TRUE);
}

std::wstring DesktopSourcePage::StateNote() const {
  bool running = false;
  if (filter_ && Connected(filter_.get(), &running)) {
    return std::wstring(running ? L"Running" : L"Connected") +
           L": size and format apply at the host's next connection; the rest at once, scaled to the connected size.";
  }
  return frame_ == PageFrame::NeverCallsApply ? L"The settings apply when this window closes." : L"";
}

CUnknown* CreateDesktopSourcePage(IUnknown* outer, HRESULT* result) {
  auto* page = new (std::nothrow) DesktopSourcePage(outer, ThisModule(), PlatformFrame());
  if (!page && result) *result = E_OUTOFMEMORY;
  return page;
}

}  // namespace dorvantel
