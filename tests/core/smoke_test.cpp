#include <gtest/gtest.h>

#include "core/schedule_entry.h"

TEST(Smoke, MinuteKey) {
  EXPECT_EQ(quorvane::MinuteKey(0, 0, 0, 1, 1), 61);
}
