#include "settings/edit_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "hostkit/device_registration.h"
#include "hostkit/result_text.h"
#include "preset/preset.h"
#include "hostkit/window_list.h"
#include "module/dorvantel.h"
#include "settings/background_task.h"
#include "settings/device_store.h"
#include "settings/dialog_parts.h"
#include "settings/overlay.h"
#include "settings/preview.h"
#include "settings/resource.h"
#include "settings/window_list_dialog.h"

namespace dorvantel {

namespace {

constexpr UINT kFrameMessage = WM_APP + 1;
constexpr UINT kStartedMessage = WM_APP + 3;  // the preview's start has ended
constexpr UINT_PTR kPreviewTimer = 1;
constexpr UINT kPreviewDelayMs = 500;
constexpr int kPreviewRate = 4;  // frames a second in the preview

// The scaling a new size starts with: GDI+'s best.
constexpr int kQualityMode = 7;

const int kErrorControls[] = {IDC_NAME_ERROR, IDC_TITLE_ERROR, IDC_REGION_ERROR,
                              IDC_RATE_ERROR, IDC_SIZE_ERROR,  IDC_SAVE_ERROR};

// The editor's state, owned by EditPreset's frame; the dialog's user data points at it.
struct Editor {
  PresetEdit* edit;
  Preview preview;
  Preset previewed;  // the preset the preview runs with
  bool previewing = false;
  std::wstring previewSize;
  BackgroundTask saving;  // the save under way: the fields wait for its outcome
  DisabledControls disabled;
};

bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The region's four fields as --rect's value.
std::wstring RegionText(HWND dialog) {
  return DialogText(dialog, IDC_X) + L"," + DialogText(dialog, IDC_Y) + L"," + DialogText(dialog, IDC_W) + L"," +
         DialogText(dialog, IDC_H);
}

void SetRegion(HWND dialog, const RECT& r) {
  ::SetDlgItemInt(dialog, IDC_X, static_cast<UINT>(r.left), TRUE);
  ::SetDlgItemInt(dialog, IDC_Y, static_cast<UINT>(r.top), TRUE);
  ::SetDlgItemInt(dialog, IDC_W, static_cast<UINT>(r.right - r.left), TRUE);
  ::SetDlgItemInt(dialog, IDC_H, static_cast<UINT>(r.bottom - r.top), TRUE);
}

// The area button checked; 0 for none: a preset of a monitor or the whole desktop, which the
// register tool makes and the editor keeps as it is.
int Area(HWND dialog) {
  for (int id : {IDC_AREA_DISPLAY, IDC_AREA_REGION, IDC_AREA_WINDOW}) {
    if (Checked(dialog, id)) return id;
  }
  return 0;
}

// The position of mode among the scaling choices.
int ScalingIndex(int mode) {
  const std::vector<InterpolationChoice>& choices = InterpolationChoices();
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].mode == mode) return static_cast<int>(i);
  }
  return -1;
}

