#include "editor/capture_panel.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "base/dpi_awareness.h"
#include "base/gdi_resources.h"
#include "base/monitors.h"
#include "base/window_title.h"
#include "editor/overlay.h"
#include "editor/panel_resource.h"
#include "editor/window_list_dialog.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

// The scaling a new size starts with: GDI+'s best.
constexpr int kQualityMode = 7;

const int kErrorControls[] = {IDC_PANEL_TITLE_ERROR, IDC_PANEL_REGION_ERROR, IDC_PANEL_RATE_ERROR,
                              IDC_PANEL_SIZE_ERROR, IDC_PANEL_ERROR};

bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

std::wstring Text(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
  return text;
}

void SetNumber(HWND dialog, int id, LONG value) { ::SetDlgItemInt(dialog, id, static_cast<UINT>(value), TRUE); }

// The area buttons, one for each thing to capture.
const int kAreas[] = {IDC_PANEL_DISPLAY, IDC_PANEL_MONITOR, IDC_PANEL_DESKTOP, IDC_PANEL_REGION, IDC_PANEL_WINDOW};

int AreaOf(CaptureTarget target) {
  switch (target) {
    case CaptureTarget::Display: return IDC_PANEL_DISPLAY;
    case CaptureTarget::Monitor: return IDC_PANEL_MONITOR;
    case CaptureTarget::Desktop: return IDC_PANEL_DESKTOP;
    case CaptureTarget::Rectangle: return IDC_PANEL_REGION;
    case CaptureTarget::Window: return IDC_PANEL_WINDOW;
  }
  return IDC_PANEL_DISPLAY;
}

CaptureTarget TargetOf(int area) {
  switch (area) {
    case IDC_PANEL_MONITOR: return CaptureTarget::Monitor;
    case IDC_PANEL_DESKTOP: return CaptureTarget::Desktop;
    case IDC_PANEL_REGION: return CaptureTarget::Rectangle;
    case IDC_PANEL_WINDOW: return CaptureTarget::Window;
  }
  return CaptureTarget::Display;
}

// The area button checked; 0 for none.
int Area(HWND dialog) {
  for (int id : kAreas) {
    if (Checked(dialog, id)) return id;
  }
  return 0;
}

void SetArea(HWND dialog, int area) {
  for (int id : kAreas) ::CheckDlgButton(dialog, id, id == area ? BST_CHECKED : BST_UNCHECKED);
}

void SetRegion(HWND dialog, const RECT& r) {
  SetNumber(dialog, IDC_PANEL_X, r.left);
  SetNumber(dialog, IDC_PANEL_Y, r.top);
  SetNumber(dialog, IDC_PANEL_W, r.right - r.left);
  SetNumber(dialog, IDC_PANEL_H, r.bottom - r.top);
}

// The monitors as every tool numbers and names them; a monitor the preset names that is not
// there now keeps its number, so that the preset is not changed by opening it.
void FillMonitors(HWND dialog, const std::optional<int>& chosen) {
  const HWND list = ::GetDlgItem(dialog, IDC_PANEL_MONITORS);
  auto add = [list](const std::wstring& text, int number) {
    const LRESULT at = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (at >= 0) ::SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), number);
  };
  MonitorLayout layout;
  {
    PhysicalPixels physical;  // the monitors as the filter numbers and measures them
    layout.Read();
  }
  for (const Monitor& monitor : layout) add(DescribeMonitor(monitor), monitor.number);
  if (chosen && !layout.Find(*chosen)) add(std::to_wstring(*chosen) + L": not connected now", *chosen);
  const int wanted = chosen.value_or(1);
  const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (::SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == wanted) {
      ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      return;
    }
  }
  if (count > 0) ::SendMessageW(list, CB_SETCURSEL, 0, 0);
}

// The output size offered before one is chosen: half the primary monitor, in physical pixels.
OutputDimensions HalfTheScreen() {
  PhysicalPixels physical;
  return OutputDimensions{::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2};
}

