#pragma once
// Reads a log file for the log window, newest line first, from the end of the file, so that
// the newest lines of a long file show at once and the rest follows batch by batch.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"

namespace movra {

// The message shown when the log file cannot be opened for viewing.
Text LogViewOpenErrorText(const Text& logFileName);

class LogFileReader {
  public:
    LogFileReader() = default;
    ~LogFileReader();
    LogFileReader(const LogFileReader&) = delete;
    LogFileReader& operator=(const LogFileReader&) = delete;

    // Opens the file and takes its size at this moment; lines appended later are not read.
    // UTF-16LE with or without a byte-order mark, or UTF-8 with its mark. False when it cannot
    // be opened.
    bool Open(const Text& fileName);
    void Close();

    // Up to `maxLines` lines, newest first, continuing where the last call stopped. Every line
    // is whole (no length limit, no character lost), without its CR LF; empty lines stay.
    // Empty once AtEnd().
    std::vector<Text> NextLines(size_t maxLines);

    // True when every line has been returned, or a read failed (reading stops there).
    bool AtEnd() const { return done_; }
    bool Failed() const { return failed_; }

  private:
    bool LoadMore();
    Text Decode(size_t from, size_t to) const;

    FILE* f_ = nullptr;
    bool utf8_ = false;
    bool done_ = true;
    bool failed_ = false;
    size_t unit_ = 2;
    int64_t start_ = 0;     // first byte after the byte-order mark
    int64_t bufStart_ = 0;  // file offset of buf_[0]
    std::string buf_;       // bytes [bufStart_, bufStart_ + end_) not yet returned
    size_t end_ = 0;        // end of the unreturned bytes inside buf_
};

}  // namespace movra
