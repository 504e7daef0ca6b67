#pragma once
// Fixture and helpers of the tests that drive the built library as a host does: loaded by its
// path, objects from its class factory. Every test must leave the library unloadable.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "framework/com_ptr.h"
#include "tests/support/library.h"

class ModuleThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.loaded()); }
  void TearDown() override { EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive"; }

  ComApartment com_;
  LoadedLibrary library_;
};

// What CaptureValue takes by pointer in area 3.
struct WindowRegion {
  HWND window;
  LONG left, top, right, bottom;
};

// One property of the filter's bag: a 32-bit value, or a pointer.
inline HRESULT WriteProperty(IBaseFilter* filter, const wchar_t* name, LONG value) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = ComPtr<IBaseFilter>(filter).query(&bag);
  if (FAILED(hr)) return hr;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return bag->Write(name, &v);
}

inline HRESULT WriteProperty(IBaseFilter* filter, const wchar_t* name, void* pointer) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = ComPtr<IBaseFilter>(filter).query(&bag);
  if (FAILED(hr)) return hr;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF;
  v.byref = pointer;
  return bag->Write(name, &v);
}

// The filter's output pin.
inline ComPtr<IPin> OutputPin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  filter->FindPin(L"1", pin.put());
  return pin;
}
