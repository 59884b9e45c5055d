#include "ui/win/dpi.h"

namespace movra {

namespace {

// Looked up once; null where this user32 lacks the call.
template <class Fn>
Fn User32Call(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

}  // namespace

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kBaseDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

int DpiOf(HWND h) {
    static const auto forWindow = User32Call<GetDpiForWindowFn>("GetDpiForWindow");
    if (h && forWindow) {
        const UINT dpi = forWindow(h);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

int MetricForDpi(int index, int dpi) {
    static const auto forDpi = User32Call<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

void TakeSuggestedRect(HWND h, LPARAM suggested) {
    const RECT* r = reinterpret_cast<const RECT*>(suggested);
    if (!h || !r) return;
    SetWindowPos(h, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace movra
