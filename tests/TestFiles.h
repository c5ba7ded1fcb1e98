#pragma once
// Looking at what a test left on disk: the files in a folder, and a WAV file decoded by our
// reader and, independently, by sox.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "WavBuilder.h"
#include "wave/Wavefile.h"

namespace wavtest {

// The names in a folder, sorted, hidden ones included (left-over temporary files are hidden).
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every frame the reader delivers from where it stands, interleaved left, right.
inline std::vector<double> ReadAll(TWaveFileReader& reader)
{
    std::vector<double> out;
    double l[BlockFrames], r[BlockFrames];
    while (uint32_t n = reader.Read(l, r, BlockFrames)) {
        for (uint32_t i = 0; i < n; ++i) {
            out.push_back(l[i]);
            out.push_back(r[i]);
        }
    }
    return out;
}

inline bool HaveSox() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

// sox's own decode of every channel, interleaved, as doubles; empty when sox refuses the file.
inline std::vector<double> SoxDecode(const std::string& path)
{
    const std::string raw = path + ".f64";
    const std::string command = "sox '" + path + "' -t f64 -e floating-point -b 64 '" + raw + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    const Bytes bytes = ReadFile(raw);
    std::vector<double> values(bytes.size() / 8);
    std::memcpy(values.data(), bytes.data(), values.size() * 8);
    return values;
}

}  // namespace wavtest
