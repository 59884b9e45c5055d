// The main window's event list, log window and channel chart in-process: what log lines do to
// the window, the log window's order, the chart's drawing, opening, redraws and export.
#include "main_window_fixture.h"

namespace movra::gui_test {
namespace {

TEST_F(MainWindowTest, LogLinesDriveTitleTrayAndATrimmedColoredEventList) {
    {
        Model::Guard g(model);
        model.settings.LogMaxSize = 3;
        model.settings.TrafficSpeedAutoControll = 3;
    }
    dlg->OnLogLine(LOG_ERROR, u"e1");
    dlg->OnLogLine(LOG_WARN, u"w2");
    dlg->OnLogLine(LOG_LIMIT, u"l3");
    dlg->OnLogLine(LOG_INFO, u"i4");
    dlg->OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"ok5");
    HWND list = dlg->EventList();
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 2);
    // The classes moved with their lines: limit, info, info.
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(0), 2);
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(1), 3);
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(2), 3);
    wchar_t title[256];
    GetWindowTextW(hwnd, title, 256);
    EXPECT_EQ(U8(Text(reinterpret_cast<const char16_t*>(title))), "Movra - Подключен к ti.test");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kRegulating));

    // Status lines go to the status field and the tooltip only.
    Text longStatus(200, u'x');
    dlg->OnLogLine(LOG_STATUS, longStatus);
    wchar_t status[512];
    GetWindowTextW(dlg->StatusField(), status, 512);
    EXPECT_EQ(wcslen(status), 200u);
    EXPECT_EQ(dlg->TrayTip().size(), 127u);
    EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 3);

    // Monitoring mode announced while connected: the icon follows, the state does not change.
    {
        Model::Guard g(model);
        model.settings.TrafficSpeedAutoControll = 0;
    }
    dlg->OnLogLine(LOG_MODE, u"Режим мониторинга (только чтение)");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kMonitoring));
    EXPECT_EQ(dlg->ConnState(), LOG_AUX | LOG_INFO | LOG_CONNECTED);
    dlg->OnLogLine(0x12, u"Отключен");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kDisconnected));
    GetWindowTextW(hwnd, title, 256);
    EXPECT_EQ(U8(Text(reinterpret_cast<const char16_t*>(title))), "Movra - Отключен");
}

// The rows in the log window's list when its dialog has just initialised, before its message
// loop has run (what the window shows first); -1 until then.
int g_rowsAtInit = -1;

LRESULT CALLBACK RowsAtInit(int code, WPARAM wp, LPARAM lp) {
    const auto* r = reinterpret_cast<const CWPRETSTRUCT*>(lp);
    if (code == HC_ACTION && r->message == WM_INITDIALOG && g_rowsAtInit < 0) {
        wchar_t title[64] = {};
        GetWindowTextW(r->hwnd, title, 64);
        if (wcscmp(title, L"Статистика") == 0)
            g_rowsAtInit = static_cast<int>(
                SendMessageW(GetDlgItem(r->hwnd, IDC_LOG_LIST), LVM_GETITEMCOUNT, 0, 0));
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

TEST_F(MainWindowTest, LogWindowShowsTheFileNewestFirstItsFirstRowsBeforeTheRestIsRead) {
    const int kLines = 100000;
    std::string text;
    for (int i = 1; i <= kLines; ++i)
        text += "01.12.2026 12:00:00 строка " + std::to_string(i) + "\n";
    FILE* f = OpenFile(FromUtf8(logName), "wb");
    ASSERT_NE(f, nullptr);
    std::string bytes = "\xFF\xFE" + EncodeUtf16Lines(FromUtf8(text));
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);

    std::vector<std::string> top;
    int rowsAtEnd = 0;
    bool shown = false;
    std::thread driver = Drive(
        L"Статистика",
        [&](HWND w) {
            HWND list = GetDlgItem(w, IDC_LOG_LIST);
            // The rest follows while the window is open.
            auto end = std::chrono::steady_clock::now() + 10s;
            while ((rowsAtEnd = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0))) <
                       kLines &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(10ms);
            for (int r = 0; r < 3; ++r) {
                wchar_t buf[256] = {};
                LVITEMW it = {};
                it.pszText = buf;
                it.cchTextMax = 256;
                SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&it));
                top.push_back(U8(Text(reinterpret_cast<const char16_t*>(buf))));
            }
        },
        &shown);
    g_rowsAtInit = -1;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, RowsAtInit, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    dlg->ShowLogWindow();
    UnhookWindowsHookEx(hook);
    driver.join();
    ASSERT_TRUE(shown);
    // The newest rows are there as the window first shows, without the whole file read.
    EXPECT_GT(g_rowsAtInit, 0);
    EXPECT_LT(g_rowsAtInit, kLines);
    EXPECT_EQ(rowsAtEnd, kLines);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0], "01.12.2026 12:00:00 строка 100000");
    EXPECT_EQ(top[1], "01.12.2026 12:00:00 строка 99999");
    EXPECT_EQ(top[2], "01.12.2026 12:00:00 строка 99998");
}

