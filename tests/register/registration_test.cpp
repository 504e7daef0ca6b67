#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/handles.h"
#include "hostkit/apartment.h"
#include "hostkit/device_check.h"
#include "hostkit/device_registration.h"
#include "hostkit/devices.h"
#include "hostkit/source_library.h"
#include "module/dorvantel.h"

using namespace dorvantel;

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const std::wstring kInstances = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";
// Another program's class, for its fake device.
const wchar_t kOtherClass[] = L"{6A1B7E10-33C4-4B8E-9F21-0C5D7E1A2B3C}";

std::wstring Library() { return ProgramFolder() + L"..\\" DORVANTEL_DLL_NAME; }

// Writes a device key by hand; friendly may be empty (left half-registered).
void WriteKey(const std::wstring& key, const std::wstring& clsid, const std::wstring& friendly) {
  RegistryKey device;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (kInstances + key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, device.put(), nullptr));
  const auto set = [&device](const wchar_t* name, const std::wstring& text) {
    ::RegSetValueExW(device.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  };
  set(L"CLSID", clsid);
  if (!friendly.empty()) set(L"FriendlyName", friendly);
}

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < size; ++i) {
    snprintf(pair, sizeof(pair), "%02x%s", bytes[i], i % 4 == 3 ? " " : "");
    text += pair;
  }
  return text;
}

bool KeyExists(const std::wstring& key) {
  RegistryKey device;
  return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (kInstances + key).c_str(), 0, KEY_READ, device.put()) == ERROR_SUCCESS;
}

bool Listed(const std::wstring& name, bool ours) {
  std::vector<VideoInputDevice> devices;
  EXPECT_EQ(S_OK, ListVideoInputDevices(&devices));
  for (const VideoInputDevice& device : devices) {
    if (device.name == name && device.desktopSource == ours) return true;
  }
  return false;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(apartment_.joined()); }
  void TearDown() override {
    std::wstring error;
    UnregisterDevice(L"", &error);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (kInstances + L"OtherCam").c_str());
  }
  ComApartment apartment_{COINIT_MULTITHREADED};
};

// The device key is written as the platform's filter mapper writes one: hosts and the
// platform read the same FilterData whichever wrote it.
TEST_F(Registration, FilterDataIsTheMappersOwn) {
  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                     mapper.put_void()));
  REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
  REGFILTERPINS2 pin{};
  pin.dwFlags = REG_PINFLAG_B_OUTPUT;
  pin.cInstances = 1;
  pin.nMediaTypes = 1;
  pin.lpMediaType = &type;
  pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
  REGFILTER2 filter{};
  filter.dwVersion = 2;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins2 = 1;
  filter.rgPins2 = &pin;
  CLSID other;
  ASSERT_EQ(S_OK, ::CLSIDFromString(kOtherClass, &other));
  ASSERT_EQ(S_OK,
            mapper->RegisterFilter(other, L"OtherCam", nullptr, &CLSID_VideoInputDeviceCategory, L"OtherCam", &filter));
  RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (kInstances + L"OtherCam").c_str(), 0, KEY_READ, key.put()));
  std::vector<BYTE> written(512);
  DWORD size = static_cast<DWORD>(written.size());
  ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), L"FilterData", nullptr, nullptr, written.data(), &size));
  written.resize(size);
  const std::vector<uint8_t> ours = DeviceFilterData();
  EXPECT_EQ(Hex(ours.data(), ours.size()), Hex(written.data(), written.size()));
}

// Every name up to the limit registers, is listed and binds; one past it is refused before
// anything is written. A key of ours left half-registered by hand, with a name longer than
// any the tools accept, is reported and removed with the rest.
TEST_F(Registration, NamesOfEveryLengthToTheLimitAndAHalfRegisteredKey) {
  std::wstring error;
  for (size_t length = 1; length <= kMaxDeviceName; ++length) {
    std::wstring name(length, L'n');
    name[0] = L'D';
    ASSERT_EQ(S_OK, RegisterDevice(Library(), name, {}, &error)) << length << ": " << Narrow(error);
    EXPECT_TRUE(Listed(name, true)) << length;
  }
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(S_OK, CreateVideoInputDevice(L"D" + std::wstring(kMaxDeviceName - 1, L'n'), &filter));
  filter.reset();
  const std::wstring tooLong = L"D" + std::wstring(kMaxDeviceName, L'n');
  EXPECT_EQ(E_INVALIDARG, RegisterDevice(Library(), tooLong, {}, &error));
  EXPECT_NE(std::wstring::npos, error.find(std::to_wstring(kMaxDeviceName) + L" characters")) << Narrow(error);
  EXPECT_FALSE(KeyExists(tooLong));

  const std::wstring halfKey(200, L'h');
  wchar_t clsid[40];
  ::StringFromGUID2(CLSID_DesktopSource, clsid, 40);
  WriteKey(halfKey, clsid, L"");
  std::vector<DeviceKey> keys;
  ASSERT_EQ(S_OK, ReadDeviceKeys(&keys));
  bool reported = false;
  for (const DeviceKey& key : keys) reported = reported || (key.key == halfKey && key.ours);
  EXPECT_TRUE(reported);
  EXPECT_FALSE(Listed(halfKey, true));
  EXPECT_EQ(S_OK, UnregisterDevice(L"", &error)) << Narrow(error);
  ASSERT_EQ(S_OK, ReadDeviceKeys(&keys));
  for (const DeviceKey& key : keys) EXPECT_FALSE(key.ours) << Narrow(key.key);
}

