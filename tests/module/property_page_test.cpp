// The filter's property page as frames drive it: Windows' order of calls for OK (Apply, then
// Deactivate) and for Cancel (Deactivate alone), Wine's (Deactivate alone, for both), and Wine's
// real frame from OleCreatePropertyFrame; each ends with every object let go.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <prsht.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/com_ptr.h"
#include "hostkit/device_registration.h"
#include "hostkit/source_settings.h"
#include "editor/panel_resource.h"
#include "page/property_page.h"
#include "preset/value_bag.h"
#include "tests/module/module_test.h"
#include "tests/support/page_site.h"
#include "tests/support/test_graph.h"

namespace {

using dorvantel::PageFrame;

class PropertyPageTest : public ModuleThreadedTest {
 protected:
  void SetUp() override {
    ModuleThreadedTest::SetUp();
    ASSERT_EQ(S_OK, library_.CreateFilter(&filter_));
    parent_ = ::CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 640, 560, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_TRUE(parent_);
  }
  void TearDown() override {
    ::DestroyWindow(parent_);
    filter_.reset();
    EXPECT_EQ(1u, site_.refs) << "the page kept its site";
    ModuleThreadedTest::TearDown();
  }

  // A page of this test program, as the library makes it but for the frame it expects.
  ComPtr<IPropertyPage> MakePage(PageFrame frame) {
    auto* page = new dorvantel::DesktopSourcePage(nullptr, ::GetModuleHandleW(nullptr), frame);
    ComPtr<IPropertyPage> out;
    EXPECT_EQ(S_OK, page->InnerQueryInterface(IID_IPropertyPage, out.put_void()));
    return out;
  }
  // What every frame does first: site, the filter, then the page in the frame's window.
  void Open(IPropertyPage* page) {
    ASSERT_EQ(S_OK, page->SetPageSite(&site_));
    IUnknown* objects[] = {filter_.get()};
    ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    const RECT place{4, 4, 600, 520};
    ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
    ASSERT_EQ(S_OK, page->Show(SW_SHOW));
  }
  HWND Panel() const { return ::GetWindow(parent_, GW_CHILD); }
  void Type(int id, const wchar_t* text) { ::SetDlgItemTextW(Panel(), id, text); }
  void Click(int id) { ::SendMessageW(::GetDlgItem(Panel(), id), BM_CLICK, 0, 0); }
  // A screen region, as a user clicks and types it.
  void Region(const wchar_t* x, const wchar_t* y, const wchar_t* width, const wchar_t* height) {
    Click(IDC_PANEL_REGION);
    Type(IDC_PANEL_X, x);
    Type(IDC_PANEL_Y, y);
    Type(IDC_PANEL_W, width);
    Type(IDC_PANEL_H, height);
  }
  std::wstring Shown(int id) {
    wchar_t text[256] = {};
    ::GetDlgItemTextW(Panel(), id, text, 256);
    return text;
  }
  // The filter's settings as a device would store them.
  dorvantel::Preset Stored() {
    ComPtr<IPersistPropertyBag> persist;
    EXPECT_EQ(S_OK, filter_.query(&persist));
    dorvantel::ValueBag bag;
    dorvantel::Preset preset;
    if (persist && SUCCEEDED(persist->Save(&bag, FALSE, TRUE))) dorvantel::ReadStoredValues(bag.values(), &preset);
    return preset;
  }
  int Rate() {
    int rate = 0;
    EXPECT_EQ(S_OK, dorvantel::SourceSettings(filter_.get()).ReadFrameRate(&rate));
    return rate;
  }
  // The size of the frames the unconnected pin offers first: the captured area's.
  SIZE OfferedSize() {
    ComPtr<IAMStreamConfig> config;
    OutputPin(filter_.get()).query(&config);
    AM_MEDIA_TYPE* type = nullptr;
    SIZE size{};
    if (config && config->GetFormat(&type) == S_OK) {
      const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
      size = SIZE{info->bmiHeader.biWidth, info->bmiHeader.biHeight};
      ::CoTaskMemFree(type->pbFormat);
      ::CoTaskMemFree(type);
    }
    return size;
  }

