#include "config_fuzz_check.h"

#include "config/config_file.h"
#include "core/clock.h"
#include "core/model.h"
#include "core/textfile.h"

namespace movra {

std::string CheckConfigInput(const uint8_t* data, size_t size) {
    const Text text = DecodeText(std::string(reinterpret_cast<const char*>(data), size));
    ManualClock clock;
    Model first(clock);
    Model::Guard g1(first);
    std::vector<Text> messages = ReadConfigText(first, text);
    if (messages.size() > kMaxConfigMessages + 1) return "too many messages";
    const Settings& s = first.settings;
    for (const Text* word : {&s.Server, &s.LogFileName, &s.DOWNLOADER_USERNAME})
        if (word->size() > kMaxConfigWord) return "a one-word value longer than the cut";
    if (first.NumUsers < 0 ||
        (first.NumUsers > 0 && static_cast<size_t>(first.NumUsers) >= first.Users.size()))
        return "no spare record beyond the users";

    // Whatever was read, its saved form must read back cleanly and save identically.
    const Text saved = ConfigText(TakeConfigSnapshot(first));
    Model second(clock);
    Model::Guard g2(second);
    std::vector<Text> again = ReadConfigText(second, saved);
    if (!again.empty()) return "the saved text gives a message on reading: " + ToUtf8(again[0]);
    if (second.NumUsers != first.NumUsers) return "the user count changed on reading back";
    if (ConfigText(TakeConfigSnapshot(second)) != saved) return "the saved text changed";
    return std::string();
}

}  // namespace movra
