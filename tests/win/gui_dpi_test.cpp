// The main window, the groups editor and the chart on a denser screen, in-process: the test runs
// in a Wine prefix of its own whose DPI is MOVRA_TEST_DPI (gui_dpi.sh sets both), and checks that
// every size given at 96 DPI is drawn scaled to it.
#include <cstdlib>

#include "main_window_fixture.h"
#include "ui/editors_res.h"
#include "ui/win/dpi.h"
#include "ui/win/win_util.h"

namespace movra::gui_test {
namespace {

int ExpectedDpi() {
    const char* v = std::getenv("MOVRA_TEST_DPI");
    return v ? std::atoi(v) : 0;
}

int ColumnWidth(HWND list, int c) {
    return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
}

// The client-area box of a child window.
RECT ChildBox(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct DpiTest : MainWindowTest {
    const int dpi = ExpectedDpi();
    void SetUp() override {
        ASSERT_GT(dpi, kBaseDpi) << "run through gui_dpi.sh, which sets MOVRA_TEST_DPI";
        MainWindowTest::SetUp();
    }
    int S(int px) const { return MulDiv(px, dpi, kBaseDpi); }
};

// The program's manifest as the loader reads it (the test carries the program's resources).
// Wine makes every process per-monitor aware whatever it declares, so only this shows it.
std::string ManifestSetting(const wchar_t* ns, const wchar_t* name) {
    wchar_t value[128] = {};
    SIZE_T n = 0;
    if (!QueryActCtxSettingsW(0, nullptr, ns, name, value, 128, &n)) return "(none)";
    return U8(FromWide(value));
}

TEST(DpiManifest, DeclaresPerMonitorV2WithTheOlderPerMonitorFallback) {
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        "PerMonitorV2, PerMonitor");
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        "true/pm");
}

TEST_F(DpiTest, TheWindowItsTableGaugesAndTrayIconAreSizedForTheScreensDpi) {
    EXPECT_EQ(DpiOf(hwnd), dpi);
    EXPECT_EQ(dlg->Dpi(), dpi);
    for (int c = 0; c < ui::kColumnCount; ++c)
        EXPECT_EQ(ColumnWidth(Table(), c), S(ui::kColumns[c].width)) << c;

    {
        Model::Guard g(model);
        model.settings.GridSize = 4;
    }
    AddUser(u"anna", 1, true, 50);
    dlg->RebuildGauges();
    dlg->RefreshTableNow();
    SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(WindowHeight(), S(14 * 4 + 105));
    RECT w;
    GetWindowRect(hwnd, &w);
    const RECT table = ChildBox(Table());
    EXPECT_EQ(table.left, S(2));
    EXPECT_EQ(table.top, S(20));
    EXPECT_EQ(table.right - table.left, (w.right - w.left) - S(10));
    EXPECT_EQ(table.bottom - table.top, (w.bottom - w.top) - S(82));
    const RECT options = ChildBox(GetDlgItem(hwnd, IDC_OPTIONS));
    EXPECT_EQ(options.right - options.left, S(150));
    EXPECT_EQ(options.left, (w.right - w.left) - S(160));
    EXPECT_EQ(SendMessageW(dlg->EventList(), CB_GETITEMHEIGHT, 0, 0), S(ui::kEventItemHeight));

    // The gauge keeps its inset inside column 6 of its row.
    ASSERT_EQ(dlg->UserTable().Gauges().size(), 1u);
    HWND gauge = dlg->UserTable().Gauges()[0];
    ASSERT_TRUE(IsWindowVisible(gauge));
    RECT row = {};
    row.left = LVIR_BOUNDS;
    SendMessageW(Table(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    int cell = row.left;
    for (int c = 0; c < ui::kGaugeColumn; ++c) cell += ColumnWidth(Table(), c);
    const RECT bar = ChildBox(gauge);
    EXPECT_EQ(bar.left, cell + S(2));
    EXPECT_EQ(bar.right - bar.left, ColumnWidth(Table(), ui::kGaugeColumn) - 2 * S(2));
    EXPECT_EQ(bar.top, row.top + S(2));

    // The tray's icon is the small size the system asks for, loaded at that size.
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(dlg->TrayIconHandle(), &info));
    BITMAP bm = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(bm.bmWidth, S(16));
}

TEST_F(DpiTest, TheGroupsEditorsColumnsAreScaled) {
    bool shown = false;
    std::vector<int> widths;
    std::thread driver = Drive(
        L"Редактор групп",
        [&](HWND editor) {
            for (int id : {IDC_GR_LIST, IDC_GR_FREE_USERS, IDC_GR_MEMBERS}) {
                HWND list = GetDlgItem(editor, id);
                HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
                const int n = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
                for (int c = 0; c < n; ++c) widths.push_back(ColumnWidth(list, c));
            }
        },
        &shown);
    dlg->RunCommand(IDC_GROUPS);
    driver.join();
    ASSERT_TRUE(shown);
    std::vector<int> expected;
    for (int px : {20, 100, 150, 110, 110, 150, 60, 150, 60}) expected.push_back(S(px));
    EXPECT_EQ(widths, expected);
}

// Windows moves a window to a screen of another DPI with WM_DPICHANGED; Wine never sends it, so
// the test does, as Windows would, for a move back to a 96-DPI screen.
TEST_F(DpiTest, AMoveToAnotherDpiTakesTheSuggestedRectangleAndRescalesTheTableAndTheChart) {
    const WPARAM wp = MAKEWPARAM(kBaseDpi, kBaseDpi);
    std::vector<int> before;
    for (int c = 0; c < ui::kColumnCount; ++c) before.push_back(ColumnWidth(Table(), c));
    // A width dragged by hand keeps its proportion too.
    SendMessageW(Table(), LVM_SETCOLUMNWIDTH, 1, S(200));
    before[1] = S(200);
    RECT suggested = {40, 30, 40 + 900, 30 + 300};
    SendMessageW(hwnd, WM_DPICHANGED, wp, reinterpret_cast<LPARAM>(&suggested));
    Pump(50ms);
    RECT w;
    GetWindowRect(hwnd, &w);
    EXPECT_EQ(w.left, suggested.left);
    EXPECT_EQ(w.top, suggested.top);
    EXPECT_EQ(w.right - w.left, suggested.right - suggested.left);
    // The height is the one the rows need at the new DPI.
    EXPECT_EQ(WindowHeight(), ui::FitHeight(app.CurrentSettings().GridSize));
    EXPECT_EQ(dlg->Dpi(), kBaseDpi);
    for (int c = 0; c < ui::kColumnCount; ++c)
        EXPECT_EQ(ColumnWidth(Table(), c), MulDiv(before[c], kBaseDpi, dpi)) << c;
    EXPECT_EQ(SendMessageW(dlg->EventList(), CB_GETITEMHEIGHT, 0, 0), ui::kEventItemHeight);

    dlg->ShowChart();
    HWND chart = dlg->Chart().Hwnd();
    ASSERT_NE(chart, nullptr);
    RECT to = {60, 50, 60 + 700, 50 + 500};
    SendMessageW(chart, WM_DPICHANGED, wp, reinterpret_cast<LPARAM>(&to));
    Pump(50ms);
    RECT c;
    GetWindowRect(chart, &c);
    EXPECT_EQ(c.left, to.left);
    EXPECT_EQ(c.right - c.left, to.right - to.left);
    EXPECT_EQ(c.bottom - c.top, to.bottom - to.top);
    // The first range button sits where the toolbar puts it at 96 DPI, in the font of 96 DPI.
    HWND first = GetDlgItem(chart, 101);
    ASSERT_NE(first, nullptr);
    const RECT b = ChildBox(first);
    EXPECT_EQ(b.left, 8);
    EXPECT_EQ(b.top, 6);
    EXPECT_EQ(b.right - b.left, 80);
    EXPECT_EQ(b.bottom - b.top, 24);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(first, WM_GETFONT, 0, 0)), ChartFont(kBaseDpi));
}