  ComPtr<IBaseFilter> filter_;
  TestSite site_;
  HWND parent_ = nullptr;
};

TEST_F(PropertyPageTest, TheFilterNamesItsPageWhichTheLibraryServesWithEveryCall) {
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(S_OK, filter_.query(&specify));
  CAUUID pages{};
  ASSERT_EQ(S_OK, specify->GetPages(&pages));
  ASSERT_EQ(1u, pages.cElems);
  EXPECT_TRUE(IsEqualCLSID(CLSID_DesktopSourcePage, pages.pElems[0]));
  ::CoTaskMemFree(pages.pElems);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSourcePage, IID_IClassFactory, factory.put_void()));
  ComPtr<IPropertyPage> page;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()));
  factory.reset();

  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, page->GetPageInfo(&info));
  EXPECT_STREQ(DesktopSourcePageName, info.pszTitle);
  EXPECT_GT(info.size.cx, 200);
  EXPECT_GT(info.size.cy, 200);
  ::CoTaskMemFree(info.pszTitle);

  const RECT place{0, 0, 400, 400};
  EXPECT_EQ(E_UNEXPECTED, page->Activate(parent_, &place, TRUE)) << "no filter yet";
  EXPECT_EQ(E_UNEXPECTED, page->Show(SW_SHOW));
  IUnknown* notFilter[] = {static_cast<IUnknown*>(&site_)};
  EXPECT_EQ(E_NOINTERFACE, page->SetObjects(1, notFilter));
  EXPECT_EQ(E_POINTER, page->SetObjects(1, nullptr));
  Open(page.get());
  EXPECT_EQ(E_UNEXPECTED, page->SetPageSite(&site_)) << "one site at a time";
  EXPECT_EQ(E_UNEXPECTED, page->Activate(parent_, &place, TRUE)) << "already active";
  EXPECT_EQ(L"10", Shown(IDC_PANEL_RATE)) << "the filter's own rate";
  const RECT moved{10, 10, 500, 480};
  EXPECT_EQ(S_OK, page->Move(&moved));
  EXPECT_EQ(S_FALSE, page->IsPageDirty());
  MSG message{parent_, WM_KEYDOWN, VK_F5, 0, 0, {}};
  EXPECT_EQ(S_FALSE, page->TranslateAccelerator(&message));
  EXPECT_EQ(E_NOTIMPL, page->Help(nullptr));
  EXPECT_EQ(S_OK, page->Apply()) << "nothing to apply";
  EXPECT_EQ(S_OK, page->Show(SW_HIDE));
  EXPECT_EQ(S_OK, page->Deactivate());
  EXPECT_EQ(E_UNEXPECTED, page->Deactivate());
  EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
  EXPECT_EQ(S_OK, page->SetPageSite(nullptr));
  EXPECT_EQ(1u, site_.refs);
}

TEST_F(PropertyPageTest, WindowsOkAppliesAndItsCancelDrops) {
  ComPtr<IPropertyPage> page = MakePage(PageFrame::CallsApply);
  Open(page.get());
  Type(IDC_PANEL_RATE, L"25");
  EXPECT_EQ(S_OK, page->IsPageDirty());
  EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), site_.lastStatus);
  EXPECT_EQ(10, Rate()) << "nothing before Apply";
  ASSERT_EQ(S_OK, page->Apply());
  EXPECT_EQ(25, Rate());
  EXPECT_EQ(S_FALSE, page->IsPageDirty());
  ASSERT_EQ(S_OK, page->Deactivate());

  // Cancel: Deactivate alone.
  const RECT place{4, 4, 600, 520};
  ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
  EXPECT_EQ(L"25", Shown(IDC_PANEL_RATE));
  Type(IDC_PANEL_RATE, L"40");
  ASSERT_EQ(S_OK, page->Deactivate());
  EXPECT_EQ(25, Rate());

  // A refused field keeps its message and changes nothing.
  ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
  Type(IDC_PANEL_RATE, L"5000");
  EXPECT_EQ(E_FAIL, page->Apply());
  EXPECT_NE(std::wstring::npos, Shown(IDC_PANEL_RATE_ERROR).find(L"1000")) << Shown(IDC_PANEL_RATE_ERROR);
  EXPECT_EQ(25, Rate());
  ASSERT_EQ(S_OK, page->Deactivate());
  EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
  EXPECT_EQ(S_OK, page->SetPageSite(nullptr));
}

