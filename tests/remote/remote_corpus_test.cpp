// Replays the fuzz corpus of the message decoder, so every input the fuzzer kept is checked by
// the normal test run too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "remote_fuzz_check.h"

namespace movra::remote {
namespace {

TEST(RemoteCorpus, EveryInputDecodesSafelyToAFixedPoint) {
    const std::filesystem::path dir = MOVRA_REMOTE_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir.string();
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(CheckRemoteInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                  "")
            << entry.path().filename().string();
        ++count;
    }
    EXPECT_GT(count, 0);
}

}  // namespace
}  // namespace movra::remote