int ScalingIndex(int mode) {
  const std::vector<InterpolationChoice>& choices = InterpolationChoices();
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].mode == mode) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

HWND CapturePanel::Create(HMODULE module, HWND parent, const RECT& place, const Preset& preset) {
  Destroy();
  preset_ = preset;
  module_ = module;
  // The rate's arrows and the window list are common controls: a host need not have loaded them.
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
  window_ = ::CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_CAPTURE_PANEL), parent, Proc,
                                 reinterpret_cast<LPARAM>(this));
  if (!window_) return nullptr;
  Fill();
  ::MoveWindow(window_, place.left, place.top, place.right - place.left, place.bottom - place.top, FALSE);
  return window_;
}

void CapturePanel::Destroy() noexcept {
  if (!window_) return;
  HWND window = window_;
  window_ = nullptr;
  ::DestroyWindow(window);
}

void CapturePanel::Fill() {
  filling_ = true;
  HWND d = window_;
  const Preset& p = preset_;
  SetArea(d, AreaOf(p.target));
  FillMonitors(d, p.monitor);
  ::SetDlgItemTextW(d, IDC_PANEL_TITLE, p.windowTitle.c_str());
  ::CheckDlgButton(d, IDC_PANEL_WINDOW_PART,
                   p.target == CaptureTarget::Window && p.rectangle ? BST_CHECKED : BST_UNCHECKED);
  if (p.rectangle) SetRegion(d, *p.rectangle);
  ::SendDlgItemMessageW(d, IDC_PANEL_RATE_SPIN, UDM_SETRANGE32, SourceLimits::kMinFrameRate,
                        SourceLimits::kMaxFrameRate);
  SetNumber(d, IDC_PANEL_RATE, p.rate());
  for (const InterpolationChoice& choice : InterpolationChoices()) {
    ::SendDlgItemMessageW(d, IDC_PANEL_SCALING, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.label));
  }
  const int scaling = p.interpolation ? ScalingIndex(*p.interpolation) : -1;
  ::SendDlgItemMessageW(d, IDC_PANEL_SCALING, CB_SETCURSEL,
                        static_cast<WPARAM>(scaling >= 0 ? scaling : ScalingIndex(kQualityMode)), 0);
  ::CheckDlgButton(d, IDC_PANEL_SCALE, p.outputSize ? BST_CHECKED : BST_UNCHECKED);
  const OutputDimensions size = p.outputSize.value_or(HalfTheScreen());
  SetNumber(d, IDC_PANEL_SCALE_W, size.width);
  SetNumber(d, IDC_PANEL_SCALE_H, size.height);
  ::SendDlgItemMessageW(d, IDC_PANEL_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"any (host's choice)"));
  for (const PixelFormatInfo& info : PixelFormats()) {
    ::SendDlgItemMessageW(d, IDC_PANEL_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info.name));
  }
  ::SendDlgItemMessageW(d, IDC_PANEL_FORMAT, CB_SETCURSEL, p.format ? static_cast<WPARAM>(*p.format) + 1 : 0, 0);
  ::CheckDlgButton(d, IDC_PANEL_CURSOR, p.cursor.value_or(false) ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(d, IDC_PANEL_LAYERED, p.layeredWindows.value_or(false) ? BST_CHECKED : BST_UNCHECKED);
  UpdateEnabled();
  filling_ = false;
}