TEST_F(PropertyPageTest, WinesFrameTakesTheEditsOnDeactivateAndTheReleaseLetsGoOfAll) {
  ComPtr<IPropertyPage> page = MakePage(PageFrame::NeverCallsApply);
  Open(page.get());
  Region(L"10", L"20", L"320", L"240");
  Click(IDC_PANEL_CURSOR);
  ASSERT_EQ(S_OK, page->Show(SW_HIDE));
  ASSERT_EQ(S_OK, page->Deactivate());
  const SIZE size = OfferedSize();
  EXPECT_EQ(320, size.cx);
  EXPECT_EQ(240, size.cy);
  VARIANT cursor;
  ::VariantInit(&cursor);
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(S_OK, filter_.query(&bag));
  ASSERT_EQ(S_OK, bag->Read(SourceProperty::IncludeCursor, &cursor, nullptr));
  EXPECT_NE(0, cursor.boolVal) << "the cursor box";

  // Opened again, the page shows what the filter now has: a preset's settings, not the defaults.
  const RECT place{4, 4, 600, 520};
  ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
  EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(Panel(), IDC_PANEL_REGION));
  EXPECT_EQ(L"320", Shown(IDC_PANEL_W));
  ASSERT_EQ(S_OK, page->Deactivate());
  // Wine's frame ends with Release alone: the page lets go of the filter and the site.
  page.reset();
}

// A monitor by the number every tool shows and the whole desktop, as the filter takes them; a
// monitor that is not there now is kept as it was by a page opened and closed on it.
TEST_F(PropertyPageTest, TheMonitorAndDesktopChoicesAreWhatTheFilterTakes) {
  ComPtr<IPropertyPage> page = MakePage(PageFrame::NeverCallsApply);
  Open(page.get());
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(Panel(), IDC_PANEL_MONITORS))) << "until Monitor is chosen";
  Click(IDC_PANEL_MONITOR);
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(Panel(), IDC_PANEL_MONITORS)));
  EXPECT_EQ(0u, Shown(IDC_PANEL_MONITORS).find(L"1: ")) << Shown(IDC_PANEL_MONITORS);
  ASSERT_EQ(S_OK, page->Deactivate());
  EXPECT_TRUE(Stored().target == dorvantel::CaptureTarget::Monitor);
  EXPECT_EQ(1, Stored().monitor.value_or(0)) << "the primary";

  ASSERT_EQ(S_OK, dorvantel::SourceSettings(filter_.get()).WriteLong(SourceProperty::CaptureValue, 7));
  const RECT place{4, 4, 600, 520};
  ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
  EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(Panel(), IDC_PANEL_MONITOR));
  EXPECT_EQ(L"7: not connected now", Shown(IDC_PANEL_MONITORS));
  Click(IDC_PANEL_CURSOR);
  ASSERT_EQ(S_OK, page->Deactivate());
  EXPECT_EQ(7, Stored().monitor.value_or(0)) << "an edit elsewhere keeps the monitor";

  ASSERT_EQ(S_OK, page->Activate(parent_, &place, TRUE));
  Click(IDC_PANEL_DESKTOP);
  ASSERT_EQ(S_OK, page->Deactivate());
  EXPECT_TRUE(Stored().target == dorvantel::CaptureTarget::Desktop);
  const SIZE size = OfferedSize();
  EXPECT_EQ(::GetSystemMetrics(SM_CXVIRTUALSCREEN), size.cx);
  EXPECT_EQ(::GetSystemMetrics(SM_CYVIRTUALSCREEN), size.cy);
}

