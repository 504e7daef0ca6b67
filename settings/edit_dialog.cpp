#include "settings/edit_dialog.h"

#include <commctrl.h>

#include <algorithm>

#include "module/dorvantel.h"
#include "hostkit/device_registration.h"
#include "hostkit/options.h"
#include "settings/device_store.h"
#include "settings/overlay.h"
#include "settings/preview.h"
#include "settings/resource.h"
#include "settings/window_list.h"

namespace dorvantel {

namespace {

constexpr UINT kFrameMessage = WM_APP + 1;
constexpr UINT_PTR kPreviewTimer = 1;
constexpr UINT kPreviewDelayMs = 500;
constexpr int kPreviewRate = 4;  // frames a second in the preview

// The scaling choices: the register tool's --interpolation names, the two plain ones first.
const wchar_t* const kScalingLabels[] = {L"fast",         L"quality",      L"GDI+ default",
                                         L"GDI+ low",     L"GDI+ high",    L"GDI+ bilinear",
                                         L"GDI+ bicubic", L"GDI+ nearest", L"GDI+ hq-bilinear"};
const wchar_t* const kScalingNames[] = {L"fast",     L"hq-bicubic", L"default", L"low",        L"high",
                                        L"bilinear", L"bicubic",    L"nearest", L"hq-bilinear"};
constexpr int kQuality = 1;

const int kErrorControls[] = {IDC_NAME_ERROR, IDC_TITLE_ERROR, IDC_REGION_ERROR,
                              IDC_RATE_ERROR, IDC_SIZE_ERROR,  IDC_SAVE_ERROR};

// The editor's state, owned by EditPreset's frame; the dialog's user data points at it.
struct Editor {
  PresetEdit* edit;
  Preview preview;
  std::vector<std::wstring> previewed;  // the arguments the preview runs with
  bool previewing = false;
  std::wstring previewSize;
  std::wstring rateMode;  // a stored --rate-mode, kept as it was
  HWND picked = nullptr;  // the window last picked, for a region of it
};

std::wstring Text(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
  return text;
}

bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// An option check's message as a field's: without the option's name ("--rate needs ..." ->
// "Needs ...").
std::wstring FieldMessage(const std::wstring& error) {
  std::wstring text = error;
  if (text.compare(0, 2, L"--") == 0) {
    const size_t space = text.find(L' ');
    text = space == std::wstring::npos ? text : text.substr(space + 1);
  }
  if (!text.empty()) text[0] = static_cast<wchar_t>(::towupper(text[0]));
  return text;
}

// The region's four fields as --rect's value.
std::wstring RegionText(HWND dialog) {
  return Text(dialog, IDC_X) + L"," + Text(dialog, IDC_Y) + L"," + Text(dialog, IDC_W) + L"," + Text(dialog, IDC_H);
}

void SetRegion(HWND dialog, const RECT& r) {
  ::SetDlgItemInt(dialog, IDC_X, static_cast<UINT>(r.left), TRUE);
  ::SetDlgItemInt(dialog, IDC_Y, static_cast<UINT>(r.top), TRUE);
  ::SetDlgItemInt(dialog, IDC_W, static_cast<UINT>(r.right - r.left), TRUE);
  ::SetDlgItemInt(dialog, IDC_H, static_cast<UINT>(r.bottom - r.top), TRUE);
}

int Area(HWND dialog) {
  if (Checked(dialog, IDC_AREA_WINDOW)) return IDC_AREA_WINDOW;
  if (Checked(dialog, IDC_AREA_REGION)) return IDC_AREA_REGION;
  return IDC_AREA_DISPLAY;
}

// The fields as the register tool's capture options, each field checked alone by the
// tool's checks. With show, every field's message goes beside it (and an empty one clears
// it); *first gets the first message. True when every field is good (the name too, with
// withName: the name does not change what is captured).
bool ReadFields(HWND dialog, Editor* editor, bool show, bool withName, std::vector<std::wstring>* arguments,
                std::wstring* first) {
  arguments->clear();
  first->clear();
  bool good = true;
  auto field = [&](int errorId, std::vector<std::wstring> options, const std::wstring& ownError = {}) {
    std::wstring error = ownError;
    if (error.empty()) {
      const ParsedOptions parsed = ParseOptions(options, OptionsFor::Preset);
      if (!parsed.ok()) error = FieldMessage(parsed.error);
    }
    if (error.empty()) {
      arguments->insert(arguments->end(), options.begin(), options.end());
    } else {
      good = false;
      if (first->empty()) *first = error;
    }
    if (show) ::SetDlgItemTextW(dialog, errorId, error.c_str());
  };

  const std::wstring name = Text(dialog, IDC_NAME);
  std::wstring nameError = FieldMessage(CheckDeviceName(name));
  const auto& taken = editor->edit->taken;
  if (nameError.empty() && name != editor->edit->original &&
      std::find(taken.begin(), taken.end(), name) != taken.end()) {
    nameError = L"A device of this name exists already";
  }
  if (withName) field(IDC_NAME_ERROR, {}, nameError);

  const int area = Area(dialog);
  if (area == IDC_AREA_WINDOW) {
    field(IDC_TITLE_ERROR, {L"--window", Text(dialog, IDC_TITLE)});
  } else if (show) {
    ::SetDlgItemTextW(dialog, IDC_TITLE_ERROR, L"");
  }
  if (area == IDC_AREA_REGION || (area == IDC_AREA_WINDOW && Checked(dialog, IDC_WINDOW_REGION))) {
    field(IDC_REGION_ERROR, {L"--rect", RegionText(dialog)});
  } else if (show) {
    ::SetDlgItemTextW(dialog, IDC_REGION_ERROR, L"");
  }
  field(IDC_RATE_ERROR, {L"--rate", Text(dialog, IDC_RATE)});
  if (!editor->rateMode.empty()) arguments->insert(arguments->end(), {L"--rate-mode", editor->rateMode});
  if (Checked(dialog, IDC_SCALE)) {
    const int scaling = static_cast<int>(::SendDlgItemMessageW(dialog, IDC_SCALING, CB_GETCURSEL, 0, 0));
    field(IDC_SIZE_ERROR, {L"--size", Text(dialog, IDC_SCALE_W) + L"x" + Text(dialog, IDC_SCALE_H), L"--interpolation",
                           kScalingNames[std::clamp(scaling, 0, 8)]});
  } else if (show) {
    ::SetDlgItemTextW(dialog, IDC_SIZE_ERROR, L"");
  }
  const int format = static_cast<int>(::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_GETCURSEL, 0, 0));
  if (format > 0) arguments->insert(arguments->end(), {L"--format", OutputFormatNames[format - 1]});
  if (Checked(dialog, IDC_CURSOR)) arguments->push_back(L"--cursor");
  if (Checked(dialog, IDC_LAYERED)) arguments->push_back(L"--layered");
  if (show) ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, L"");
  return good;
}

