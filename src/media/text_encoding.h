#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sonaweld::media {

// Bytes of the well-formed UTF-8 character at the start of `s`, or 0 when
// it starts with a byte no well-formed character starts with (overlong
// forms and surrogates included, which many readers reject).
std::size_t utf8Length(std::string_view s);

// Whether every byte of `s` belongs to a well-formed UTF-8 character.
bool isUtf8(std::string_view s);

// `text` read as Windows-1252 (the ANSI code page that Windows programs
// write RIFF INFO tags in), as UTF-8. The five bytes that code page leaves
// undefined become U+FFFD.
std::string windows1252ToUtf8(std::string_view text);

} // namespace sonaweld::media
