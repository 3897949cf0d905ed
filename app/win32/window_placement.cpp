#include "app/win32/window_placement.hpp"

#include <algorithm>

namespace tq5::app {
namespace {

int Centred(int size, LONG low, LONG high, LONG areaLow, LONG areaHigh) {
    const int start = static_cast<int>(low) + (static_cast<int>(high - low) - size) / 2;
    // Right (bottom) edge first, then left (top): a window too large for the area shows its
    // caption and left edge rather than losing them off-screen.
    return std::max(std::min(start, static_cast<int>(areaHigh) - size), static_cast<int>(areaLow));
}

void MoveCentred(HWND window, const RECT& centreOn, const RECT& area) {
    RECT bounds;
    if (!GetWindowRect(window, &bounds)) return;
    const POINT corner =
        CentredPosition(bounds.right - bounds.left, bounds.bottom - bounds.top, centreOn, area);
    SetWindowPos(window, nullptr, corner.x, corner.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT WorkArea(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) return info.rcWork;
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

}  // namespace

POINT CentredPosition(int width, int height, const RECT& centreOn, const RECT& area) {
    return POINT{Centred(width, centreOn.left, centreOn.right, area.left, area.right),
                 Centred(height, centreOn.top, centreOn.bottom, area.top, area.bottom)};
}

void CentreOnPointerMonitor(HWND window) {
    POINT pointer{};
    GetCursorPos(&pointer);  // left at 0, 0 when it fails: the primary monitor
    const RECT area = WorkArea(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY));
    MoveCentred(window, area, area);
}

void CentreOnOwner(HWND window) {
    const HWND owner = GetWindow(window, GW_OWNER);
    RECT ownerBounds;
    if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner) ||
        !GetWindowRect(owner, &ownerBounds)) {
        CentreOnPointerMonitor(window);
        return;
    }
    MoveCentred(window, ownerBounds, WorkArea(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)));
}

}  // namespace tq5::app
