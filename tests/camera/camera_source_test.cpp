// The camera's media source as the platform's own harness tests it: the activate object, the
// interfaces, descriptors and attributes, KS requests refused, every media type read through
// Media Foundation's source reader at its rate, frames of the ring in each type, the plain
// frame when the feed stops, and Start, Stop and Shutdown in any order.
#include "tests/camera/camera_support.h"

namespace {

const GUID kSubtypes[] = {MFVideoFormat_NV12, MFVideoFormat_YUY2, MFVideoFormat_RGB32};
constexpr UINT32 kWidth = 1280, kHeight = 720;

size_t Bytes(const GUID& subtype) {
  if (IsEqualGUID(subtype, MFVideoFormat_NV12)) return kWidth * kHeight * 3 / 2;
  if (IsEqualGUID(subtype, MFVideoFormat_YUY2)) return kWidth * kHeight * 2;
  return kWidth * kHeight * 4;
}

// The luma (or, for RGB32, the green) at a point of a frame of the subtype.
int LumaAt(const GUID& subtype, const std::vector<BYTE>& frame, UINT32 x, UINT32 y) {
  if (IsEqualGUID(subtype, MFVideoFormat_NV12)) return frame[y * kWidth + x];
  if (IsEqualGUID(subtype, MFVideoFormat_YUY2)) return frame[y * kWidth * 2 + x * 2];
  const BYTE* p = &frame[(y * kWidth + x) * 4];
  return LumaOf(RGB(p[2], p[1], p[0]));
}

// True when the frame is the plain "not capturing" one: dark grey corners, bright text in the middle.
bool IsNotCapturing(const GUID& subtype, const std::vector<BYTE>& frame) {
  const int grey = LumaOf(RGB(48, 48, 48));
  for (UINT32 y : {2u, kHeight - 3}) {
    for (UINT32 x : {2u, kWidth - 3}) {
      if (std::abs(LumaAt(subtype, frame, x, y) - grey) > 3) return false;
    }
  }
  int bright = 0;
  for (UINT32 x = 0; x < kWidth; ++x) bright += LumaAt(subtype, frame, x, kHeight / 2) > 150;
  return bright > 10;
}

// True when each quadrant's centre has the colour of QuadrantsNv12's (luma within 3).
bool ShowsQuadrants(const GUID& subtype, const std::vector<BYTE>& frame) {
  const COLORREF colours[2][2] = {{RGB(255, 0, 0), RGB(0, 255, 0)}, {RGB(0, 0, 255), RGB(255, 255, 0)}};
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 2; ++column) {
      const UINT32 x = kWidth / 4 + column * kWidth / 2, y = kHeight / 4 + row * kHeight / 2;
      if (std::abs(LumaAt(subtype, frame, x, y) - LumaOf(colours[row][column])) > 3) return false;
    }
  return true;
}

}  // namespace