void UpdateEnabled(HWND dialog) {
  const int area = Area(dialog);
  const bool window = area == IDC_AREA_WINDOW;
  const bool region = area == IDC_AREA_REGION || (window && Checked(dialog, IDC_WINDOW_REGION));
  for (int id : {IDC_TITLE, IDC_PICK_LIST, IDC_WINDOW_REGION}) ::EnableWindow(::GetDlgItem(dialog, id), window);
  for (int id : {IDC_X, IDC_Y, IDC_W, IDC_H}) ::EnableWindow(::GetDlgItem(dialog, id), region);
  const bool scaled = Checked(dialog, IDC_SCALE);
  for (int id : {IDC_SCALE_W, IDC_SCALE_H, IDC_SCALING}) ::EnableWindow(::GetDlgItem(dialog, id), scaled);
}

void ShowPreviewText(HWND dialog, const std::wstring& text) {
  ::SetDlgItemTextW(dialog, IDC_PREVIEW_TEXT, text.c_str());
}

// Starts the preview anew when the settings changed and are good.
void RefreshPreview(HWND dialog, Editor* editor) {
  std::vector<std::wstring> arguments;
  std::wstring error;
  if (!ReadFields(dialog, editor, false, false, &arguments, &error)) {
    editor->preview.Stop();
    editor->previewing = false;
    editor->previewed.clear();
    ShowPreviewText(dialog, L"No preview: " + error);
    ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
    return;
  }
  if (editor->previewing && arguments == editor->previewed) return;
  const ParsedOptions parsed = ParseOptions(arguments, OptionsFor::Preset);
  editor->previewed = arguments;
  editor->previewSize.clear();
  std::wstring startError;
  HRESULT hr = parsed.ok() ? editor->preview.Start(PresetValues(parsed.options), kPreviewRate, dialog, kFrameMessage,
                                                   &startError)
                           : E_INVALIDARG;
  editor->previewing = SUCCEEDED(hr);
  ShowPreviewText(dialog, SUCCEEDED(hr) ? L"Starting..." : L"No preview: " + (parsed.ok() ? startError : parsed.error));
  ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
}

