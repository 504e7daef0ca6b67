#pragma once
// Checks that a test leaves no library object alive: the library's own leak check.

#include <gtest/gtest.h>

#include "framework/unknown.h"

class LiveObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = LiveObjectCount; }
  void TearDown() override { EXPECT_EQ(liveAtStart_, LiveObjectCount) << "objects leaked by the test"; }

 private:
  LONG liveAtStart_ = 0;
};