TEST_F(CameraTest, TheActivateObjectMakesASourceWithTheInterfacesTheFrameServerNeeds) {
  ComPtr<IMFActivate> activate = NewActivate(L"Dorvantel test");
  ASSERT_TRUE(activate);
  EXPECT_EQ(activate->DetachObject(), E_NOTIMPL);
  EXPECT_EQ(activate->ShutdownObject(), E_NOTIMPL);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_IMFMediaSource, source.put_void()), S_OK);
  ComPtr<IUnknown> found;
  for (const IID* iid : {&IID_IMFMediaSourceEx, &IID_IMFMediaEventGenerator, &IID_IMFGetService, &IID_CameraKsControl,
                         &IID_CameraSampleAllocatorControl}) {
    EXPECT_EQ(source->QueryInterface(*iid, found.put_void()), S_OK);
  }
  EXPECT_EQ(source->QueryInterface(IID_IMFActivate, found.put_void()), E_NOINTERFACE);
  found.reset();

  DWORD characteristics = 0;
  EXPECT_EQ(source->GetCharacteristics(&characteristics), S_OK);
  EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_IS_LIVE));

  // The source's store holds the activate store's items, and is the same store each time.
  ComPtr<IMFMediaSourceEx> sourceEx;
  ASSERT_EQ(source->QueryInterface(IID_IMFMediaSourceEx, sourceEx.put_void()), S_OK);
  ComPtr<IMFAttributes> attributes, again;
  ASSERT_EQ(sourceEx->GetSourceAttributes(attributes.put()), S_OK);
  ASSERT_EQ(sourceEx->GetSourceAttributes(again.put()), S_OK);
  EXPECT_EQ(attributes.get(), again.get());
  wchar_t preset[80] = {};
  EXPECT_EQ(attributes->GetString(camera_link::DORVANTEL_CAMERA_PRESET, preset, 80, nullptr), S_OK);
  EXPECT_STREQ(preset, L"Dorvantel test");
  ComPtr<IMFAttributes> streamAttributes;
  ASSERT_EQ(sourceEx->GetStreamAttributes(0, streamAttributes.put()), S_OK);
  EXPECT_EQ(sourceEx->GetStreamAttributes(1, again.put()), MF_E_INVALIDSTREAMNUMBER);

  // One stream, selected, a capture pin, id 0, NV12, YUY2 and RGB32 top-down at 1280x720 and 30.
  ComPtr<IMFPresentationDescriptor> presentation;
  ASSERT_EQ(source->CreatePresentationDescriptor(presentation.put()), S_OK);
  DWORD count = 0;
  EXPECT_EQ(presentation->GetStreamDescriptorCount(&count), S_OK);
  ASSERT_EQ(count, 1u);
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> stream;
  ASSERT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, stream.put()), S_OK);
  EXPECT_TRUE(selected);
  for (IMFAttributes* store : {static_cast<IMFAttributes*>(stream.get()), streamAttributes.get()}) {
    GUID category = GUID_NULL;
    EXPECT_EQ(store->GetGUID(CAMERA_DEVICESTREAM_STREAM_CATEGORY, &category), S_OK);
    EXPECT_TRUE(IsEqualGUID(category, CAMERA_PINNAME_VIDEO_CAPTURE));
    EXPECT_EQ(MFGetAttributeUINT32(store, CAMERA_DEVICESTREAM_STREAM_ID, 99), 0u);
    EXPECT_EQ(MFGetAttributeUINT32(store, CAMERA_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES, 0), 1u);
  }
  ComPtr<IMFMediaTypeHandler> handler;
  ASSERT_EQ(stream->GetMediaTypeHandler(handler.put()), S_OK);
  DWORD types = 0;
  EXPECT_EQ(handler->GetMediaTypeCount(&types), S_OK);
  ASSERT_EQ(types, 3u);
  for (DWORD i = 0; i < types; ++i) {
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(handler->GetMediaTypeByIndex(i, type.put()), S_OK);
    GUID subtype = GUID_NULL;
    EXPECT_EQ(type->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
    EXPECT_TRUE(IsEqualGUID(subtype, kSubtypes[i])) << i;
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    EXPECT_EQ(MFGetAttributeSize(type.get(), MF_MT_FRAME_SIZE, &width, &height), S_OK);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    EXPECT_EQ(MFGetAttributeRatio(type.get(), MF_MT_FRAME_RATE, &numerator, &denominator), S_OK);
    EXPECT_EQ(numerator, 30u);
    EXPECT_EQ(denominator, 1u);
    EXPECT_EQ(MFGetAttributeUINT32(type.get(), MF_MT_SAMPLE_SIZE, 0), Bytes(kSubtypes[i]));
    if (i == 2) {
      EXPECT_EQ(static_cast<INT32>(MFGetAttributeUINT32(type.get(), MF_MT_DEFAULT_STRIDE, 0)), 4 * 1280);
    }
  }

  // No camera control: refused as a driver without a handler refuses it; no service.
  ComPtr<IKsControlDeclared> ks;
  ASSERT_EQ(source->QueryInterface(IID_CameraKsControl, ks.put_void()), S_OK);
  CameraKsIdentifier property = {};
  property.Flags = 1;  // KSPROPERTY_TYPE_GET
  ULONG returned = 7;
  EXPECT_EQ(ks->KsProperty(&property, sizeof property, nullptr, 0, &returned), HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(ks->KsMethod(&property, sizeof property, nullptr, 0, &returned), HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
  EXPECT_EQ(ks->KsEvent(&property, sizeof property, nullptr, 0, &returned), HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
  ComPtr<IMFGetService> service;
  ASSERT_EQ(source->QueryInterface(IID_IMFGetService, service.put_void()), S_OK);
  EXPECT_EQ(service->GetService(GUID_NULL, IID_IUnknown, found.put_void()), MF_E_UNSUPPORTED_SERVICE);
  ComPtr<IMFSampleAllocatorControlDeclared> allocatorControl;
  ASSERT_EQ(source->QueryInterface(IID_CameraSampleAllocatorControl, allocatorControl.put_void()), S_OK);
  DWORD input = 9;
  CameraAllocatorUsage usage = CameraDoesNotAllocate;
  EXPECT_EQ(allocatorControl->GetAllocatorUsage(0, &input, &usage), S_OK);
  EXPECT_EQ(input, 0u);
  EXPECT_EQ(usage, CameraUsesProvidedAllocator);

  // No pause, no other time format; after Shutdown every call says so.
  EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);
  PROPVARIANT start;
  PropVariantInit(&start);
  const GUID otherFormat = {1};
  EXPECT_EQ(source->Start(presentation.get(), &otherFormat, &start), MF_E_UNSUPPORTED_TIME_FORMAT);
  EXPECT_EQ(source->Shutdown(), S_OK);
  EXPECT_EQ(source->Shutdown(), MF_E_SHUTDOWN);
  EXPECT_EQ(source->Start(presentation.get(), nullptr, &start), MF_E_SHUTDOWN);
  EXPECT_EQ(source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
  EXPECT_EQ(allocatorControl->GetAllocatorUsage(0, &input, &usage), MF_E_SHUTDOWN);
}

// The feed not running: every type still delivers, the plain frame, at the rate.
TEST_F(CameraTest, EveryTypeDeliversThirtySamplesAtTheRateWithoutAFeed) {
  ComPtr<IMFMediaSource> source = NewSource(L"Dorvantel nobody feeds");
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader = NewReader(source.get());
  ASSERT_TRUE(reader);
  for (const GUID& subtype : kSubtypes) {
    ASSERT_EQ(SelectType(reader.get(), subtype), S_OK);
    ReadFrame frame;
    LONGLONG first = 0, previous = 0;
    for (int i = 0; i < 30; ++i) {
      ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK) << i;
      ASSERT_EQ(frame.bytes.size(), Bytes(subtype));
      EXPECT_EQ(frame.duration, 333333);
      if (i == 0) {
        first = frame.time;
      } else {
        EXPECT_GT(frame.time, previous);
      }
      previous = frame.time;
    }
    EXPECT_TRUE(IsNotCapturing(subtype, frame.bytes));
    // 29 periods of 1/30 s, within a tenth.
    EXPECT_NEAR(static_cast<double>(previous - first), 29 * 333333.0, 29 * 33333.0);
  }
  reader.reset();
  source->Shutdown();
}

TEST_F(CameraTest, FramesOfTheRingArriveInEveryTypeThenThePlainFrameWhenTheWriterStops) {
  RingWriterThread writer(L"Dorvantel ring test", kWidth, kHeight);
  ASSERT_TRUE(writer.attached());
  ComPtr<IMFMediaSource> source = NewSource(L"Dorvantel ring test");
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader = NewReader(source.get());
  ASSERT_TRUE(reader);
  ReadFrame frame;
  for (const GUID& subtype : kSubtypes) {
    ASSERT_EQ(SelectType(reader.get(), subtype), S_OK);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);
    EXPECT_TRUE(ShowsQuadrants(subtype, frame.bytes)) << "subtype " << subtype.Data1;
  }
  writer.Stop();
  // The last frame for up to 3 seconds, then the plain frame; never an error.
  int quadrants = 0;
  for (int i = 0; i < 30 * 4; ++i) {
    ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK) << i;
    quadrants += ShowsQuadrants(MFVideoFormat_RGB32, frame.bytes);
  }
  EXPECT_GE(quadrants, 30 * 2);
  EXPECT_TRUE(IsNotCapturing(MFVideoFormat_RGB32, frame.bytes));
  reader.reset();
  source->Shutdown();
}

