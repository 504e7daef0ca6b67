#pragma once
// Fixture and helpers of the tests that drive the built library as a host does: loaded by its
// path, objects from its class factory. Every test must leave the library unloadable.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "base/com_ptr.h"
#include "hostkit/source_settings.h"
#include "tests/support/library.h"

class ModuleThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.loaded()); }
  void TearDown() override { EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive"; }

  dorvantel::ComApartment com_;
  LoadedLibrary library_;
};

// One property of the filter's bag: a 32-bit value, or a pointer.
inline HRESULT WriteProperty(IBaseFilter* filter, const wchar_t* name, LONG value) {
  return dorvantel::SourceSettings(filter).WriteLong(name, value);
}

inline HRESULT WriteProperty(IBaseFilter* filter, const wchar_t* name, const void* pointer) {
  return dorvantel::SourceSettings(filter).WritePointer(name, pointer);
}

// The filter's output pin.
inline ComPtr<IPin> OutputPin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  filter->FindPin(L"1", pin.put());
  return pin;
}
