#pragma once
// Where the program's windows open: the main dialog in the middle of the work area of the
// monitor that holds the mouse pointer (the primary one when the pointer is nowhere), the
// about box in the middle of the main dialog. A window that would reach past the work area
// is moved back inside it; one larger than the work area keeps its left and top edges in.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tq5::app {

// The top-left corner for a window `width` by `height` centred on `centreOn` and kept inside
// `area` (screen coordinates).
POINT CentredPosition(int width, int height, const RECT& centreOn, const RECT& area);

// Moves `window` (a top-level window, before it is shown) to the middle of the work area of
// the monitor under the mouse pointer.
void CentreOnPointerMonitor(HWND window);

// Moves `window` to the middle of its owner, inside the work area of the owner's monitor; on
// the pointer's monitor instead when it has no owner or the owner is hidden or minimised.
void CentreOnOwner(HWND window);

}  // namespace tq5::app