TEST_F(PropertyPageTest, ARunningGraphKeepsItsConnectionAndTakesTheRest) {
  TestGraph graph(filter_);
  ASSERT_EQ(S_OK, graph.Connect());
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(graph.WaitForFrames(2));
  const SIZE connected{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ComPtr<IPropertyPage> page = MakePage(PageFrame::NeverCallsApply);
  Open(page.get());
  EXPECT_NE(std::wstring::npos, Shown(IDC_PANEL_NOTE).find(L"next connection")) << Shown(IDC_PANEL_NOTE);
  Region(L"0", L"0", L"100", L"60");
  Click(IDC_PANEL_SCALE);
  Type(IDC_PANEL_RATE, L"30");
  ::SendDlgItemMessageW(Panel(), IDC_PANEL_FORMAT, CB_SETCURSEL, 2, 0);
  ASSERT_EQ(S_OK, page->Deactivate());
  page.reset();
  EXPECT_EQ(30, Rate());
  const size_t before = graph.FrameCount();
  ASSERT_TRUE(graph.WaitForFrames(before + 3)) << "frames go on";
  AM_MEDIA_TYPE type = graph.ConnectedType();
  const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  EXPECT_EQ(32, info->bmiHeader.biBitCount) << "the connection keeps its format";
  EXPECT_EQ(connected.cx, info->bmiHeader.biWidth) << "and its size";
  ReleaseMediaTypeFormat(&type);
  EXPECT_EQ(S_OK, graph.Stop());
}

// "Save as a device" as a user presses it: the page's answer once the save has ended (its
// button enabled again), the messages of this thread answered meanwhile.
std::wstring SaveAsDevice(HWND panel, const std::wstring& name) {
  ::SetDlgItemTextW(panel, dorvantel::IDC_PAGE_DEVICE_NAME, name.c_str());
  HWND button = ::GetDlgItem(panel, dorvantel::IDC_PAGE_SAVE_DEVICE);
  ::SendMessageW(button, BM_CLICK, 0, 0);
  for (int tries = 0; tries < 1200 && !::IsWindowEnabled(button); ++tries) {  // a minute at most
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
  EXPECT_TRUE(::IsWindowEnabled(button)) << "the save did not end";
  wchar_t text[512] = {};
  ::GetDlgItemTextW(panel, dorvantel::IDC_PAGE_SAVE_RESULT, text, 512);
  return text;
}

// The page of the built library saves through the register tool beside it: the device then
// has the page's settings; what the tool refuses, the page shows in the tool's words. A page
// whose library has no tool beside it says so.
TEST_F(PropertyPageTest, SaveAsADeviceStoresThePagesSettingsThroughTheRegisterTool) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSourcePage, IID_IClassFactory, factory.put_void()));
  ComPtr<IPropertyPage> page;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()));
  factory.reset();
  Open(page.get());
  ::SetDlgItemTextW(Panel(), dorvantel::IDC_PAGE_DEVICE_NAME, L"typed");
  EXPECT_EQ(S_FALSE, page->IsPageDirty()) << "a device name is no setting of the filter";
  Region(L"10", L"20", L"320", L"240");
  Type(IDC_PANEL_RATE, L"25");

  const std::wstring tooLong(dorvantel::kMaxDeviceName + 1, L'x');
  std::wstring said = SaveAsDevice(Panel(), tooLong);
  EXPECT_EQ(0u, said.find(L"Not saved: --name: a device name has at most 64 characters")) << said;

  const std::wstring name = L"Dorvantel page test";
  said = SaveAsDevice(Panel(), name);
  EXPECT_EQ(0u, said.find(L"Saved")) << said;
  std::vector<dorvantel::VideoInputDevice> devices;
  ASSERT_EQ(S_OK, dorvantel::ListVideoInputDevices(&devices));
  const auto device = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.name == name; });
  ASSERT_NE(devices.end(), device) << "hosts do not list the saved device";
  dorvantel::Preset stored;
  EXPECT_TRUE(dorvantel::ReadStoredValues(device->stored, &stored).ok());
  EXPECT_EQ(dorvantel::CaptureTarget::Rectangle, stored.target);
  ASSERT_TRUE(stored.rectangle.has_value());
  EXPECT_EQ(320, stored.rectangle->right - stored.rectangle->left);
  EXPECT_EQ(25, stored.rate());
  std::wstring error;
  EXPECT_EQ(S_OK, dorvantel::UnregisterDevice(name, &error)) << error;
  EXPECT_EQ(10, Rate()) << "saving applies nothing to the filter";
  ASSERT_EQ(S_OK, page->Deactivate());
  page.reset();

  // This test program's own page has no register tool beside it.
  ComPtr<IPropertyPage> alone = MakePage(PageFrame::CallsApply);
  Open(alone.get());
  said = SaveAsDevice(Panel(), name);
  EXPECT_NE(std::wstring::npos, said.find(L"needs the register tool")) << said;
  ASSERT_EQ(S_OK, alone->Deactivate());
}