// ---- The channel chart ----

// Two groups over ten minutes with a 20-second gap: incoming 1000 + 500 under a 1800-wide
// channel, outgoing 300 + 300.
chart::View TwoGroupView() {
    chart::View v;
    v.range = chart::Range::k10Min;
    v.step = 1;
    v.series = {{1, u"Бухгалтерия", 0x1F77B4}, {2, u"Склад", 0xFF7F0E}};
    for (int i = 0; i < 600; ++i) {
        chart::Point p;
        p.time = 1'800'000'000 + i;
        p.gap = i >= 300 && i < 320;
        if (!p.gap) {
            p.in = {1000, 500};
            p.out = {300, 300};
            p.widthIn = p.widthOut = 1800;
        }
        v.points.push_back(p);
    }
    return v;
}

TEST(ChartPaint, AreasStackInOrderUnderTheWidthLineAndGapsStayEmpty) {
    const chart::View v = TwoGroupView();
    const RECT area = {0, 0, 1200, 600};
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), 1200, -600, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bmp, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    PaintChart(dc, area, v, {1.0, u"кбит/с"});

    const ChartPlots plots = ChartPlotRects(area, v);
    // 1800 puts the scale's top at 2000.
    auto y = [](const RECT& plot, double kbit) {
        return plot.bottom - static_cast<int>(std::lround(kbit / 2000 * (plot.bottom - plot.top)));
    };
    auto x = [&](const RECT& plot, size_t i) {
        return (ChartColumnOf(plot, v, i) + ChartColumnOf(plot, v, i + 1)) / 2;
    };
    const COLORREF blue = RGB(0x1F, 0x77, 0xB4), orange = RGB(0xFF, 0x7F, 0x0E);
    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
    const RECT& in = plots.in;
    for (size_t i : {50u, 200u, 500u}) {
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 700)), blue) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1250)), orange) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1650)), white) << i;
        const int wy = y(in, 1800);
        const bool line =
            GetPixel(dc, x(in, i), wy) == black || GetPixel(dc, x(in, i), wy - 1) == black;
        EXPECT_TRUE(line) << i;
        EXPECT_NE(GetPixel(dc, x(in, i), wy + 4), black) << i;
        EXPECT_NE(GetPixel(dc, x(in, i), wy - 5), black) << i;
    }
    // The gap: neither areas nor line.
    for (size_t i : {301u, 310u, 318u}) {
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 700)), white) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1800)), white) << i;
        EXPECT_EQ(GetPixel(dc, x(plots.out, i), y(plots.out, 150)), white) << i;
    }
    // Outgoing below, with its own figures: 300 + 300 on the same scale top as its width.
    EXPECT_GT(plots.out.top, in.bottom);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 150)), blue);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 450)), orange);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 1200)), white);
    // The column under the mouse names the point drawn there.
    EXPECT_EQ(ChartPointAt(in, v, x(in, 310)), 310);
    EXPECT_EQ(ChartPointAt(in, v, in.left - 1), -1);

    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

