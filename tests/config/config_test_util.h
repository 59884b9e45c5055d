#pragma once
// Scratch folders and file helpers for the configuration tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/text.h"
#include "core/textfile.h"

namespace movra::testing {

// Runs each test inside a fresh folder of its own, so Movra.cfg is opened by its bare name.
class ScratchDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = std::filesystem::temp_directory_path() /
               ("movra-config-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(dir_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    static void WriteBytes(const std::string& name, const std::string& bytes) {
        std::ofstream f(name, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static std::string ReadBytes(const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    // UTF-16LE with a BOM and CR LF, as the program writes.
    static std::string Utf16File(TextView text) { return "\xFF\xFE" + EncodeUtf16Lines(text); }
    static void WriteConfig(TextView text) { WriteBytes("Movra.cfg", Utf16File(text)); }
    static Text ReadConfig() { return DecodeText(ReadBytes("Movra.cfg")); }

    std::filesystem::path dir_;
    std::filesystem::path old_;
};

}  // namespace movra::testing
