// The camera's size and rate come from the preset's registered device: a device key of the
// register tool's form under HKLM, written by the test and removed after it.
#include "tests/camera/camera_support.h"

#include "camera/camera_preset.h"

namespace {

constexpr wchar_t kDevices[] = L"SOFTWARE\\Classes\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance";
constexpr wchar_t kKey[] = L"DorvantelCameraPresetTest";

// A device key with the friendly name and the stored values; deleted with the object.
class TestDevice {
 public:
  TestDevice(const wchar_t* name, const wchar_t* dimensions, DWORD rate) {
    path_ = std::wstring(kDevices) + L"\\" + kKey;
    RegistryKey key;
    ok_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
          ERROR_SUCCESS;
    auto text = [&](const wchar_t* value, const wchar_t* data) {
      ok_ = ok_ && ::RegSetValueExW(key.get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                    static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    text(L"FriendlyName", name);
    if (dimensions) text(L"OutputDimensions", dimensions);
    if (rate) {
      ok_ = ok_ && ::RegSetValueExW(key.get(), L"FrameRate", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&rate),
                                    sizeof rate) == ERROR_SUCCESS;
    }
  }
  ~TestDevice() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::wstring path_;
  bool ok_ = false;
};

}  // namespace

TEST(CameraPreset, TheDevicesSizeAndRateElseTheDefaults) {
  {
    TestDevice device(L"Dorvantel Camera Preset Test", L"640x360", 15);
    ASSERT_TRUE(device.ok());
    camera::CameraFormat format = camera::ReadCameraFormat(L"dorvantel camera preset test");
    EXPECT_EQ(format.width, 640u);
    EXPECT_EQ(format.height, 360u);
    EXPECT_EQ(format.rate, 15u);
    format = camera::ReadCameraFormat(L"Dorvantel camera preset");
    EXPECT_EQ(format.width, 1280u);
    EXPECT_EQ(format.rate, 30u);
  }
  {
    // Out of range or malformed: the defaults, each on its own.
    TestDevice device(L"Dorvantel Camera Preset Test", L"640x360x2", 500);
    ASSERT_TRUE(device.ok());
    camera::CameraFormat format = camera::ReadCameraFormat(L"Dorvantel Camera Preset Test");
    EXPECT_EQ(format.width, 1280u);
    EXPECT_EQ(format.height, 720u);
    EXPECT_EQ(format.rate, 30u);
  }
  {
    TestDevice device(L"Dorvantel Camera Preset Test", nullptr, 60);
    ASSERT_TRUE(device.ok());
    camera::CameraFormat format = camera::ReadCameraFormat(L"Dorvantel Camera Preset Test");
    EXPECT_EQ(format.width, 1280u);
    EXPECT_EQ(format.rate, 60u);
  }
}

// The ring's 1280x720 frames drawn at the device's 640x360, delivered at its 15 a second.
TEST_F(CameraTest, ASourceOfAPresetHasItsSizeAndRate) {
  TestDevice device(L"Dorvantel camera size test", L"640x360", 15);
  ASSERT_TRUE(device.ok());
  RingWriterThread writer(L"Dorvantel camera size test", 1280, 720);
  ComPtr<IMFMediaSource> source = NewSource(L"Dorvantel camera size test");
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(source.get(), nullptr, reader.put()), S_OK);
  ComPtr<IMFMediaType> type;
  ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, type.put()), S_OK);
  UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
  EXPECT_EQ(MFGetAttributeSize(type.get(), MF_MT_FRAME_SIZE, &width, &height), S_OK);
  EXPECT_EQ(MFGetAttributeRatio(type.get(), MF_MT_FRAME_RATE, &numerator, &denominator), S_OK);
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 360u);
  EXPECT_EQ(numerator, 15u);
  ReadFrame frame;
  LONGLONG first = 0;
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);
    ASSERT_EQ(frame.bytes.size(), 640u * 360u * 3 / 2);
    EXPECT_EQ(frame.duration, 666666);
    if (i == 0) first = frame.time;
  }
  EXPECT_NEAR(static_cast<double>(frame.time - first), 15 * 666666.0, 15 * 66666.0);
  const COLORREF colours[2][2] = {{RGB(255, 0, 0), RGB(0, 255, 0)}, {RGB(0, 0, 255), RGB(255, 255, 0)}};
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < 2; ++column) {
      const UINT32 x = 160 + column * 320, y = 90 + row * 180;
      EXPECT_NEAR(frame.bytes[y * 640 + x], LumaOf(colours[row][column]), 3) << x << "," << y;
    }
  }
  reader.reset();
  source->Shutdown();
}
