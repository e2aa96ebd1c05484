// Whole files for tests: read into a string, written from one.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pelmo::testing {

// The file's bytes; "" when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file's content, making its parent folders first.
inline void WriteWholeFile(const std::filesystem::path& path, const std::string& content) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace pelmo::testing