constexpr wchar_t kChart[] = L"Movra - график канала";

int CountOwnWindows(const wchar_t* title) {
    return static_cast<int>(OwnWindows(title).size());
}

TEST_F(MainWindowTest, ChartOpensFromItsMenuItemsOnceShowsCyclesSwitchesRangeAndReopens) {
    // The item sits just above Exit in both menus.
    for (int menu : {IDR_TABLE_MENU, IDR_TRAY_MENU}) {
        HMENU m = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menu));
        HMENU sub = GetSubMenu(m, 0);
        const int n = GetMenuItemCount(sub);
        EXPECT_EQ(GetMenuItemID(sub, n - 1), static_cast<UINT>(ID_EXIT)) << menu;
        EXPECT_EQ(GetMenuItemID(sub, n - 2), static_cast<UINT>(ID_SHOW_CHART)) << menu;
        DestroyMenu(m);
    }

    // Cycles reach the history from a worker thread through the window link.
    ASSERT_TRUE(PumpUntil([&] { return dlg->LogWindow() != nullptr; }));
    std::atomic<bool> sent{false};
    std::thread worker([&] {
        CycleSummary s;
        s.at = StampNow(clock);
        s.groups = {{0, u"Без группы", 800, 200, 0, 0}};
        s.widthIn = s.widthOut = 2000;
        dlg->CycleSummaryReady(s);
        sent = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return sent.load(); }));
    worker.join();
    // A reconnection three seconds later: the seconds between are a gap, not held over.
    const int64_t first = StampNow(clock).steady;
    dlg->OnLogLine(LOG_OK_CONNECTED, u"Авторизация пользователя TI...OK");
    clock.Advance(3);
    CycleSummary again;
    again.at = StampNow(clock);
    again.groups = {{0, u"Без группы", 700, 100, 0, 0}};
    dlg->OnCycleSummary(again);

    PostMessageW(hwnd, WM_COMMAND, ID_SHOW_CHART, 0);
    ASSERT_TRUE(PumpUntil([&] { return FindOwnWindow(kChart) != nullptr; }));
    HWND chartWnd = FindOwnWindow(kChart);
    EXPECT_EQ(chartWnd, dlg->Chart().Hwnd());
    EXPECT_EQ(GetWindow(chartWnd, GW_OWNER), nullptr);
    const chart::View& shown = dlg->Chart().Shown();
    EXPECT_EQ(shown.points.size(), 600u);
    auto at = [&](int64_t t) {
        return std::find_if(shown.points.begin(), shown.points.end(),
                            [t](const chart::Point& p) { return p.time == t; });
    };
    ASSERT_NE(at(first), shown.points.end());
    ASSERT_NE(at(first + 3), shown.points.end());
    EXPECT_FALSE(at(first)->gap);
    EXPECT_TRUE(at(first + 1)->gap);
    EXPECT_TRUE(at(first + 2)->gap);
    EXPECT_FALSE(at(first + 3)->gap);

    dlg->RunCommand(ID_SHOW_CHART);
    Pump(50ms);
    EXPECT_EQ(dlg->Chart().Hwnd(), chartWnd);
    EXPECT_EQ(CountOwnWindows(kChart), 1);

    // The "1 час" button.
    HWND hour = FindWindowExW(chartWnd, nullptr, WC_BUTTONW, L"1 час");
    ASSERT_NE(hour, nullptr);
    SendMessageW(hour, BM_CLICK, 0, 0);
    EXPECT_EQ(dlg->Chart().Range(), chart::Range::k1Hour);
    EXPECT_EQ(dlg->Chart().Shown().points.size(), 3600u);

    SendMessageW(chartWnd, WM_CLOSE, 0, 0);
    Pump(50ms);
    EXPECT_FALSE(IsWindow(chartWnd));
    EXPECT_EQ(dlg->Chart().Hwnd(), nullptr);
    dlg->RunCommand(ID_SHOW_CHART);
    ASSERT_TRUE(PumpUntil([&] { return FindOwnWindow(kChart) != nullptr; }));
    EXPECT_EQ(CountOwnWindows(kChart), 1);
}