void Changed(HWND dialog) { ::SetTimer(dialog, kPreviewTimer, kPreviewDelayMs, nullptr); }

struct FoundWindow {
  const std::wstring* title;
  HWND exact = nullptr, part = nullptr;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<FoundWindow*>(data);
  wchar_t text[512];
  if (!::IsWindowVisible(window) || ::GetWindowTextW(window, text, 512) <= 0) return TRUE;
  std::wstring title = text, wanted = *found->title;
  ::CharLowerBuffW(&title[0], static_cast<DWORD>(title.size()));
  ::CharLowerBuffW(&wanted[0], static_cast<DWORD>(wanted.size()));
  if (title == wanted) {
    found->exact = window;
    return FALSE;
  }
  if (!found->part && title.find(wanted) != std::wstring::npos) found->part = window;
  return TRUE;
}

// The window a title finds as the filter finds it: exact, else a part of it, ignoring case.
HWND FindWindowByTitle(const std::wstring& title) {
  FoundWindow found{&title};
  ::EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&found));
  return found.exact ? found.exact : found.part;
}

// Hides this program's windows, lets the ones below repaint, runs the overlay, shows them again.
bool PointAt(HWND dialog, OverlayMode mode, RECT* region, HWND* window) {
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  ::ShowWindow(dialog, SW_HIDE);
  if (owner) ::ShowWindow(owner, SW_HIDE);
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (::GetTickCount() - start < 400) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(20);
  }
  const bool taken = RunOverlay(dialog, mode, region, window);
  if (owner) ::ShowWindow(owner, SW_SHOW);
  ::ShowWindow(dialog, SW_SHOW);
  ::SetForegroundWindow(dialog);
  return taken;
}

void Draw(HWND dialog, Editor* editor) {
  const bool inWindow = Area(dialog) == IDC_AREA_WINDOW;
  RECT base{};
  if (inWindow) {
    HWND window =
        editor->picked && ::IsWindow(editor->picked) ? editor->picked : FindWindowByTitle(Text(dialog, IDC_TITLE));
    if (!window || !::GetWindowRect(window, &base)) {
      ::SetDlgItemTextW(dialog, IDC_TITLE_ERROR, L"No window has this title now: open it, or pick another");
      return;
    }
  } else {
    ::CheckRadioButton(dialog, IDC_AREA_DISPLAY, IDC_AREA_WINDOW, IDC_AREA_REGION);
  }
  RECT region{};
  BOOL ok[4];
  region.left = static_cast<int>(::GetDlgItemInt(dialog, IDC_X, &ok[0], TRUE)) + base.left;
  region.top = static_cast<int>(::GetDlgItemInt(dialog, IDC_Y, &ok[1], TRUE)) + base.top;
  region.right = region.left + static_cast<int>(::GetDlgItemInt(dialog, IDC_W, &ok[2], TRUE));
  region.bottom = region.top + static_cast<int>(::GetDlgItemInt(dialog, IDC_H, &ok[3], TRUE));
  if (!(ok[0] && ok[1] && ok[2] && ok[3])) region = RECT{};
  if (!PointAt(dialog, OverlayMode::Region, &region, nullptr)) return;
  ::OffsetRect(&region, -base.left, -base.top);
  SetRegion(dialog, region);
  UpdateEnabled(dialog);
  Changed(dialog);
}

