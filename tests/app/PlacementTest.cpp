#include "app/Placement.h"

#include <gtest/gtest.h>

using vantorel::app::besidePosition;

TEST(Placement, BesideTheAnchorWhereThereIsRoomElseOverItAndAlwaysOnTheScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QSize frame(400, 300);
    EXPECT_EQ(besidePosition({100, 100, 600, 400}, frame, screen), QPoint(708, 100)) << "right";
    EXPECT_EQ(besidePosition({700, 100, 500, 400}, frame, screen), QPoint(292, 100)) << "left";
    EXPECT_EQ(besidePosition({200, 0, 900, 400}, frame, screen), QPoint(450, 0)) << "over, centred";
    EXPECT_EQ(besidePosition({100, 700, 600, 100}, frame, screen), QPoint(708, 500)) << "raised";
    EXPECT_EQ(besidePosition({1400, 50, 600, 400}, frame, QRect(1280, 0, 1920, 1080)),
              QPoint(2008, 50))
        << "on the anchor's screen";
}
