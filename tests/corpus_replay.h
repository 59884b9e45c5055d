#pragma once
// Replays a fuzz corpus in the normal test run: every input the fuzzer kept is checked again by
// the same check the fuzz target runs (an empty text: the input passed).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace movra::testing {

template <typename Check>
void ReplayCorpus(const std::filesystem::path& dir, Check check) {
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir.string();
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path().filename().string();
        ++count;
    }
    EXPECT_GT(count, 0);
}

}  // namespace movra::testing
