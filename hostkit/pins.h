#pragma once
// Pins and the media types they hand out, as a host sees them.

#include <windows.h>
#include <dshow.h>

#include "format/media_type.h"
#include "framework/com_ptr.h"
#include "framework/handles.h"

// A media type record in task memory, as enumerators and IAMStreamConfig hand them out:
// DestroyMediaType frees its format block, its pUnk and the record.
struct TaskMediaTypeTraits {
  using Type = AM_MEDIA_TYPE*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type type) noexcept { DestroyMediaType(type); }
};
using TaskMediaType = UniqueResource<TaskMediaTypeTraits>;

// The first pin of filter in direction; VFW_E_NOT_FOUND when it has none.
HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* found);

// The type that pin offers at position (0 the first); VFW_E_NO_ACCEPTABLE_TYPES when it
// offers fewer.
HRESULT OfferedType(IPin* pin, int position, TaskMediaType* type);