void CapturePanel::UpdateEnabled() const {
  HWND d = window_;
  const int area = Area(d);
  const bool window = area == IDC_PANEL_WINDOW;
  const bool region = area == IDC_PANEL_REGION || (window && Checked(d, IDC_PANEL_WINDOW_PART));
  for (int id : {IDC_PANEL_TITLE, IDC_PANEL_PICK_LIST, IDC_PANEL_WINDOW_PART}) {
    ::EnableWindow(::GetDlgItem(d, id), window);
  }
  ::EnableWindow(::GetDlgItem(d, IDC_PANEL_MONITORS), area == IDC_PANEL_MONITOR);
  for (int id : {IDC_PANEL_X, IDC_PANEL_Y, IDC_PANEL_W, IDC_PANEL_H}) ::EnableWindow(::GetDlgItem(d, id), region);
  const bool scaled = Checked(d, IDC_PANEL_SCALE);
  for (int id : {IDC_PANEL_SCALE_W, IDC_PANEL_SCALE_H, IDC_PANEL_SCALING}) {
    ::EnableWindow(::GetDlgItem(d, id), scaled);
  }
}

bool CapturePanel::Read(Preset* preset, bool show, std::wstring* first) const {
  HWND d = window_;
  const Preset& original = preset_;
  *preset = original;
  first->clear();
  if (!d) return true;
  bool good = true;
  auto report = [&](int errorId, const std::wstring& message) {
    if (!message.empty()) {
      good = false;
      if (first->empty()) *first = message;
    }
    if (show) ::SetDlgItemTextW(d, errorId, message.c_str());
  };
  auto field = [&](int errorId, PresetField which, const std::wstring& text) {
    report(errorId, FieldMessage(SetField(preset, which, text)));
  };

  const int area = Area(d);
  preset->target = area ? TargetOf(area) : original.target;
  preset->monitor.reset();
  std::wstring noMonitor;
  if (preset->target == CaptureTarget::Monitor) {
    const LRESULT at = ::SendDlgItemMessageW(d, IDC_PANEL_MONITORS, CB_GETCURSEL, 0, 0);
    if (at >= 0) {
      preset->monitor = static_cast<int>(::SendDlgItemMessageW(d, IDC_PANEL_MONITORS, CB_GETITEMDATA,
                                                              static_cast<WPARAM>(at), 0));
    } else if (!original.monitor) {
      noMonitor = L"Choose a monitor: the platform lists none now";
    } else {
      preset->monitor = original.monitor;
    }
  }
  preset->windowTitle.clear();
  if (area == IDC_PANEL_WINDOW) {
    field(IDC_PANEL_TITLE_ERROR, PresetField::WindowTitle, Text(d, IDC_PANEL_TITLE));
  } else {
    report(IDC_PANEL_TITLE_ERROR, L"");
  }
  preset->rectangle.reset();
  if (area == IDC_PANEL_REGION || (area == IDC_PANEL_WINDOW && Checked(d, IDC_PANEL_WINDOW_PART))) {
    field(IDC_PANEL_REGION_ERROR, PresetField::Rectangle,
          Text(d, IDC_PANEL_X) + L"," + Text(d, IDC_PANEL_Y) + L"," + Text(d, IDC_PANEL_W) + L"," +
              Text(d, IDC_PANEL_H));
  } else {
    report(IDC_PANEL_REGION_ERROR, L"");
  }
  field(IDC_PANEL_RATE_ERROR, PresetField::FrameRate, Text(d, IDC_PANEL_RATE));
  preset->outputSize.reset();
  if (Checked(d, IDC_PANEL_SCALE)) {
    field(IDC_PANEL_SIZE_ERROR, PresetField::OutputSize,
          Text(d, IDC_PANEL_SCALE_W) + L"x" + Text(d, IDC_PANEL_SCALE_H));
    const std::vector<InterpolationChoice>& choices = InterpolationChoices();
    const int scaling = static_cast<int>(::SendDlgItemMessageW(d, IDC_PANEL_SCALING, CB_GETCURSEL, 0, 0));
    preset->interpolation =
        choices[static_cast<size_t>(std::clamp(scaling, 0, static_cast<int>(choices.size()) - 1))].mode;
  } else {
    report(IDC_PANEL_SIZE_ERROR, L"");
  }
  const int format = static_cast<int>(::SendDlgItemMessageW(d, IDC_PANEL_FORMAT, CB_GETCURSEL, 0, 0));
  preset->format.reset();
  if (format > 0 && static_cast<size_t>(format) <= PixelFormats().size()) {
    preset->format = PixelFormats()[static_cast<size_t>(format - 1)].format;
  }
  // A box left clear names nothing, unless the preset named the setting before.
  auto flag = [&](int id, const std::optional<bool>& before) -> std::optional<bool> {
    if (Checked(d, id)) return true;
    return before ? std::optional<bool>(false) : std::nullopt;
  };
  preset->cursor = flag(IDC_PANEL_CURSOR, original.cursor);
  preset->layeredWindows = flag(IDC_PANEL_LAYERED, original.layeredWindows);
  // What no field shows (a stored rate mode) is checked too.
  report(IDC_PANEL_ERROR, !noMonitor.empty() ? noMonitor : good ? CheckPreset(*preset).message : L"");
  return good;
}

