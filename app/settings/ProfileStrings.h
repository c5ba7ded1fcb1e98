#pragma once
#include <string>

// Key-by-key access to a small INI file, with the contract of the classic profile-string
// calls: sections stand as "[name]" on lines of their own, keys as "key=value" lines.
// Section and key names compare without regard to ASCII letter case; the text is UTF-8;
// both LF and CRLF files are understood. Paths are file-system (narrow) paths.

// The value of one key, or defaultValue when the file, the section or the key is
// missing. A key present with an empty value gives an empty text. The result is cut
// to 2047 characters.
std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& defaultValue);

// Sets one key, creating the file, the section and the key as needed; sections and
// keys keep the order in which they were first written, every other line is kept
// byte for byte. The file is replaced whole (temporary file beside it, flushed to
// disk, renamed over it), so a failure leaves the old file untouched. Returns false
// when the file is read-only (no write bit set), is not a regular file, its folder is
// missing, or a name or the value cannot be stored on one line.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);
