#pragma once
// Sizes on screens of any density. Every size the windows give in pixels is a size at 96 DPI and
// is scaled to the DPI of the window it is used in. The per-monitor calls of user32 are looked
// up at run time: Windows 7's user32 has none of them, and the program still starts there.
#include <windows.h>

namespace movra {

constexpr int kBaseDpi = 96;

// A length given at 96 DPI, at `dpi` (rounded to the nearest pixel, halves away from zero).
inline int Scale(int px, int dpi) {
    return MulDiv(px, dpi, kBaseDpi);
}

// The DPI the window draws at: GetDpiForWindow where user32 has it, else the screen's
// LOGPIXELSX (the system's DPI, which every window has where the system knows no other).
// A null window answers the system's DPI.
int DpiOf(HWND h);
// The system's DPI: the one the tray and a new window's first placement use.
int SystemDpi();
// A system metric at `dpi`: GetSystemMetricsForDpi where present, else the system's value.
int MetricForDpi(int index, int dpi);

// The new window rectangle that WM_DPICHANGED suggests (in its LPARAM), taken as it is.
void TakeSuggestedRect(HWND h, LPARAM suggested);

}  // namespace movra
