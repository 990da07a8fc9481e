#include "download/RangePlan.h"

#include <gtest/gtest.h>

using vantorel::download::ByteRange;
using vantorel::download::planRanges;

TEST(RangePlan, EmptyFileHasNoRangesAndSmallFilesUseFewerWorkers) {
    EXPECT_TRUE(planRanges(0, 8, 1).empty());
    EXPECT_EQ(planRanges(1, 8, 1), (std::vector<ByteRange>{{0, 0}}));
    EXPECT_EQ(planRanges(100, 8, 1000), (std::vector<ByteRange>{{0, 99}}));
    EXPECT_EQ(planRanges(2500, 8, 1000).size(), 2u);
    EXPECT_EQ(planRanges(10, 0, 1), (std::vector<ByteRange>{{0, 9}}));
}

TEST(RangePlan, RemainderGoesOneByteEachToTheFirstRanges) {
    EXPECT_EQ(planRanges(11, 4, 1), (std::vector<ByteRange>{{0, 2}, {3, 5}, {6, 8}, {9, 10}}));
    EXPECT_EQ(planRanges(3, 8, 1), (std::vector<ByteRange>{{0, 0}, {1, 1}, {2, 2}}));
}

TEST(RangePlan, RangesTileTheWholeFileForAnyLengthAndCount) {
    for (std::uint64_t length : {1ull, 2ull, 7ull, 4096ull, 1000003ull, (1ull << 40) + 17}) {
        for (unsigned workers : {1u, 2u, 3u, 8u, 16u}) {
            for (std::uint64_t minRange : {1ull, 512ull * 1024}) {
                const auto ranges = planRanges(length, workers, minRange);
                SCOPED_TRACE(std::to_string(length) + "/" + std::to_string(workers) + "/" +
                             std::to_string(minRange));
                ASSERT_FALSE(ranges.empty());
                ASSERT_LE(ranges.size(), workers);
                EXPECT_EQ(ranges.front().first, 0u);
                EXPECT_EQ(ranges.back().last, length - 1);
                std::uint64_t smallest = ranges.front().size(), largest = smallest;
                for (std::size_t i = 0; i < ranges.size(); ++i) {
                    ASSERT_LE(ranges[i].first, ranges[i].last);
                    if (i > 0) {
                        EXPECT_EQ(ranges[i].first, ranges[i - 1].last + 1);
                    }
                    smallest = std::min(smallest, ranges[i].size());
                    largest = std::max(largest, ranges[i].size());
                }
                EXPECT_LE(largest - smallest, 1u);
                if (ranges.size() > 1) {
                    EXPECT_GE(smallest, minRange);
                }
            }
        }
    }
}
