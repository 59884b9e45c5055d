#pragma once
// Messages filled as a busy service would fill them: Russian names, every field away from its
// default, and the odd values (NaN, infinities, extremes) a codec must carry. Shared by the codec
// test, the tool that writes frames for the independent decoder and the fuzz seeds, and the
// benchmark.
#include <cstdint>
#include <vector>

#include "remote/messages.h"

namespace movra::remote::sample {

CTiUserData User(int i);
Group GroupNo(int i);
Settings SettingsRecord();
State StateOf(int users, int groups);
CycleSummary SummaryOf(int groups);
chart::HistoryData History(int seconds, int minutes, int groups);
// One message of each kind, and one request of each kind.
std::vector<Message> EveryMessage();

}  // namespace movra::remote::sample
