#include "common/ByteSize.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(ByteSize, EachPlaceKeepsItsForm) {
    EXPECT_EQ(formatBytes(512, ByteStyle::Scaled), "512 B");
    EXPECT_EQ(formatBytes(1536, ByteStyle::Scaled), "1.5 KB");
    EXPECT_EQ(formatBytes(3.2 * (1 << 30), ByteStyle::Scaled), "3.2 GB");
    EXPECT_EQ(formatBytes(3.25 * (1 << 20), ByteStyle::Mebibytes), "3.2 MB");
    EXPECT_EQ(formatBytes(3.25 * (1 << 20), ByteStyle::MebibytesLabel), "3.2MB");
    EXPECT_EQ(formatBytes(1 << 20, ByteStyle::MebibytesRounded), "1MB");
    EXPECT_EQ(formatBytes(1000 * 1024, ByteStyle::Speed), "1000 KB");
    EXPECT_EQ(formatBytes(1 << 20, ByteStyle::Speed), "1.0 MB");
}
