#pragma once
// A test with COM initialised (multithreaded apartment, like the graph's own threads) that
// also checks no library object outlives it.

#include <objbase.h>

#include "tests/support/live_objects.h"

class ComTest : public LiveObjectsTest {
 protected:
  void SetUp() override {
    LiveObjectsTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override {
    ::CoUninitialize();
    LiveObjectsTest::TearDown();
  }
};
