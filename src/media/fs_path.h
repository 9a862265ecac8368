#pragma once

#include <filesystem>
#include <string>

namespace sonaweld::media {

// Paths travel through the framework as UTF-8; a path built from a plain
// std::string would take the system's narrow code page instead.
inline std::filesystem::path filePath(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace sonaweld::media
