#include "hostkit/capture_graph.h"

#include "hostkit/pins.h"
#include "hostkit/result_text.h"

namespace dorvantel {

namespace {

HRESULT Fail(std::wstring* error, const std::wstring& what, HRESULT hr) {
  *error = what + L": " + ResultText(hr);
  return hr;
}

}  // namespace

HRESULT CaptureGraph::Build(IBaseFilter* source, std::optional<PixelFormat> pixels, bool pacedByClock,
                            ISampleGrabberCB* callback, std::wstring* error) {
  // What failed, by GrabberGraph::Step.
  static const wchar_t* const kCreateFailures[] = {L"cannot create a filter graph", L"cannot create the Sample Grabber",
                                                   L"cannot create the Null Renderer",
                                                   L"cannot add the filters to the graph"};
  GrabberGraph::Step failed;
  HRESULT hr = graph_.Create(source, callback, &failed);
  if (FAILED(hr)) return Fail(error, kCreateFailures[static_cast<int>(failed)], hr);
  // An RGB format at its own position, or the first the source offers. The pin's own list
  // holds the RGB formats only: a YUV format is chosen among its capabilities, as hosts
  // choose, and is then the one it offers.
  TaskMediaType offered;
  const bool yuv = pixels && DescribePixelFormat(*pixels).yuv;
  hr = yuv ? ChooseCapability(graph_.sourcePin(), YuvFourCC(*pixels)) : S_OK;
  if (SUCCEEDED(hr)) hr = OfferedType(graph_.sourcePin(), pixels && !yuv ? static_cast<int>(*pixels) : 0, &offered);
  if (FAILED(hr)) {
    return Fail(error,
                pixels ? std::wstring(L"the capture source does not offer ") + DescribePixelFormat(*pixels).name
                       : std::wstring(L"the capture source offers no format"),
                hr);
  }

  AM_MEDIA_TYPE wanted{};
  wanted.majortype = MEDIATYPE_Video;
  wanted.formattype = FORMAT_VideoInfo;
  wanted.subtype = offered.get()->subtype;
  hr = graph_.grabber()->SetMediaType(&wanted);
  if (FAILED(hr)) return Fail(error, L"cannot set up the Sample Grabber", hr);

  hr = graph_.ConnectSource(offered.get());
  if (FAILED(hr)) {
    return Fail(error,
                pixels ? std::wstring(L"cannot connect the capture source in ") + DescribePixelFormat(*pixels).name
                       : std::wstring(L"cannot connect the capture source in the format it offers"),
                hr);
  }
  hr = graph_.ConnectRenderer(nullptr);
  if (FAILED(hr)) return Fail(error, L"cannot connect the Null Renderer", hr);

  if (!pacedByClock) {
    hr = graph_.RemoveClock();
    if (FAILED(hr)) return Fail(error, L"cannot take the clock out of the graph", hr);
  }
  return S_OK;
}

HRESULT CaptureGraph::ConnectedFormat(FrameFormat* format) {
  FilledMediaType type;
  HRESULT hr = graph_.grabber()->GetConnectedMediaType(&type);
  if (FAILED(hr)) return hr;
  return FrameFormatFromMediaType(type, format);
}

HRESULT CaptureGraph::Run() {
  HRESULT hr = graph_.control()->Run();
  if (hr != S_FALSE) return hr;
  // Still on its way: a filter that cannot start says so through the graph's state.
  OAFilterState state;
  hr = graph_.control()->GetState(kStartMs, &state);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CaptureGraph::Stop() { return graph_.control() ? graph_.control()->Stop() : S_OK; }

HRESULT CaptureGraph::CheckEvents() {
  HRESULT result = S_OK;
  long code;
  LONG_PTR first, second;
  IMediaEvent* events = graph_.events();
  while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
    if (code == EC_ERRORABORT || code == EC_ERRORABORTEX) {
      result = static_cast<HRESULT>(first);
      if (SUCCEEDED(result)) result = E_FAIL;
    } else if (code == EC_COMPLETE && result == S_OK) {
      result = S_FALSE;
    }
    events->FreeEventParams(code, first, second);
  }
  return result;
}

}  // namespace dorvantel
