#pragma once

#include <cstdint>
#include <vector>

namespace sonaweld::media {

// RIFF is little-endian whatever the machine, so every field is put byte by
// byte rather than copied from memory.
inline void put16(std::vector<std::uint8_t> &b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(std::vector<std::uint8_t> &b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put64(std::vector<std::uint8_t> &b, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void putTag(std::vector<std::uint8_t> &b, const char *tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(tag[i]));
}

} // namespace sonaweld::media