TEST_F(CameraTest, StartStopAndShutdownInAnyOrder) {
  PROPVARIANT start;
  PropVariantInit(&start);
  {
    // Stopped before it started, started twice, stopped twice, then shut down.
    ComPtr<IMFMediaSource> source = NewSource();
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.put()), S_OK);
    EXPECT_EQ(source->Stop(), S_OK);
    EXPECT_EQ(source->Start(presentation.get(), nullptr, &start), S_OK);
    EXPECT_EQ(source->Start(presentation.get(), &GUID_NULL, &start), S_OK);
    ComPtr<IMFMediaEvent> event;
    MediaEventType type = 0;
    std::vector<MediaEventType> events;
    while (source->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.put()) == S_OK && event->GetType(&type) == S_OK)
      events.push_back(type);
    EXPECT_EQ(events, (std::vector<MediaEventType>{MESourceStopped, MENewStream, MESourceStarted, MEUpdatedStream,
                                                   MESourceStarted}));
    EXPECT_EQ(source->Stop(), S_OK);
    EXPECT_EQ(source->Stop(), S_OK);
    EXPECT_EQ(source->Shutdown(), S_OK);
  }
  {
    // Started and released without Shutdown: nothing stays alive.
    ComPtr<IMFMediaSource> source = NewSource();
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.put()), S_OK);
    EXPECT_EQ(source->Start(presentation.get(), nullptr, &start), S_OK);
  }
  {
    // A stream kept after its source went: it says so, and a stream stopped refuses requests.
    ComPtr<IMFMediaSource> source = NewSource();
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.put()), S_OK);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &start), S_OK);
    ComPtr<IMFMediaEvent> event;
    ASSERT_EQ(source->GetEvent(0, event.put()), S_OK);
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(event->GetValue(&value), S_OK);
    ASSERT_EQ(value.vt, VT_UNKNOWN);
    ComPtr<IMFMediaStream2Declared> stream;
    ASSERT_EQ(value.punkVal->QueryInterface(IID_CameraMediaStream2, stream.put_void()), S_OK);
    PropVariantClear(&value);
    EXPECT_EQ(stream->RequestSample(nullptr), S_OK);
    EXPECT_EQ(stream->SetStreamState(MF_STREAM_STATE_STOPPED), S_OK);
    EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    EXPECT_EQ(stream->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK);
    MF_STREAM_STATE state = MF_STREAM_STATE_STOPPED;
    EXPECT_EQ(stream->GetStreamState(&state), S_OK);
    EXPECT_EQ(state, MF_STREAM_STATE_RUNNING);
    event.reset();
    source.reset();
    ComPtr<IMFMediaSource> gone;
    EXPECT_EQ(stream->GetMediaSource(gone.put()), MF_E_SHUTDOWN);
  }
}

