#include "settings/edit_dialog.h"

#include <algorithm>
#include <memory>

#include "editor/capture_panel.h"
#include "editor/dialog_parts.h"
#include "hostkit/device_registration.h"
#include "hostkit/result_text.h"
#include "preset/preset.h"
#include "settings/background_task.h"
#include "settings/device_store.h"
#include "settings/preview.h"
#include "settings/resource.h"

namespace dorvantel {

namespace {

constexpr UINT kFrameMessage = WM_APP + 1;
constexpr UINT kStartedMessage = WM_APP + 3;  // the preview's start has ended
constexpr UINT_PTR kPreviewTimer = 1;
constexpr UINT kPreviewDelayMs = 500;
constexpr int kPreviewRate = 4;  // frames a second in the preview
// How long closing the editor waits for the preview's thread to stop its graph.
constexpr DWORD kPreviewQuitMs = 3000;
// Where the capture panel goes, in the editor's dialog units (settings.rc).
constexpr RECT kPanelPlace{4, 30, 256, 274};

const int kErrorControls[] = {IDC_NAME_ERROR, IDC_SAVE_ERROR};

// The editor's state, owned by EditPreset's frame; the dialog's user data points at it.
struct Editor {
  PresetEdit* edit;
  CapturePanel panel;
  std::unique_ptr<Preview> preview = std::make_unique<Preview>();
  Preset previewed;  // the preset the preview runs with
  bool previewing = false;
  std::wstring previewSize;
  BackgroundTask saving;  // the save under way: the fields wait for its outcome
  DisabledControls disabled;

  ~Editor() {
    // A preview whose graph does not stop in time is left to end on its own thread.
    if (!preview->Quit(kPreviewQuitMs)) preview.release();
  }
};

// The panel's fields read into a preset, and with withName the name checked too (the name
// does not change what is captured). With show every message goes beside its field.
bool ReadFields(HWND dialog, Editor* editor, bool show, bool withName, Preset* preset, std::wstring* first) {
  bool good = editor->panel.Read(preset, show, first);
  if (!withName) return good;
  const std::wstring name =
      CheckNewName(DialogText(dialog, IDC_NAME), editor->edit->original, editor->edit->taken);
  if (show) ::SetDlgItemTextW(dialog, IDC_NAME_ERROR, name.c_str());
  if (!name.empty()) {
    if (good) *first = name;
    good = false;
  }
  return good;
}

void ShowPreviewText(HWND dialog, const std::wstring& text) {
  ::SetDlgItemTextW(dialog, IDC_PREVIEW_TEXT, text.c_str());
}

// Starts the preview anew when the settings changed and are good.
void RefreshPreview(HWND dialog, Editor* editor) {
  Preset preset;
  std::wstring error;
  if (!ReadFields(dialog, editor, false, false, &preset, &error)) {
    editor->preview->Stop();
    editor->previewing = false;
    ShowPreviewText(dialog, L"No preview: " + error);
    ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
    return;
  }
  if (editor->previewing && preset == editor->previewed) return;
  editor->previewed = preset;
  editor->previewSize.clear();
  HRESULT hr = editor->preview->Show(preset, kPreviewRate, dialog, kFrameMessage, kStartedMessage);
  editor->previewing = SUCCEEDED(hr);
  ShowPreviewText(dialog, SUCCEEDED(hr) ? L"Starting..." : L"No preview: " + ResultText(hr));
  ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, TRUE);
}

void Changed(HWND dialog) { ::SetTimer(dialog, kPreviewTimer, kPreviewDelayMs, nullptr); }

void Open(HWND dialog, Editor* editor) {
  ::SetDlgItemTextW(dialog, IDC_NAME, editor->edit->name.c_str());
  RECT place = kPanelPlace;
  ::MapDialogRect(dialog, &place);
  editor->panel.changed = [dialog] { Changed(dialog); };
  if (HWND panel = editor->panel.Create(::GetModuleHandleW(nullptr), dialog, place, editor->edit->preset)) {
    // In the tab order after the name, before the preview and the buttons.
    ::SetWindowPos(panel, ::GetDlgItem(dialog, IDC_NAME_ERROR), 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::ShowWindow(panel, SW_SHOW);
  } else {
    ::SetDlgItemTextW(dialog, IDC_SAVE_ERROR, (L"No fields: " + ResultText(HRESULT_FROM_WIN32(::GetLastError()))).c_str());
  }
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
        editor->preview->Stop();
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
      Open(dialog, editor);
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
      const Preview::Start start = editor->preview->Started(&error);
      if (start == Preview::Start::Stale) return TRUE;
      editor->previewing = start == Preview::Start::Running;
      if (!editor->previewing) ShowPreviewText(dialog, L"No preview: " + error);
      return TRUE;
    }
    case kFrameMessage:
      editor->preview->Consumed();
      ::InvalidateRect(::GetDlgItem(dialog, IDC_PREVIEW), nullptr, FALSE);
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID != IDC_PREVIEW) break;
      ::FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(::GetStockObject(DKGRAY_BRUSH)));
      std::wstring size;
      if (editor->previewing && editor->preview->Paint(item->hDC, item->rcItem, &size) &&
          size != editor->previewSize) {
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
    case WM_COMMAND:
      if (editor->saving.busy()) return TRUE;  // the save decides whether the editor stays
      if (LOWORD(wparam) == IDOK) {
        Save(dialog, editor);
      } else if (LOWORD(wparam) == IDCANCEL) {
        editor->preview->Stop();
        ::EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
    case WM_DESTROY:
      ::KillTimer(dialog, kPreviewTimer);
      editor->preview->Stop();
      editor->panel.Destroy();
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
