// The shown entry stays only while the latest search still lists it.

#include "catalogue/CatalogueState.h"

#include <gtest/gtest.h>

using vantorel::catalogue::CatalogueRecord;
using vantorel::catalogue::CatalogueState;

TEST(CatalogueState, TheShownEntryStaysOnlyWhileASearchListsIt) {
    CatalogueRecord a, b;
    a.displayname = "甲";
    b.displayname = "乙";
    CatalogueState state;
    EXPECT_TRUE(state.takeResults({a, b}));
    EXPECT_EQ(state.show(2), nullptr);
    EXPECT_FALSE(state.shown());
    ASSERT_NE(state.show(1), nullptr);
    EXPECT_EQ(state.shown()->displayname, "乙");
    EXPECT_TRUE(state.takeResults({b}));
    EXPECT_EQ(state.shown()->displayname, "乙");
    EXPECT_FALSE(state.takeResults({a}));
    EXPECT_FALSE(state.shown());
}
