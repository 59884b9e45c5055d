#pragma once
// Text files as the program keeps them: UTF-16LE with a byte-order mark and CR LF line ends.
// File names are UTF-16 (wide names on Windows, UTF-8 on other systems).
#include <cstdio>
#include <optional>
#include <string>

#include "core/file_system.h"
#include "core/text.h"

namespace movra {

// fopen with a UTF-16 file name; mode as for fopen ("rb", "wb", "ab").
FILE* OpenFile(const Text& name, const char* mode);
bool RemoveFile(const Text& name);

// Decodes a whole file's bytes: a UTF-16LE or UTF-8 byte-order mark is followed, a file without
// one is UTF-16LE. Line ends are kept as they are (CR LF stays two characters).
Text DecodeText(const std::string& bytes);
// The bytes of `text` as UTF-16LE, with "\n" written as CR LF.
std::string EncodeUtf16Lines(TextView text);
// Writes `bytes` to a temporary file beside `name`, pushes it to the disk and only then puts it
// in place of `name` in one step, so a failed save (or a power cut) never destroys the previous
// file. Returns the message to show, or nothing on success.
std::optional<Text> WriteFileReplacing(const Text& name, const std::string& bytes, FileSystem& fs);
// Reads a whole file; nullopt when it is missing or cannot be read (FileSystem::ReadWhole tells
// the two apart).
std::optional<std::string> ReadFileBytes(const Text& name);

}  // namespace movra
