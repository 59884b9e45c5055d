#pragma once
// "Movra - график канала": the channel chart, a modeless window of its own (no owner, so that
// it stays usable beside a modal dialog of the main window and is never taken for one). It
// shows a view of the history the main window keeps and redraws at most once a second.
#include <windows.h>

#include <functional>

#include "ui/chart_export.h"
#include "ui/table_model.h"
// The picture and the save flow, which whoever holds the window also reaches.
#include "ui/win/chart_paint.h"
#include "ui/win/chart_save.h"

namespace movra {

constexpr const wchar_t* kChartTitle = L"Movra - график канала";

class ChartWindow {
  public:
    struct Sources {
        const chart::ChannelHistory* history = nullptr;
        std::function<ui::DisplayUnit()> unit;  // the table's unit now
        std::function<ClockStamp()> now;        // steady and wall-clock now
        ChartCsvWriter save;
    };
    explicit ChartWindow(Sources sources);
    ~ChartWindow();
    ChartWindow(const ChartWindow&) = delete;
    ChartWindow& operator=(const ChartWindow&) = delete;

    // Opens the window, or brings it forward when it is open.
    void Open(HINSTANCE inst);
    void Close();
    // New data in the history: drawn with the next once-a-second redraw.
    void DataArrived() { dirty_ = true; }
    void SetRange(chart::Range r);
    // Saves the shown range to `path`, reporting a failure with a message box.
    bool SaveCsv(const Text& path);

    HWND Hwnd() const { return hwnd_; }
    chart::Range Range() const { return range_; }
    const chart::View& Shown() const { return view_; }
    int Redraws() const { return redraws_; }
    // Redraws now if anything changed since the last redraw (the timer's work).
    void Tick();

  private:
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void Create(HINSTANCE inst);
    void LayOut();
    // Moved to a screen of another DPI (`suggested`: the rectangle Windows proposes there).
    void OnDpiChanged(int dpi, LPARAM suggested);
    void Redraw();
    void OnMouseMove(int x, int y);
    void HideTip();
    void AskAndSave();
    RECT ChartArea() const;

    Sources src_;
    HWND hwnd_ = nullptr;
    HWND rangeButtons_[3] = {};
    HWND saveButton_ = nullptr;
    HWND tip_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = kBaseDpi;  // the DPI the window lays itself out and draws for
    bool tracking_ = false;
    // What the tooltip shows now, so that only changes are sent to it.
    bool tipShown_ = false;
    Text tipText_;
    POINT tipPos_ = {-1, -1};

    chart::Range range_ = chart::Range::k10Min;
    chart::View view_;
    ui::DisplayUnit unit_ = {1.0, u""};
    bool dirty_ = true;
    int64_t builtAt_ = 0;  // steady second of the last redraw
    int redraws_ = 0;

    // The back buffer the chart is drawn into and painted from.
    HDC memDc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    SIZE bufSize_ = {};
};

}  // namespace movra
