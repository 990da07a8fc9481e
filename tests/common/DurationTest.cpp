#include "common/Duration.h"

#include <gtest/gtest.h>

using vantorel::formatDuration;

TEST(Duration, MinutesUnderAnHourThenHours) {
    EXPECT_EQ(formatDuration(0.4), "00:00");
    EXPECT_EQ(formatDuration(125), "02:05");
    EXPECT_EQ(formatDuration(3599.6), "1:00:00");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
}
