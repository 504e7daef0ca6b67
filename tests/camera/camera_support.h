#pragma once
// The camera's tests: the media source from the library loaded by path, Media Foundation
// started for the test, a frame ring of the camera's preset that the test writes, and the
// pictures the camera shows.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/camera_link.h"
#include "base/com_ptr.h"
#include "base/frame_ring.h"
#include "camera/mf_library.h"
#include "format/yuv_frames.h"
#include "tests/support/library.h"

// COM, Media Foundation and the library for one test; the library's DllCanUnloadNow answers
// S_OK once the test released everything (checked by the fixture, within 2 seconds).
class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_EQ(::MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
  }
  void TearDown() override {
    ::MFShutdown();
    // The reader's work queue may hold the source a moment after the reader went.
    HRESULT unload = library_.CanUnloadNow();
    for (int i = 0; i < 100 && unload != S_OK; ++i) {
      ::Sleep(20);
      unload = library_.CanUnloadNow();
    }
    EXPECT_EQ(unload, S_OK) << "a camera object is still alive";
  }
  // A new IMFActivate of CLSID_DorvantelCamera, preset set when given.
  ComPtr<IMFActivate> NewActivate(const wchar_t* preset = nullptr) {
    ComPtr<IClassFactory> factory;
    ComPtr<IMFActivate> activate;
    EXPECT_EQ(library_.GetClassObject(camera_link::CLSID_DorvantelCamera, IID_IClassFactory, factory.put_void()), S_OK);
    if (!factory) return activate;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IMFActivate, activate.put_void()), S_OK);
    if (activate && preset) {
      EXPECT_EQ(activate->SetString(camera_link::DORVANTEL_CAMERA_PRESET, preset), S_OK);
    }
    return activate;
  }
  ComPtr<IMFMediaSource> NewSource(const wchar_t* preset = nullptr) {
    ComPtr<IMFMediaSource> source;
    ComPtr<IMFActivate> activate = NewActivate(preset);
    if (activate) {
      EXPECT_EQ(activate->ActivateObject(IID_IMFMediaSource, source.put_void()), S_OK);
    }
    return source;
  }

  dorvantel::ComApartment apartment_{COINIT_MULTITHREADED};
  LoadedLibrary library_;
};

// A quadrants picture (red, green / blue, yellow) of width x height as NV12, as the feed
// writes the screen.
inline std::vector<BYTE> QuadrantsNv12(uint32_t width, uint32_t height) {
  std::vector<BYTE> bgrx(size_t{4} * width * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      COLORREF c = !bottom ? (right ? RGB(0, 255, 0) : RGB(255, 0, 0)) : (right ? RGB(255, 255, 0) : RGB(0, 0, 255));
      BYTE* p = &bgrx[(size_t{y} * width + x) * 4];
      p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c), p[3] = 0;
    }
  std::vector<BYTE> nv12(YuvImageSize(YuvLayout::Nv12, width, height));
  ConvertToYuv(YuvLayout::Nv12, bgrx.data(), 4 * width, width, height, nv12.data(), nv12.size());
  return nv12;
}

// A writer of the preset's ring in a thread of the test, as the feed writes (30 a second).
class RingWriterThread {
 public:
  RingWriterThread(const std::wstring& preset, uint32_t width, uint32_t height)
      : frame_(QuadrantsNv12(width, height)) {
    ring_.Attach(camera_link::FrameSectionName(preset));
    if (!ring_.attached()) {
      ring_.Attach(camera_link::FrameSectionName(preset, camera_link::Namespace::Local));
    }
    RingFrameFormat format{width, height, FrameRing::kNv12, width, static_cast<uint32_t>(frame_.size())};
    thread_ = std::thread([this, format] {
      while (!stop_) {
        ring_.Write(format, frame_.data());
        ::Sleep(33);
      }
    });
  }
  ~RingWriterThread() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool attached() const { return ring_.attached(); }

 private:
  FrameRing ring_;
  std::vector<BYTE> frame_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A sample's bytes, with its time and duration.
struct ReadFrame {
  std::vector<BYTE> bytes;
  LONGLONG time = 0;
  LONGLONG duration = 0;
};

inline HRESULT ReadOne(IMFSourceReader* reader, ReadFrame* frame) {
  DWORD stream = 0, flags = 0;
  LONGLONG timestamp = 0;
  ComPtr<IMFSample> sample;
  HRESULT hr = reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &timestamp, sample.put());
  if (FAILED(hr)) return hr;
  if (!sample) return E_FAIL;
  ComPtr<IMFMediaBuffer> buffer;
  hr = sample->ConvertToContiguousBuffer(buffer.put());
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  DWORD length = 0;
  hr = buffer->Lock(&data, nullptr, &length);
  if (FAILED(hr)) return hr;
  frame->bytes.assign(data, data + length);
  buffer->Unlock();
  sample->GetSampleTime(&frame->time);
  sample->GetSampleDuration(&frame->duration);
  return S_OK;
}

// The luma of a colour, as the feed's converter gives it.
inline int LumaOf(COLORREF c) { return 16 + ((66 * GetRValue(c) + 129 * GetGValue(c) + 25 * GetBValue(c) + 128) >> 8); }

// A source reader over the source, as the platform's test harness makes one.
inline ComPtr<IMFSourceReader> NewReader(IMFMediaSource* source) {
  ComPtr<IMFSourceReader> reader;
  EXPECT_EQ(::MFCreateSourceReaderFromMediaSource(source, nullptr, reader.put()), S_OK);
  return reader;
}

// Selects the native type of this subtype as the current one.
inline HRESULT SelectType(IMFSourceReader* reader, const GUID& subtype) {
  for (DWORD i = 0;; ++i) {
    ComPtr<IMFMediaType> type;
    HRESULT hr = reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, i, type.put());
    if (FAILED(hr)) return hr;
    GUID offered;
    if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &offered)) && IsEqualGUID(offered, subtype))
      return reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.get());
  }
}