// The fields read into the edited preset (what they do not show stays as it was), each field
// checked alone by the preset's checks. With show, every field's message goes beside it (and an
// empty one clears it); *first gets the first message. True when every field is good (the name
// too, with withName: the name does not change what is captured).
bool ReadFields(HWND dialog, Editor* editor, bool show, bool withName, Preset* preset, std::wstring* first) {
  const Preset& original = editor->edit->preset;
  *preset = original;
  first->clear();
  bool good = true;
  auto report = [&](int errorId, const std::wstring& message) {
    if (!message.empty()) {
      good = false;
      if (first->empty()) *first = message;
    }
    if (show) ::SetDlgItemTextW(dialog, errorId, message.c_str());
  };
  auto field = [&](int errorId, PresetField which, const std::wstring& text) {
    report(errorId, FieldMessage(SetField(preset, which, text)));
  };

  if (withName) {
    report(IDC_NAME_ERROR, CheckNewName(DialogText(dialog, IDC_NAME), editor->edit->original, editor->edit->taken));
  }

  const int area = Area(dialog);
  preset->target = area == IDC_AREA_WINDOW    ? CaptureTarget::Window
                   : area == IDC_AREA_REGION  ? CaptureTarget::Rectangle
                   : area == IDC_AREA_DISPLAY ? CaptureTarget::Display
                                              : original.target;
  if (preset->target != CaptureTarget::Monitor) preset->monitor.reset();
  preset->windowTitle.clear();
  if (area == IDC_AREA_WINDOW) {
    field(IDC_TITLE_ERROR, PresetField::WindowTitle, DialogText(dialog, IDC_TITLE));
  } else {
    report(IDC_TITLE_ERROR, L"");
  }
  preset->rectangle.reset();
  if (area == IDC_AREA_REGION || (area == IDC_AREA_WINDOW && Checked(dialog, IDC_WINDOW_REGION))) {
    field(IDC_REGION_ERROR, PresetField::Rectangle, RegionText(dialog));
  } else {
    report(IDC_REGION_ERROR, L"");
  }
  field(IDC_RATE_ERROR, PresetField::FrameRate, DialogText(dialog, IDC_RATE));
  preset->outputSize.reset();
  if (Checked(dialog, IDC_SCALE)) {
    field(IDC_SIZE_ERROR, PresetField::OutputSize,
          DialogText(dialog, IDC_SCALE_W) + L"x" + DialogText(dialog, IDC_SCALE_H));
    const std::vector<InterpolationChoice>& choices = InterpolationChoices();
    const int scaling = static_cast<int>(::SendDlgItemMessageW(dialog, IDC_SCALING, CB_GETCURSEL, 0, 0));
    preset->interpolation =
        choices[static_cast<size_t>(std::clamp(scaling, 0, static_cast<int>(choices.size()) - 1))].mode;
  } else {
    report(IDC_SIZE_ERROR, L"");
  }
  const int format = static_cast<int>(::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_GETCURSEL, 0, 0));
  preset->format.reset();
  if (format > 0 && static_cast<size_t>(format) <= PixelFormats().size()) {
    preset->format = PixelFormats()[static_cast<size_t>(format - 1)].format;
  }
  // A box left clear names nothing, unless the preset named the setting before.
  auto flag = [&](int id, const std::optional<bool>& before) -> std::optional<bool> {
    if (Checked(dialog, id)) return true;
    return before ? std::optional<bool>(false) : std::nullopt;
  };
  preset->cursor = flag(IDC_CURSOR, original.cursor);
  preset->layeredWindows = flag(IDC_LAYERED, original.layeredWindows);
  // What no field shows (a stored rate mode) is checked too.
  const PresetProblem rest = good ? CheckPreset(*preset) : PresetProblem{};
  report(IDC_SAVE_ERROR, rest.message);
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
  Preset preset;
  std::wstring error;
  if (!ReadFields(dialog, editor, false, false, &preset, &error)) {
    editor->preview.Stop();
    editor->previewing = false;
    ShowPreviewText(dialog, L"No preview: " + error);
    ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
    return;
  }
  if (editor->previewing && preset == editor->previewed) return;
  editor->previewed = preset;
  editor->previewSize.clear();
  HRESULT hr = editor->preview.Show(preset, kPreviewRate, dialog, kFrameMessage, kStartedMessage);
  editor->previewing = SUCCEEDED(hr);
  ShowPreviewText(dialog, SUCCEEDED(hr) ? L"Starting..." : L"No preview: " + ResultText(hr));
  ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
}

void Changed(HWND dialog) { ::SetTimer(dialog, kPreviewTimer, kPreviewDelayMs, nullptr); }

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
    // The window the device will capture: found by its title as the filter finds it.
    Preset preset;
    std::wstring error;
    ReadFields(dialog, editor, false, false, &preset, &error);
    HWND window = FindCapturedWindow(preset);
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

void Picked(HWND dialog, const std::wstring& title) {
  ::SetDlgItemTextW(dialog, IDC_TITLE, title.c_str());
  ::CheckRadioButton(dialog, IDC_AREA_DISPLAY, IDC_AREA_WINDOW, IDC_AREA_WINDOW);
  UpdateEnabled(dialog);
  Changed(dialog);
}