void Picked(HWND dialog, Editor* editor, const std::wstring& title, HWND window) {
  editor->picked = window;
  ::SetDlgItemTextW(dialog, IDC_TITLE, title.c_str());
  ::CheckRadioButton(dialog, IDC_AREA_DISPLAY, IDC_AREA_WINDOW, IDC_AREA_WINDOW);
  UpdateEnabled(dialog);
  Changed(dialog);
}

void Fill(HWND dialog, Editor* editor) {
  const ParsedOptions parsed = ParseOptions(editor->edit->arguments, OptionsFor::Preset);
  const RecorderOptions& o = parsed.options;
  ::SetDlgItemTextW(dialog, IDC_NAME, editor->edit->name.c_str());
  const int area = o.target == CaptureTarget::Window      ? IDC_AREA_WINDOW
                   : o.target == CaptureTarget::Rectangle ? IDC_AREA_REGION
                                                          : IDC_AREA_DISPLAY;
  ::CheckRadioButton(dialog, IDC_AREA_DISPLAY, IDC_AREA_WINDOW, area);
  ::SetDlgItemTextW(dialog, IDC_TITLE, o.windowTitle.c_str());
  ::CheckDlgButton(dialog, IDC_WINDOW_REGION,
                   o.target == CaptureTarget::Window && o.hasRectangle ? BST_CHECKED : BST_UNCHECKED);
  if (o.hasRectangle) SetRegion(dialog, o.rectangle);
  ::SendDlgItemMessageW(dialog, IDC_RATE_SPIN, UDM_SETRANGE32, 1, 1000);
  ::SetDlgItemInt(dialog, IDC_RATE, static_cast<UINT>(o.frameRate), FALSE);
  if (o.rateModeGiven) editor->rateMode = std::to_wstring(o.frameRateMode);

  for (const wchar_t* label : kScalingLabels)
    ::SendDlgItemMessageW(dialog, IDC_SCALING, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
  int scaling = kQuality;
  if (o.interpolationGiven)
    scaling = o.interpolation == kInterpolationFast ? 0 : o.interpolation == 7 ? kQuality : o.interpolation + 2;
  ::SendDlgItemMessageW(dialog, IDC_SCALING, CB_SETCURSEL, static_cast<WPARAM>(std::clamp(scaling, 0, 8)), 0);
  ::CheckDlgButton(dialog, IDC_SCALE, o.scaled ? BST_CHECKED : BST_UNCHECKED);
  if (o.scaled) {
    ::SetDlgItemInt(dialog, IDC_SCALE_W, static_cast<UINT>(o.outputWidth), FALSE);
    ::SetDlgItemInt(dialog, IDC_SCALE_H, static_cast<UINT>(o.outputHeight), FALSE);
  } else {
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    ::SetDlgItemInt(dialog, IDC_SCALE_W, static_cast<UINT>(w / 2), FALSE);
    ::SetDlgItemInt(dialog, IDC_SCALE_H, static_cast<UINT>(h / 2), FALSE);
  }
  ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"any (host's choice)"));
  for (int i = 0; i < 5; ++i)
    ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(OutputFormatNames[i]));
  ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_SETCURSEL, o.formatGiven ? static_cast<WPARAM>(o.pixels) + 1 : 0, 0);
  ::CheckDlgButton(dialog, IDC_CURSOR, o.cursorGiven && o.cursor ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(dialog, IDC_LAYERED, o.layeredWindows ? BST_CHECKED : BST_UNCHECKED);
  UpdateEnabled(dialog);
}

