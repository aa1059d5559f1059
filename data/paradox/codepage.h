// The code pages a Paradox table's text may be written in, and their
// conversion into the system's code page 1252.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cg::paradox {

// A table's code page as its header gives it (offset 6A): 437, 850, 1252,
// 936, ... ; 0 is HP Roman-8 (sort order BLROM800); -1 a 3.x table, which
// holds no code page and is read as 437, the code page of DOS.
bool KnownCodePage(int codePage);

// The Unicode code point of one byte in that code page, or 0xFFFFFFFF when
// the code page leaves the byte undefined or is not known (for CP936, every
// byte above 7F: only its ASCII half is read).
char32_t DecodeByte(int codePage, unsigned char b);

// Text of that code page as CP1252. Returns false (and `out` holds what was
// converted so far) at the first byte whose character has no CP1252 form;
// `badOffset` is then its offset in `text`.
bool ToCp1252(int codePage, std::string_view text, std::string& out, std::size_t& badOffset);

// Text of that code page as UTF-8 (for reports and tests); an undefined byte
// becomes U+FFFD.
std::string ToUtf8(int codePage, std::string_view text);

}  // namespace cg::paradox