// The first control with this id in a window of that thread, and that window: null when none.
struct FoundControl {
  int id;
  HWND control = nullptr;
  HWND window = nullptr;
};
BOOL CALLBACK MatchControl(HWND child, LPARAM param) {
  auto* found = reinterpret_cast<FoundControl*>(param);
  if (::GetDlgCtrlID(child) != found->id) return TRUE;
  found->control = child;
  return FALSE;
}
BOOL CALLBACK SearchWindow(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<FoundControl*>(param);
  ::EnumChildWindows(window, MatchControl, param);
  if (!found->control) return TRUE;
  found->window = window;
  return FALSE;
}
FoundControl FindControl(DWORD thread, int id) {
  FoundControl found{id};
  ::EnumThreadWindows(thread, SearchWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Wine's frame on the filter, as ffmpeg opens it: a helper thread plays the user, who types a
// rate and presses OK; the frame is modal on this thread. The page comes from the library's
// class factory, registered for this process as the installed library is for every process.
TEST_F(PropertyPageTest, OleCreatePropertyFrameOnTheFilterTakesTheEditsOnOk) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSourcePage, IID_IClassFactory, factory.put_void()));
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, ::CoRegisterClassObject(CLSID_DesktopSourcePage, factory.get(), CLSCTX_INPROC_SERVER,
                                          REGCLS_MULTIPLEUSE, &cookie));
  const DWORD frameThread = ::GetCurrentThreadId();
  std::atomic<bool> typed{false};
  std::thread user([&] {
    for (int tries = 0; tries < 400; ++tries) {  // 20 seconds at most
      ::Sleep(50);
      const FoundControl rate = FindControl(frameThread, IDC_PANEL_RATE);
      if (!rate.control) continue;
      ::SendMessageW(rate.control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"25"));
      typed = true;
      ::PostMessageW(rate.window, PSM_PRESSBUTTON, PSBTN_OK, 0);
      return;
    }
  });
  IUnknown* objects[] = {filter_.get()};
  CLSID pages[] = {CLSID_DesktopSourcePage};
  const HRESULT hr = ::OleCreatePropertyFrame(nullptr, 0, 0, L"Dorvantel", 1, objects, 1, pages, 0, 0, nullptr);
  user.join();
  ::CoRevokeClassObject(cookie);
  factory.reset();
  ASSERT_EQ(S_OK, hr);
  ASSERT_TRUE(typed) << "the frame showed no page";
  EXPECT_EQ(25, Rate()) << "OK under Wine's frame applies";
}

}  // namespace