// Another program's device is never written or removed, by its key's name or its friendly
// name in any case, and each refusal names it.
TEST_F(Registration, AnotherProgramsDeviceIsLeftAlone) {
  WriteKey(L"OtherCam", kOtherClass, L"Other Camera");
  ASSERT_TRUE(Listed(L"Other Camera", false));
  std::wstring error;
  for (const wchar_t* name : {L"OtherCam", L"othercam", L"Other Camera"}) {
    error.clear();
    EXPECT_EQ(kNameOfAnotherProgram, RegisterDevice(Library(), name, {}, &error)) << Narrow(name);
    EXPECT_NE(std::wstring::npos, error.find(L"\"Other Camera\"")) << Narrow(error);
    error.clear();
    EXPECT_EQ(kNameOfAnotherProgram, UnregisterDevice(name, &error)) << Narrow(name);
    EXPECT_NE(std::wstring::npos, error.find(L"another program's")) << Narrow(error);
  }
  EXPECT_EQ(S_OK, RegisterDevice(Library(), L"Dorvantel", {}, &error)) << Narrow(error);
  EXPECT_EQ(S_OK, UnregisterDevice(L"", &error)) << Narrow(error);
  std::vector<DeviceKey> keys;
  ASSERT_EQ(S_OK, ReadDeviceKeys(&keys));
  bool intact = false;
  for (const DeviceKey& key : keys) {
    intact = intact || (key.key == L"OtherCam" && key.clsid == kOtherClass && key.friendlyName == L"Other Camera");
  }
  EXPECT_TRUE(intact);
  EXPECT_TRUE(Listed(L"Other Camera", false));
}

// Names that differ in case only are one registry key, except "Dorvantel", whose key is the
// class's: renaming a device to such a name writes over it and must not remove it after.
TEST_F(Registration, NamesDifferingInCase) {
  std::wstring error;
  EXPECT_TRUE(SameDeviceKey(L"My preset", L"my PRESET"));
  EXPECT_FALSE(SameDeviceKey(L"Dorvantel", L"dorvantel"));
  ASSERT_EQ(S_OK, RegisterDevice(Library(), L"Dorvantel", {}, &error)) << Narrow(error);
  ASSERT_EQ(S_OK, RegisterDevice(Library(), L"dorvantel", {}, &error)) << Narrow(error);
  EXPECT_EQ(S_OK, UnregisterDevice(L"Dorvantel", &error)) << Narrow(error);
  EXPECT_TRUE(Listed(L"dorvantel", true));
  EXPECT_FALSE(Listed(L"Dorvantel", true));
}

// The two views' answers become one line per device and problem: which programs see it,
// what is wrong for whom, and a summary that fails when any device fails either bitness.
TEST(CheckReport, MergesTheViewsOfBothBitnesses) {
  ViewCheck view64{64,
                   {CheckedDevice{L"{CLSID}", L"Dorvantel", true, true, true},
                    CheckedDevice{L"Broken", L"Broken", true, true, false, {L"programs cannot open it: why"}},
                    CheckedDevice{L"Win", L"Win", true, true, true, {}, {L"it captures the window"}},
                    CheckedDevice{L"OtherCam", L"Other Camera", false, true, false}}};
  ViewCheck view32;
  ASSERT_TRUE(ReadViewText(ViewText(ViewCheck{32,
                                              {CheckedDevice{L"{clsid}", L"Dorvantel", true, true, true},
                                               CheckedDevice{L"Win", L"Win", true, true, true}}}),
                           &view32));
  bool allGood = true;
  EXPECT_EQ(
      "\"Dorvantel\" (Dorvantel): 64-bit and 32-bit programs see it; it works\n"
      "\"Broken\" (Dorvantel): 64-bit programs see it; it has problems\n"
      "  64-bit programs: programs cannot open it: why\n"
      "  32-bit programs: it is not registered for them: register it with the 32-bit dorvantel-register, or save it "
      "again in Dorvantel settings\n"
      "\"Win\" (Dorvantel): 64-bit and 32-bit programs see it; it works\n"
      "  64-bit programs: it captures the window\n"
      "\"Other Camera\": another program's device; 64-bit programs see it (not checked)\n"
      "summary: 3 Dorvantel devices, 2 working for 64-bit and 32-bit programs, 1 with problems; 1 device of other "
      "programs\n",
      Narrow(CheckReport({view64, view32}, {64, 32}, &allGood)));
  EXPECT_FALSE(allGood);
  // The same verdicts as the settings program's list marks them.
  const std::vector<DeviceVerdict> verdicts = Verdicts({view64, view32}, {64, 32});
  ASSERT_EQ(4u, verdicts.size());
  EXPECT_EQ(L"both", ProgramsWord(verdicts[0].seenBy));
  EXPECT_TRUE(verdicts[0].works);
  EXPECT_EQ(L"64-bit", ProgramsWord(verdicts[1].seenBy));
  EXPECT_FALSE(verdicts[1].works);
  EXPECT_EQ(2u, verdicts[1].lines.size());
  EXPECT_FALSE(verdicts[3].works);  // another program's is never counted as working
  const std::vector<DeviceVerdict> unseen = Verdicts({view64}, {32});
  EXPECT_EQ(L"none", ProgramsWord(unseen[0].seenBy));
  EXPECT_FALSE(unseen[0].works);
  view64.devices.erase(view64.devices.begin() + 1);
  CheckReport({view64, view32}, {64, 32}, &allGood);
  EXPECT_TRUE(allGood);
  CheckReport({}, {64, 32}, &allGood);
  EXPECT_FALSE(allGood);  // no device: programs find none
}

}  // namespace