void CapturePanel::SetNote(const std::wstring& text) const {
  if (window_) ::SetDlgItemTextW(window_, IDC_PANEL_NOTE, text.c_str());
}

void CapturePanel::SetError(const std::wstring& text) const {
  if (window_) ::SetDlgItemTextW(window_, IDC_PANEL_ERROR, text.c_str());
}

INT_PTR CALLBACK CapturePanel::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  auto* panel = reinterpret_cast<CapturePanel*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!panel) return FALSE;
  if (panel->embedder && panel->window_ == dialog && panel->embedder(message, wparam, lparam)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: return FALSE;  // the frame places the focus
    case WM_CTLCOLORSTATIC: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (std::find(std::begin(kErrorControls), std::end(kErrorControls), id) == std::end(kErrorControls)) break;
      const auto dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, RGB(200, 0, 0));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND: {
      if (panel->filling_ || panel->window_ != dialog) return TRUE;
      const int id = LOWORD(wparam), code = HIWORD(wparam);
      if (code == BN_CLICKED) {
        switch (id) {
          case IDC_PANEL_PICK_LIST: panel->PickFromList(); return TRUE;
          case IDC_PANEL_PICK_CLICK: panel->PickByClick(); return TRUE;
          case IDC_PANEL_DRAW: panel->Draw(); return TRUE;
        }
      }
      const bool button = code == BN_CLICKED && ::GetDlgItem(dialog, id) &&
                          (std::find(std::begin(kAreas), std::end(kAreas), id) != std::end(kAreas) ||
                           id == IDC_PANEL_WINDOW_PART || id == IDC_PANEL_SCALE || id == IDC_PANEL_CURSOR ||
                           id == IDC_PANEL_LAYERED);
      if (button) panel->UpdateEnabled();
      if ((button || code == EN_CHANGE || code == CBN_SELCHANGE) && panel->changed) panel->changed();
      return TRUE;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
      break;
  }
  return FALSE;
}

void CapturePanel::Edited() const {
  UpdateEnabled();
  if (changed) changed();
}

bool CapturePanel::PointAt(OverlayMode mode, RECT* region, HWND* window) const {
  // The window the panel is in and the one that owns it are hidden, so that the picture of the
  // screen shows what lies below them; the windows below get a moment to repaint.
  const HWND top = ::GetAncestor(window_, GA_ROOT);
  HWND hidden[2] = {top, ::GetWindow(top, GW_OWNER)};
  for (HWND& each : hidden) {
    if (!each || !::IsWindowVisible(each)) {
      each = nullptr;
      continue;
    }
    ::ShowWindow(each, SW_HIDE);
  }
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (::GetTickCount() - start < 400) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(20);
  }
  const bool taken = RunOverlay(module_, top, mode, region, window);
  for (HWND each : {hidden[1], hidden[0]}) {
    if (each) ::ShowWindow(each, SW_SHOW);
  }
  ::SetForegroundWindow(top);
  return taken;
}

