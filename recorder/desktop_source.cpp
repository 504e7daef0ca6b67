#include "recorder/desktop_source.h"


const CLSID kDesktopSourceClass = {0x924BCD16, 0x2927, 0x4D6B, {0xA3, 0x85, 0x47, 0x6A, 0x9C, 0x4D, 0x41, 0xB7}};
const wchar_t kDeviceName[] = L"Dorvantel";

namespace {

// The rectangle of a window for CaptureValue in area 3; its layout is the pointer width's.
struct WindowRegion {
  HWND window;
  LONG left, top, right, bottom;
};

enum CaptureArea : LONG { kWholeDisplay = 0, kScreenRectangle = 1, kWindowRectangle = 3 };

HRESULT WriteProperty(IPropertyBag* bag, const wchar_t* name, VARIANT* value, std::wstring* error) {
  HRESULT hr = bag->Write(name, value);
  if (hr == S_OK) return S_OK;
  *error = std::wstring(L"the capture source refused the setting ") + name + L": " +
           (hr == S_FALSE ? std::wstring(L"not known") : ResultText(hr));
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT WriteLong(IPropertyBag* bag, const wchar_t* name, LONG value, std::wstring* error) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return WriteProperty(bag, name, &v, error);
}

HRESULT WriteText(IPropertyBag* bag, const wchar_t* name, const wchar_t* text, std::wstring* error) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(text);
  if (!v.bstrVal) return E_OUTOFMEMORY;
  HRESULT hr = WriteProperty(bag, name, &v, error);
  ::VariantClear(&v);
  return hr;
}

HRESULT WriteBool(IPropertyBag* bag, const wchar_t* name, bool value, std::wstring* error) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return WriteProperty(bag, name, &v, error);
}

// Values that the bag reads through a pointer in the VARIANT.
HRESULT WritePointer(IPropertyBag* bag, const wchar_t* name, void* value, std::wstring* error) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BYREF | VT_I4;
  v.byref = value;
  return WriteProperty(bag, name, &v, error);
}

}  // namespace

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HRESULT SourceLibrary::Load(const std::wstring& path, std::wstring* error) {
  path_ = path;
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = L"the capture library " + path + L" is missing";
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  module_.reset(::LoadLibraryW(path.c_str()));
  if (!module_) {
    DWORD code = ::GetLastError();
    *error = L"the capture library " + path + L" cannot be loaded: " + SystemMessage(code);
    return HRESULT_FROM_WIN32(code);
  }
  if (!::GetProcAddress(module_.get(), "DllGetClassObject")) {
    module_.reset();
    *error = L"the capture library " + path + L" exports no DllGetClassObject";
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  return S_OK;
}

HRESULT SourceLibrary::CreateFilter(ComPtr<IBaseFilter>* filter, std::wstring* error) {
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get_class_object = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(::GetProcAddress(module_.get(), "DllGetClassObject")));
  if (!get_class_object) return E_UNEXPECTED;
  ComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(kDesktopSourceClass, IID_IClassFactory, factory.put_void());
  if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IBaseFilter, filter->put_void());
  if (FAILED(hr)) *error = L"the capture library " + path_ + L" did not create the desktop source: " + ResultText(hr);
  return hr;
}

HRESULT ConfigureSource(IBaseFilter* filter, const RecorderOptions& options, HWND window,
                        std::wstring* error) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = filter->QueryInterface(IID_IPropertyBag, bag.put_void());
  if (FAILED(hr)) {
    *error = L"the capture source has no property bag: " + ResultText(hr);
    return hr;
  }
  IPropertyBag* b = bag.get();
  // A registered device brings its own settings: only what the command line names replaces them.
  const bool all = options.device.empty();
  switch (options.target) {
    case CaptureTarget::Display:
      if (all) hr = WriteLong(b, L"CaptureArea", kWholeDisplay, error);
      break;
    case CaptureTarget::Rectangle: {
      RECT rectangle = options.rectangle;
      hr = WriteLong(b, L"CaptureArea", kScreenRectangle, error);
      if (SUCCEEDED(hr)) hr = WritePointer(b, L"CaptureValue", &rectangle, error);
      break;
    }
    case CaptureTarget::Window: {
      RECT bounds{};
      ::GetWindowRect(window, &bounds);
      WindowRegion region{window, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top};
      if (options.has_rectangle) {
        region.left = options.rectangle.left;
        region.top = options.rectangle.top;
        region.right = options.rectangle.right;
        region.bottom = options.rectangle.bottom;
      }
      hr = WriteLong(b, L"CaptureArea", kWindowRectangle, error);
      // The window found here, not one a device's title would find when streaming starts.
      if (SUCCEEDED(hr) && !all) hr = WriteText(b, L"WindowTitle", L"", error);
      if (SUCCEEDED(hr)) hr = WritePointer(b, L"CaptureValue", &region, error);
      break;
    }
  }
  if (SUCCEEDED(hr) && (all || options.cursor_given)) hr = WriteBool(b, L"IncludeCursor", options.cursor, error);
  if (SUCCEEDED(hr) && (all || options.layered_windows)) {
    hr = WriteBool(b, L"CaptureTransparentWindows", options.layered_windows, error);
  }
  if (SUCCEEDED(hr) && (all || options.rate_given)) hr = WriteLong(b, L"FrameRate", options.frame_rate, error);
  // The time stamps decide how the recording graph is clocked: always the recorder's own.
  if (SUCCEEDED(hr)) hr = WriteLong(b, L"FrameRateMode", options.frame_rate_mode, error);
  if (SUCCEEDED(hr) && options.scaled) {
    LONG size[2] = {options.output_width, options.output_height};
    hr = WritePointer(b, L"OutputDimensions", size, error);
  }
  if (SUCCEEDED(hr) && (all || options.interpolation_given)) {
    hr = WriteLong(b, L"InterpolationMode", options.interpolation, error);
  }
  if (SUCCEEDED(hr) && !all && options.format_given) {
    hr = WriteText(b, L"OutputFormat", DescribePixelFormat(options.pixels).name, error);
  }
  return hr;
}

HRESULT ReadFrameRate(IBaseFilter* filter, int* rate) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = filter->QueryInterface(IID_IPropertyBag, bag.put_void());
  if (FAILED(hr)) return hr;
  VARIANT value;
  ::VariantInit(&value);
  hr = bag->Read(L"FrameRate", &value, nullptr);
  if (hr != S_OK || value.vt != VT_INT || value.intVal <= 0) return FAILED(hr) ? hr : E_UNEXPECTED;
  *rate = value.intVal;
  return S_OK;
}
