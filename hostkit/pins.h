#pragma once
// Pins and the media types they hand out, as a host sees them.

#include <windows.h>
#include <dshow.h>

#include "base/com_ptr.h"
#include "base/handles.h"

namespace dorvantel {

// Frees what a media type record owns (its task-memory format block and its pUnk reference)
// and empties those fields; the record itself stays.
void FreeMediaTypeContents(AM_MEDIA_TYPE* type) noexcept;

// A media type record in task memory, as enumerators and IAMStreamConfig hand them out:
// releasing it frees its contents and the record.
struct TaskMediaTypeTraits {
  using Type = AM_MEDIA_TYPE*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type type) noexcept {
    FreeMediaTypeContents(type);
    ::CoTaskMemFree(type);
  }
};
using TaskMediaType = UniqueResource<TaskMediaTypeTraits>;

// A media type record that a call fills in place (ISampleGrabber::GetConnectedMediaType):
// owns the contents it was given.
struct FilledMediaType : AM_MEDIA_TYPE {
  FilledMediaType() noexcept : AM_MEDIA_TYPE{} {}
  ~FilledMediaType() { FreeMediaTypeContents(this); }
  FilledMediaType(const FilledMediaType&) = delete;
  FilledMediaType& operator=(const FilledMediaType&) = delete;
};

// The first pin of filter in direction; VFW_E_NOT_FOUND when it has none.
HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* found);

// The type that pin offers at position (0 the first); VFW_E_NO_ACCEPTABLE_TYPES when it
// offers fewer.
HRESULT OfferedType(IPin* pin, int position, TaskMediaType* type);

// Chooses a format among the pin's IAMStreamConfig capabilities as hosts do: the first
// capability whose header has this biCompression (a YUV FOURCC), edited to the size and rate
// the pin would connect with now, goes to SetFormat; the pin then offers that type first.
// VFW_E_NO_ACCEPTABLE_TYPES when no capability has it.
HRESULT ChooseCapability(IPin* pin, DWORD compression);

}  // namespace dorvantel