void CapturePanel::Picked(const std::wstring& title) const {
  ::SetDlgItemTextW(window_, IDC_PANEL_TITLE, title.c_str());
  SetArea(window_, IDC_PANEL_WINDOW);
  Edited();
}

void CapturePanel::PickFromList() const {
  std::wstring title;
  HWND window = nullptr;
  if (ChooseWindowFromList(module_, ::GetAncestor(window_, GA_ROOT), &title, &window)) Picked(title);
}

void CapturePanel::PickByClick() const {
  RECT bounds{};
  HWND window = nullptr;
  if (!PointAt(OverlayMode::Window, &bounds, &window) || !window) return;
  wchar_t title[512] = {};
  ::GetWindowTextW(window, title, 512);
  Picked(title);
}

void CapturePanel::Draw() const {
  HWND d = window_;
  const bool inWindow = Area(d) == IDC_PANEL_WINDOW;
  RECT base{};
  if (inWindow) {
    // A part of the window the filter will capture: found by its title as the filter finds it.
    const HWND window = FindWindowByTitle(Text(d, IDC_PANEL_TITLE));
    if (window) base = WindowRectOnScreen(window);  // its corner where the filter and the overlay see it
    if (!window || ::IsRectEmpty(&base)) {
      ::SetDlgItemTextW(d, IDC_PANEL_TITLE_ERROR, L"No window has this title now: open it, or pick another");
      return;
    }
  } else {
    SetArea(d, IDC_PANEL_REGION);
  }
  RECT region{};
  BOOL ok[4];
  region.left = static_cast<int>(::GetDlgItemInt(d, IDC_PANEL_X, &ok[0], TRUE)) + base.left;
  region.top = static_cast<int>(::GetDlgItemInt(d, IDC_PANEL_Y, &ok[1], TRUE)) + base.top;
  region.right = region.left + static_cast<int>(::GetDlgItemInt(d, IDC_PANEL_W, &ok[2], TRUE));
  region.bottom = region.top + static_cast<int>(::GetDlgItemInt(d, IDC_PANEL_H, &ok[3], TRUE));
  if (!(ok[0] && ok[1] && ok[2] && ok[3])) region = RECT{};
  if (PointAt(OverlayMode::Region, &region, nullptr)) {
    ::OffsetRect(&region, -base.left, -base.top);
    SetRegion(d, region);
  }
  Edited();
}

SIZE CapturePanel::TemplateSize(HMODULE module, int extraUnitsHigh) {
  SIZE size{0, 0};
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(IDD_CAPTURE_PANEL), reinterpret_cast<LPCWSTR>(RT_DIALOG));
  HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
  const auto* bytes = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
  // DLGTEMPLATEEX: version, signature 0xFFFF, help id, extended style, style, item count, x, y,
  // then the width and height in dialog units.
  if (!bytes || ::SizeofResource(module, found) < 26) return size;
  const auto word = [bytes](size_t at) { return static_cast<short>(bytes[at] | (bytes[at + 1] << 8)); };
  if (static_cast<WORD>(word(2)) != 0xFFFF) return size;
  const int unitsWide = word(22), unitsHigh = word(24) + extraUnitsHigh;
  // The dialog font's average character width and height, as the dialog manager measures them.
  WindowDC screen = WindowDC::Get(nullptr);
  if (!screen) return size;
  GdiObject<HFONT> font(::CreateFontW(-::MulDiv(8, ::GetDeviceCaps(screen.get(), LOGPIXELSY), 72), 0, 0, 0,
                                      FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg"));
  SelectedObject selected(screen.get(), font.get());
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(screen.get(), &metrics);
  SIZE letters{};
  static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  ::GetTextExtentPoint32W(screen.get(), kAlphabet, 52, &letters);
  const int baseX = (letters.cx / 26 + 1) / 2, baseY = metrics.tmHeight;
  size.cx = ::MulDiv(unitsWide, baseX, 4);
  size.cy = ::MulDiv(unitsHigh, baseY, 8);
  return size;
}

}  // namespace dorvantel
