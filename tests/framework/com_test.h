#pragma once
// A test with COM initialised (multithreaded apartment, like the graph's own threads) that
// also checks no library object outlives it.

#include <optional>

#include "hostkit/apartment.h"
#include "tests/support/live_objects.h"

class ComTest : public LiveObjectsTest {
 protected:
  void SetUp() override {
    LiveObjectsTest::SetUp();
    apartment_.emplace(COINIT_MULTITHREADED);
    ASSERT_TRUE(apartment_->joined());
  }
  void TearDown() override {
    apartment_.reset();
    LiveObjectsTest::TearDown();
  }

 private:
  std::optional<dorvantel::ComApartment> apartment_;
};