void Fill(HWND dialog, Editor* editor) {
  const Preset& p = editor->edit->preset;
  ::SetDlgItemTextW(dialog, IDC_NAME, editor->edit->name.c_str());
  const int area = p.target == CaptureTarget::Window      ? IDC_AREA_WINDOW
                   : p.target == CaptureTarget::Rectangle ? IDC_AREA_REGION
                   : p.target == CaptureTarget::Display   ? IDC_AREA_DISPLAY
                                                          : 0;  // a monitor or the desktop: none
  for (int id : {IDC_AREA_DISPLAY, IDC_AREA_REGION, IDC_AREA_WINDOW}) {
    ::CheckDlgButton(dialog, id, id == area ? BST_CHECKED : BST_UNCHECKED);
  }
  ::SetDlgItemTextW(dialog, IDC_TITLE, p.windowTitle.c_str());
  ::CheckDlgButton(dialog, IDC_WINDOW_REGION,
                   p.target == CaptureTarget::Window && p.rectangle ? BST_CHECKED : BST_UNCHECKED);
  if (p.rectangle) SetRegion(dialog, *p.rectangle);
  ::SendDlgItemMessageW(dialog, IDC_RATE_SPIN, UDM_SETRANGE32, SourceLimits::kMinFrameRate,
                        SourceLimits::kMaxFrameRate);
  ::SetDlgItemInt(dialog, IDC_RATE, static_cast<UINT>(p.rate()), FALSE);

  for (const InterpolationChoice& choice : InterpolationChoices())
    ::SendDlgItemMessageW(dialog, IDC_SCALING, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.label));
  const int scaling = p.interpolation ? ScalingIndex(*p.interpolation) : -1;
  ::SendDlgItemMessageW(dialog, IDC_SCALING, CB_SETCURSEL,
                        static_cast<WPARAM>(scaling >= 0 ? scaling : ScalingIndex(kQualityMode)), 0);
  ::CheckDlgButton(dialog, IDC_SCALE, p.outputSize ? BST_CHECKED : BST_UNCHECKED);
  if (p.outputSize) {
    ::SetDlgItemInt(dialog, IDC_SCALE_W, static_cast<UINT>(p.outputSize->width), FALSE);
    ::SetDlgItemInt(dialog, IDC_SCALE_H, static_cast<UINT>(p.outputSize->height), FALSE);
  } else {
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    ::SetDlgItemInt(dialog, IDC_SCALE_W, static_cast<UINT>(w / 2), FALSE);
    ::SetDlgItemInt(dialog, IDC_SCALE_H, static_cast<UINT>(h / 2), FALSE);
  }
  ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"any (host's choice)"));
  for (const PixelFormatInfo& info : PixelFormats())
    ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info.name));
  ::SendDlgItemMessageW(dialog, IDC_FORMAT, CB_SETCURSEL, p.format ? static_cast<WPARAM>(*p.format) + 1 : 0, 0);
  ::CheckDlgButton(dialog, IDC_CURSOR, p.cursor.value_or(false) ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(dialog, IDC_LAYERED, p.layeredWindows.value_or(false) ? BST_CHECKED : BST_UNCHECKED);
  UpdateEnabled(dialog);
}

void Save(HWND dialog, Editor* editor) {
  Preset preset;
  std::wstring error;
  if (!ReadFields(dialog, editor, true, true, &preset, &error)) return;  // the messages are beside the fields
  const std::wstring name = DialogText(dialog, IDC_NAME), original = editor->edit->original;
  // Off the window's thread: the other bitness's register tool can take minutes.
  auto outcome = std::make_shared<StoreOutcome>();
  editor->disabled.Disable(dialog);
  ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, L"Saving...");
  const HRESULT hr = editor->saving.Start(
      dialog, kTaskDoneMessage,
      [outcome, name, original, preset] {
        outcome->result = SaveDevice(name, preset, &outcome->done, &outcome->error);
        // A name that differs in case only is the same registry key, which the save wrote over.
        if (SUCCEEDED(outcome->result) && !original.empty() && !SameDeviceKey(original, name)) {
          outcome->result = DeleteDevice(original, &outcome->error);
        }
      },
      [dialog, editor, outcome, name, preset] {
        editor->disabled.Restore();
        if (FAILED(outcome->result)) {
          ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, (L"Not saved: " + outcome->error).c_str());
          return;
        }
        editor->edit->name = name;
        editor->edit->preset = preset;
        editor->edit->done = L"Saved \"" + name + L"\" for " + outcome->done + L".";
        editor->preview.Stop();
        ::EndDialog(dialog, IDOK);
      });
  if (FAILED(hr)) {
    editor->disabled.Restore();
    ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, (L"Not saved: " + ResultText(hr)).c_str());
  }
}

INT_PTR CALLBACK EditProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* editor = DialogState<Editor>(dialog, message, lparam);
  switch (message) {
    case WM_INITDIALOG:
      Fill(dialog, editor);
      Changed(dialog);
      return TRUE;
    case WM_TIMER:
      if (wparam == kPreviewTimer) {
        ::KillTimer(dialog, kPreviewTimer);
        RefreshPreview(dialog, editor);
      }
      return TRUE;
    case kTaskDoneMessage: editor->saving.Finish(); return TRUE;
    case kStartedMessage: {
      std::wstring error;
      const Preview::Start start = editor->preview.Started(&error);
      if (start == Preview::Start::Stale) return TRUE;
      editor->previewing = start == Preview::Start::Running;
      if (!editor->previewing) ShowPreviewText(dialog, L"No preview: " + error);
      return TRUE;
    }
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
      if (id == IDC_SAVE_ERROR && editor->saving.busy()) break;  // "Saving...": no error
      if (std::find(std::begin(kErrorControls), std::end(kErrorControls), id) == std::end(kErrorControls)) break;
      return MessageColours(reinterpret_cast<HDC>(wparam));
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam), code = HIWORD(wparam);
      if (editor->saving.busy()) return TRUE;  // the save decides whether the editor stays
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
          if (ChooseWindowFromList(dialog, &title, &window)) Picked(dialog, title);
          return TRUE;
        }
        case IDC_PICK_CLICK: {
          RECT bounds{};
          HWND window = nullptr;
          if (PointAt(dialog, OverlayMode::Window, &bounds, &window) && window) {
            wchar_t title[512] = {};
            ::GetWindowTextW(window, title, 512);
            Picked(dialog, title);
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