// The chart at this DPI: plots, width line and legend where the scaled layout puts them.
TEST_F(DpiTest, AChartPaintedAtTheDpiHasItsWidthLineAndLegendWhereTheScaledLayoutPutsThem) {
    chart::View v;
    v.range = chart::Range::k10Min;
    v.step = 1;
    v.series = {{1, u"Бухгалтерия", 0x1F77B4}, {2, u"Склад", 0xFF7F0E}};
    for (int i = 0; i < 600; ++i) {
        chart::Point p;
        p.time = 1'800'000'000 + i;
        p.gap = false;
        p.in = {1000, 500};
        p.out = {300, 300};
        p.widthIn = p.widthOut = 1800;
        v.points.push_back(p);
    }
    const int width = S(1200), height = S(600);
    const RECT area = {0, 0, width, height};
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bmp, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    PaintChart(dc, area, v, {1.0, u"кбит/с"}, dpi);

    const ChartPlots plots = ChartPlotRects(area, v, dpi);
    EXPECT_EQ(plots.in.left, S(64));
    EXPECT_EQ(plots.in.top, S(20) + S(6));
    EXPECT_EQ(plots.in.right, width - S(190) - S(6));
    const COLORREF blue = RGB(0x1F, 0x77, 0xB4), orange = RGB(0xFF, 0x7F, 0x0E);
    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
    // The width line, 2 px at 96 DPI: S(2) rows from its value upwards, none beyond.
    const RECT& in = plots.in;
    const int wy = in.bottom - static_cast<int>(std::lround(1800.0 / 2000 * (in.bottom - in.top)));
    const int x = (ChartColumnOf(in, v, 200) + ChartColumnOf(in, v, 201)) / 2;
    for (int k = 0; k < S(2); ++k) EXPECT_EQ(GetPixel(dc, x, wy - k), black) << k;
    EXPECT_NE(GetPixel(dc, x, wy - S(2)), black);
    EXPECT_NE(GetPixel(dc, x, wy + 1), black);

    // The legend: the top series' square first, the other one entry lower, then after half an
    // entry's gap the width line's sample, as thick as the line.
    const RECT legend = ChartLegendRect(area, v, dpi);
    EXPECT_EQ(legend.left, in.right + 2 * S(6));
    const int line = S(20), sx = legend.left + S(6);
    EXPECT_EQ(GetPixel(dc, sx, legend.top + S(10)), orange);
    EXPECT_EQ(GetPixel(dc, sx, legend.top + line + S(10)), blue);
    EXPECT_EQ(GetPixel(dc, legend.left + S(12) + 1, legend.top + S(10)), white);
    const int sample = legend.top + 2 * line + line / 2 + line / 2;
    for (int k = 0; k < S(2); ++k) EXPECT_EQ(GetPixel(dc, sx, sample - k), black) << k;
    EXPECT_NE(GetPixel(dc, sx, sample - S(2)), black);
    EXPECT_NE(GetPixel(dc, sx, sample + 1), black);

    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

}  // namespace
}  // namespace movra::gui_test