void Save(HWND dialog, Editor* editor) {
  std::vector<std::wstring> arguments;
  std::wstring error;
  if (!ReadFields(dialog, editor, true, true, &arguments, &error)) return;  // the messages are beside the fields
  const std::wstring name = Text(dialog, IDC_NAME);
  std::wstring done;
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  HRESULT hr = SaveDevice(name, arguments, &done, &error);
  const std::wstring& original = editor->edit->original;
  if (SUCCEEDED(hr) && !original.empty() && original != name) hr = DeleteDevice(original, &error);
  if (FAILED(hr)) {
    ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, (L"Not saved: " + error).c_str());
    return;
  }
  editor->edit->name = name;
  editor->edit->arguments = arguments;
  editor->edit->done = L"Saved \"" + name + L"\" for " + done + L".";
  editor->preview.Stop();
  ::EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK EditProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* editor = reinterpret_cast<Editor*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      editor = reinterpret_cast<Editor*>(lparam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      Fill(dialog, editor);
      Changed(dialog);
      return TRUE;
    case WM_TIMER:
      if (wparam == kPreviewTimer) {
        ::KillTimer(dialog, kPreviewTimer);
        RefreshPreview(dialog, editor);
      }
      return TRUE;
    case kFrameMessage:
      editor->preview.Consumed();
      ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, FALSE);
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID != IDC_PREVIEW) break;
      ::FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(::GetStockObject(DKGRAY_BRUSH)));
      std::wstring size;
      if (editor->previewing && editor->preview.Paint(item->hDC, item->rcItem, &size) && size != editor->previewSize) {
        editor->previewSize = size;
        ShowPreviewText(dialog, L"Live: " + size + L", as hosts get it");
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (std::find(std::begin(kErrorControls), std::end(kErrorControls), id) == std::end(kErrorControls)) break;
      HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, RGB(200, 0, 0));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam), code = HIWORD(wparam);
      switch (id) {
        case IDOK: Save(dialog, editor); return TRUE;
        case IDCANCEL:
          editor->preview.Stop();
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_DRAW: Draw(dialog, editor); return TRUE;
        case IDC_PICK_LIST: {
          std::wstring title;
          HWND window = nullptr;
          if (ChooseWindowFromList(dialog, &title, &window)) Picked(dialog, editor, title, window);
          return TRUE;
        }
        case IDC_PICK_CLICK: {
          RECT bounds{};
          HWND window = nullptr;
          if (PointAt(dialog, OverlayMode::Window, &bounds, &window) && window) {
            wchar_t title[512] = {};
            ::GetWindowTextW(window, title, 512);
            Picked(dialog, editor, title, window);
          }
          return TRUE;
        }
        case IDC_AREA_DISPLAY:
        case IDC_AREA_REGION:
        case IDC_AREA_WINDOW:
        case IDC_WINDOW_REGION:
        case IDC_SCALE:
        case IDC_CURSOR:
        case IDC_LAYERED:
          UpdateEnabled(dialog);
          Changed(dialog);
          return TRUE;
        default:
          if (code == EN_CHANGE || code == CBN_SELCHANGE) Changed(dialog);
          if (id == IDC_TITLE && code == EN_CHANGE) editor->picked = nullptr;
          return TRUE;
      }
    }
    case WM_DESTROY:
      ::KillTimer(dialog, kPreviewTimer);
      editor->preview.Stop();
      break;
  }
  return FALSE;
}

}  // namespace

bool EditPreset(HWND owner, PresetEdit* edit) {
  Editor editor{edit};
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_EDIT), owner, EditProc,
                           reinterpret_cast<LPARAM>(&editor)) == IDOK;
}

}  // namespace dorvantel
