#pragma once

#include <cstddef>
#include <string_view>

namespace zip {

// Length of the well-formed UTF-8 sequence starting at bytes[at] (1 to 4), or 0 when the bytes
// there are not one: a stray continuation byte, a cut or overlong sequence, an encoded
// surrogate or a value above U+10FFFF.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t at);

// True when every byte belongs to a well-formed UTF-8 sequence.
bool isValidUtf8(std::string_view bytes);

}  // namespace zip
