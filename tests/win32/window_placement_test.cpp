// Where a window opens: centred on a rectangle and kept inside a monitor's work area.

#include <gtest/gtest.h>

#include "app/win32/window_placement.hpp"

namespace tq5::test {
namespace {

struct PlacementCase {
    const char* name;
    int width, height;
    RECT centreOn;
    RECT area;
    POINT expected;
};

TEST(WindowPlacementTest, CentresOnTheRectangleInsideTheWorkArea) {
    constexpr RECT kScreen{0, 0, 1024, 768};
    constexpr RECT kTaskbarBelow{0, 0, 1920, 1040};
    constexpr RECT kLeftMonitor{-1280, 0, 0, 1024};
    // clang-format off
    const PlacementCase cases[] = {
        {"main window on the work area", 424, 307, kScreen, kScreen, {300, 230}},
        {"odd leftovers round toward the top left", 425, 308, kScreen, kScreen, {299, 230}},
        {"work area above a taskbar", 424, 307, kTaskbarBelow, kTaskbarBelow, {748, 366}},
        {"monitor left of the primary one", 424, 307, kLeftMonitor, kLeftMonitor, {-852, 358}},
        {"about box on its window", 400, 100, {40, 60, 464, 367}, kScreen, {52, 163}},
        {"window hanging off the right and bottom", 400, 100, {900, 700, 1324, 1007}, kScreen,
         {624, 668}},
        {"window hanging off the left and top", 400, 100, {-300, -200, 124, 107}, kScreen, {0, 0}},
        {"window larger than the area keeps its top left inside", 1200, 900, kScreen, kScreen,
         {0, 0}},
        {"owner on the left monitor", 400, 100, {-1000, 100, -576, 407}, kLeftMonitor,
         {-988, 203}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const POINT corner = app::CentredPosition(c.width, c.height, c.centreOn, c.area);
        EXPECT_EQ(corner.x, c.expected.x);
        EXPECT_EQ(corner.y, c.expected.y);
    }
}

}  // namespace
}  // namespace tq5::test
