#pragma once
// What the chart's view makes of a history view for the administrator: the tooltip over a point
// and the CSV file "Сохранить CSV..." writes, in the table's unit.
#include <string>

#include "app/channel_history.h"
#include "core/file_system.h"
#include "core/text.h"
#include "ui/table_model.h"

namespace movra::chart {

using ui::DisplayUnit;

// The tooltip over point `index` of `v`: the time, each series' incoming and outgoing value and
// the totals, in the table's unit; lines end in "\r\n" (what a multi-line Win32 tooltip shows).
Text TooltipText(const View& v, size_t index, const DisplayUnit& unit);

// The CSV file of a view: UTF-8 with a BOM, ';' between fields, a decimal comma whatever the
// locale, names quoted when they hold ';' or '"', time as "ДД.ММ.ГГГГ ЧЧ:ММ:СС", one row per
// point, per series incoming and outgoing, then the widths.
// Seconds that are gaps or only held (and minutes without a cycle) have no row.
std::string CsvBytes(const View& v, const DisplayUnit& unit);

// Writes the CSV bytes to `path` (through a temporary file put in its place). False with the
// message to show in `error` when it failed.
bool SaveCsv(const std::string& bytes, const Text& path, FileSystem& fs, Text& error);

}  // namespace movra::chart
