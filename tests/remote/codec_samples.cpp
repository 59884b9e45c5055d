// Writes the frames of a session (sample_messages.h) into a folder, one file a message, for a
// decoder that shares no code with ours (codec_check.py).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "remote/codec.h"
#include "sample_messages.h"

int main(int argc, char** argv) {
    using namespace movra;
    using namespace movra::remote;
    if (argc != 2) {
        std::fprintf(stderr, "usage: codec_samples FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    static const char* const kNames[] = {"hello",   "welcome", "refusal", "state", "logline",
                                         "summary", "notice",  "request", "reply"};
    std::vector<Message> all = sample::EveryMessage();
    all.push_back(Notice{Text(u"x\xD800y")});
    int n = 0;
    for (const Message& m : all) {
        std::string name = kNames[m.index()];
        if (const auto* r = std::get_if<Request>(&m)) name += "-" + std::to_string(r->body.index());
        if (n == static_cast<int>(all.size()) - 1) name += "-lone-surrogate";
        const std::string prefix = (n < 10 ? "0" : "") + std::to_string(n) + "-";
        ++n;
        const std::vector<uint8_t> frame = EncodeFrame(m);
        std::ofstream f(dir / (prefix + name + ".frame"), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(frame.data()),
                static_cast<std::streamsize>(frame.size()));
        if (!f) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