// The Frame Server's allocator handshake, as its harness stands in for it: the samples then
// come from the allocator given (its free count drops while the test holds one).
TEST_F(CameraTest, SamplesComeFromTheAllocatorTheSourceIsGiven) {
  ComPtr<IMFMediaSource> source = NewSource(L"Dorvantel nobody feeds");
  ASSERT_TRUE(source);
  ComPtr<IMFSampleAllocatorControlDeclared> control;
  ASSERT_EQ(source->QueryInterface(IID_CameraSampleAllocatorControl, control.put_void()), S_OK);
  ComPtr<IMFVideoSampleAllocatorEx> allocator;
  ASSERT_EQ(::MFCreateVideoSampleAllocatorEx(IID_IMFVideoSampleAllocatorEx, allocator.put_void()), S_OK);
  EXPECT_EQ(control->SetDefaultAllocator(1, allocator.get()), MF_E_INVALIDSTREAMNUMBER);
  ASSERT_EQ(control->SetDefaultAllocator(0, allocator.get()), S_OK);
  ComPtr<IMFVideoSampleAllocatorCallback> counter;
  ASSERT_EQ(allocator->QueryInterface(IID_IMFVideoSampleAllocatorCallback, counter.put_void()), S_OK);

  ComPtr<IMFSourceReader> reader = NewReader(source.get());
  ASSERT_TRUE(reader);
  ASSERT_EQ(SelectType(reader.get(), MFVideoFormat_NV12), S_OK);
  ReadFrame frame;
  for (int i = 0; i < 30; ++i) ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK) << i;
  EXPECT_TRUE(IsNotCapturing(MFVideoFormat_NV12, frame.bytes));
  DWORD stream = 0, flags = 0;
  LONGLONG timestamp = 0;
  ComPtr<IMFSample> held;
  ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &timestamp, held.put()), S_OK);
  ASSERT_TRUE(held);
  LONG free = -1;
  EXPECT_EQ(counter->GetFreeSampleCount(&free), S_OK);
  EXPECT_LT(free, 10);
  EXPECT_GE(free, 0);
  held.reset();
  reader.reset();
  source->Shutdown();
}