TEST_F(MainWindowTest, TheChartRedrawsOnItsTimerAfterTheClockIsSetBack) {
    auto cycle = [&] {
        CycleSummary s;
        s.at = StampNow(clock);
        s.groups = {{0, u"Без группы", 800, 200, 0, 0}};
        dlg->OnCycleSummary(s);
        return s.at;
    };
    const ClockStamp before = cycle();
    dlg->ShowChart();
    ASSERT_NE(dlg->Chart().Hwnd(), nullptr);
    // The administrator sets the clock back ten minutes; a second later the next cycle comes.
    int redraws = dlg->Chart().Redraws();
    clock.Set(clock.Now() - 600);
    clock.Advance(1);
    const ClockStamp after = cycle();
    ASSERT_TRUE(PumpUntil([&] { return dlg->Chart().Redraws() > redraws; }));
    const chart::View& v = dlg->Chart().Shown();
    ASSERT_GE(v.points.size(), 2u);
    const chart::Point& last = v.points.back();
    const chart::Point& prev = v.points[v.points.size() - 2];
    EXPECT_FALSE(last.gap);
    EXPECT_FALSE(prev.gap);
    EXPECT_EQ(last.local, after.local);
    EXPECT_EQ(prev.local, before.local);
    EXPECT_EQ(after.local, before.local + 1 - 600);
    // And on schedule after that, with no cycle either.
    redraws = dlg->Chart().Redraws();
    clock.Advance(1);
    ASSERT_TRUE(PumpUntil([&] { return dlg->Chart().Redraws() > redraws; }));
}

TEST_F(MainWindowTest, ChartOpensBesideAModalDialogWhichStaysTheOneBroughtForward) {
    HWND picked = nullptr, about = nullptr, chartWnd = nullptr;
    bool shown = false;
    std::thread driver = Drive(
        L"О программе Movra",
        [&](HWND box) {
            about = box;
            PostMessageW(hwnd, WM_COMMAND, ID_SHOW_CHART, 0);
            auto end = std::chrono::steady_clock::now() + 10s;
            while (!(chartWnd = FindOwnWindow(kChart)) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(20ms);
            // The chart is now the window last activated; a refused command still finds the box.
            SendMessageW(chartWnd, WM_NULL, 0, 0);
            picked = dlg->ModalDialog();
            PostMessageW(hwnd, WM_COMMAND, IDC_OPTIONS, 0);
            std::this_thread::sleep_for(kQuietWindow);
        },
        &shown);
    dlg->RunCommand(IDM_ABOUTBOX);
    driver.join();
    ASSERT_TRUE(shown);
    ASSERT_NE(chartWnd, nullptr);
    EXPECT_EQ(picked, about);
    EXPECT_TRUE(IsWindow(chartWnd));
}

TEST_F(MainWindowTest, AChartCsvThatCannotBeWrittenIsReportedInABox) {
    dlg->ShowChart();
    ASSERT_NE(dlg->Chart().Hwnd(), nullptr);
    Text reported;
    bool shown = false;
    std::thread driver = Drive(
        L"Movra",
        [&](HWND box) {
            wchar_t text[512] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            reported = Text(reinterpret_cast<const char16_t*>(text));
        },
        &shown);
    EXPECT_FALSE(dlg->Chart().SaveCsv(u"Z:\\нет такой папки\\канал.csv"));
    driver.join();
    ASSERT_TRUE(shown);
    EXPECT_NE(U8(reported).find("канал.csv"), std::string::npos) << U8(reported);
}

}  // namespace
}  // namespace movra::gui_test
