#pragma once
// A fresh folder per test, removed afterwards; file names come back as UTF-16 texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "core/text.h"
#include "core/textfile.h"

namespace movra::testing {

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The suite, and a moment of this process: trees and worktrees that run the same test
        // at the same time must not share its folder.
        std::string name =
            std::string("movra_log_") + (info ? info->test_suite_name() : "x") + "_" +
            (info ? info->name() : "x") + "_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
            std::to_string(counter++);
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Text File(const std::string& leaf) const {
        auto p = (path_ / leaf).u16string();
        return Text(p.begin(), p.end());
    }

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// UTF-16LE bytes of a text, without any byte-order mark or line-end translation.
inline std::string Utf16Bytes(TextView text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

inline void WriteBytes(const Text& name, const std::string& bytes) {
    FILE* f = OpenFile(name, "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace movra::testing
