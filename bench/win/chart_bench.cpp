// The channel chart timed in-process (run under Wine or on Windows, on a display;
// tests/win/editors_xvfb.sh gives it a private Xvfb one):
//   chart_bench.exe [picture.bmp]
// 1. Drawing the 24-hour view of a day of cycles with 20 groups at 1200 x 600 (the view is cut
//    once; the drawing is timed alone, and the cut separately). With a file name, the picture is
//    also written there, to be looked at.
// 2. The window thread's added work per cycle with the chart open and 2,000 users in the table:
//    the cycle summary's message, the chart's redraw when it is due and the painting it causes,
//    over a minute of one-second cycles, for each range.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/application.h"
#include "bench/win/window_bench.h"
#include "ui/win/main_window.h"

namespace movra {
namespace {

using bench::Ms;
using bench::NoServer;
using bench::Pump;
using bench::Steady;
constexpr int kGroups = 20;

// A cycle of a busy day: each group's use wanders around its own level.
CycleSummary Cycle(int64_t t) {
    CycleSummary s;
    s.at = {t, t};
    for (int g = 0; g < kGroups; ++g) {
        const double level = 20.0 + 15.0 * g;
        const double wave = 1.0 + 0.5 * std::sin(static_cast<double>(t) / (600.0 + 37 * g));
        s.groups.push_back({static_cast<uint64_t>(g), Fmt(u"Группа %d", g), level * wave,
                            level * wave / 4, level * 1.2, level / 3});
    }
    s.widthIn = 8192;
    s.widthOut = 2048;
    s.measuredArmed = true;
    s.measuredIn = 7800;
    return s;
}

void FillDay(chart::ChannelHistory& h, int64_t end) {
    for (int64_t t = end - 86400; t < end; ++t) h.Add(Cycle(t));
}

bool WriteBmp(const char* path, const void* bits, int w, int h) {
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof(ih);
    ih.biWidth = w;
    ih.biHeight = -h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    const DWORD bytes = static_cast<DWORD>(w) * h * 4;
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(ih);
    fh.bfSize = fh.bfOffBits + bytes;
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::fwrite(&fh, sizeof(fh), 1, f);
    std::fwrite(&ih, sizeof(ih), 1, f);
    std::fwrite(bits, 1, bytes, f);
    return std::fclose(f) == 0;
}

void DrawDay(const char* picture) {
    const int64_t now = 1'796'126'400;
    chart::ChannelHistory history;
    FillDay(history, now + 1);
    auto t0 = Steady::now();
    const chart::View v = history.Shown(chart::Range::k24Hours, {now, now});
    const double cut = Ms(t0);

    const int w = 1200, h = 600;
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    const ui::DisplayUnit unit = {1.0, u"кбит/с"};
    PaintChart(dc, {0, 0, w, h}, v, unit);  // untimed: fonts and brushes are made the first time
    const int rounds = 100;
    double total = 0, worst = 0;
    for (int i = 0; i < rounds; ++i) {
        auto t1 = Steady::now();
        PaintChart(dc, {0, 0, w, h}, v, unit);
        GdiFlush();
        const double ms = Ms(t1);
        total += ms;
        worst = std::max(worst, ms);
    }
    std::printf("24-hour view, %d groups (%zu series, %zu points), %dx%d:\n", kGroups,
                v.series.size(), v.points.size(), w, h);
    std::printf("  PaintChart %.2f ms mean (max %.2f) over %d; cutting the view %.2f ms\n",
                total / rounds, worst, rounds, cut);
    if (picture && !WriteBmp(picture, bits, w, h))
        std::fprintf(stderr, "chart_bench: cannot write %s\n", picture);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

void PerCycle() {
    ManualClock clock;
    WorkerEvents events;
    NoServer server;
    Application app(server, events, AppHost{}, clock);
    Model& model = app.LiveModel();
    const std::string logName = "chart_bench_" + std::to_string(GetCurrentProcessId()) + ".log";
    {
        Model::Guard g(model);
        model.settings.LogFileName = FromUtf8(logName);
        model.settings.Server = u"ti.test";
        for (int i = 0; i < 2000; ++i) {
            const int k = model.AddUserByName(Fmt(u"user%04d", i));
            model.Users[k].Online = 1;
            model.Users[k].RxSpeed = i % 300;
        }
    }
    events.idle.Set();
    auto dlg = std::make_unique<CmovraDlg>(app, clock);
    HWND hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
    if (!hwnd) {
        std::fprintf(stderr, "chart_bench: the main window cannot be created\n");
        return;
    }
    ShowWindow(hwnd, SW_SHOW);
    dlg->RefreshTableNow();
    Pump();
    // A day of history already, so that the 24-hour range is full.
    int64_t now = StampNow(clock).steady;
    for (int64_t t = now - 86400; t < now; ++t) {
        const CycleSummary s = Cycle(t);
        SendMessageW(hwnd, WM_CYCLESUMMARY, 0, reinterpret_cast<LPARAM>(&s));
    }
    dlg->ShowChart();
    Pump();
    std::printf("Window thread per one-second cycle, chart open, 2000 users, %d groups:\n",
                kGroups);
    // The cursor away from the chart, as most of the time; then resting on the 10-minute plot,
    // where each redraw also brings the tooltip's text up to date.
    SetCursorPos(0, 0);
    SendMessageW(dlg->Chart().Hwnd(), WM_MOUSELEAVE, 0, 0);
    auto cycles = [&](chart::Range r, const char* what) {
        dlg->Chart().SetRange(r);
        Pump();
        const int n = 60;
        const int redrawsBefore = dlg->Chart().Redraws();
        double message = 0, redraw = 0, paint = 0, worst = 0;
        for (int i = 0; i < n; ++i) {
            clock.Advance(1);
            now = StampNow(clock).steady;
            const CycleSummary s = Cycle(now);
            auto t0 = Steady::now();
            SendMessageW(hwnd, WM_CYCLESUMMARY, 0, reinterpret_cast<LPARAM>(&s));
            const double m = Ms(t0);
            // The once-a-second timer, then the paint it causes.
            auto t1 = Steady::now();
            dlg->Chart().Tick();
            const double d = Ms(t1);
            auto t2 = Steady::now();
            Pump();
            const double p = Ms(t2);
            message += m;
            redraw += d;
            paint += p;
            worst = std::max(worst, m + d + p);
        }
        std::printf(
            "  %-8s %-14s summary %.3f + redraw %.2f + paint %.2f = %.2f ms mean "
            "(max %.2f), %d redraws in %d cycles\n",
            ToUtf8(chart::RangeName(r)).c_str(), what, message / n, redraw / n, paint / n,
            (message + redraw + paint) / n, worst, dlg->Chart().Redraws() - redrawsBefore, n);
    };
    for (chart::Range r : {chart::Range::k10Min, chart::Range::k1Hour, chart::Range::k24Hours})
        cycles(r, "cursor away");
    {
        HWND w = dlg->Chart().Hwnd();
        RECT c;
        GetClientRect(w, &c);
        POINT at = {c.right / 3, c.bottom / 3};
        ClientToScreen(w, &at);
        SetCursorPos(at.x, at.y);
        ScreenToClient(w, &at);
        SendMessageW(w, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
        cycles(chart::Range::k10Min, "with tooltip");
        HWND tip = nullptr;
        while ((tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) != nullptr)
            if (GetWindow(tip, GW_OWNER) == w) break;
        std::printf("  (the tooltip is %s)\n", tip && IsWindowVisible(tip) ? "shown" : "NOT shown");
    }
    // Where a redraw's time goes, in a buffer made for the purpose: cutting the view, drawing it
    // (the first draw into fresh memory, which costs more than the window's redraws into its
    // kept buffer) and showing it on the screen.
    {
        HWND w = dlg->Chart().Hwnd();
        RECT c;
        GetClientRect(w, &c);
        for (chart::Range r :
             {chart::Range::k10Min, chart::Range::k1Hour, chart::Range::k24Hours}) {
            auto t0 = Steady::now();
            const chart::View v = dlg->History().Shown(r, StampNow(clock));
            const double cut = Ms(t0);
            HDC dc = CreateCompatibleDC(nullptr);
            BITMAPINFO bi = {};
            bi.bmiHeader = {sizeof(bi.bmiHeader), c.right, -c.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
            void* bits = nullptr;
            HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
            HGDIOBJ old = SelectObject(dc, bmp);
            auto t1 = Steady::now();
            PaintChart(dc, c, v, {1.0, u"кбит/с"});
            GdiFlush();
            const double paint = Ms(t1);
            HDC wdc = GetDC(w);
            auto t2 = Steady::now();
            BitBlt(wdc, 0, 0, c.right, c.bottom, dc, 0, 0, SRCCOPY);
            GdiFlush();
            const double blit = Ms(t2);
            ReleaseDC(w, wdc);
            SelectObject(dc, old);
            DeleteObject(bmp);
            DeleteDC(dc);
            std::printf(
                "  %-8s cut %.2f ms, first draw %.2f ms, copy to the screen %.2f ms "
                "(%ldx%ld)\n",
                ToUtf8(chart::RangeName(r)).c_str(), cut, paint, blit, c.right, c.bottom);
        }
    }
    std::printf("  history: %zu bytes\n", dlg->History().MemoryBytes());
    dlg.reset();
    Pump();
    std::remove(logName.c_str());
}

}  // namespace
}  // namespace movra

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    movra::DrawDay(argc > 1 ? argv[1] : nullptr);
    std::fflush(stdout);
    movra::PerCycle();
    return 0;
}
