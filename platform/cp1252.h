// Texts of the system are single-byte strings in code page 1252. This header
// converts them to and from UTF-8 at the edges (the Qt view, JSON output,
// host file names) and turns UTF-8 source literals into CP1252 at compile time:
//
//   const std::string_view caption = "Corrigir Nomes das Fórmulas"_cp;
//
// A literal holding a character that CP1252 lacks does not compile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cg {

// The Unicode code point of a CP1252 byte. The five bytes that CP1252 leaves
// undefined (81, 8D, 8F, 90, 9D) map to the C1 control of the same value.
constexpr char32_t cp1252ToUnicode(unsigned char b) {
  constexpr char32_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (b >= 0x80 && b < 0xA0) return high[b - 0x80];
  return b;
}

// The CP1252 byte of a code point, or -1 when CP1252 has none.
constexpr int unicodeToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int b = 0x80; b < 0xA0; ++b)
    if (cp1252ToUnicode(static_cast<unsigned char>(b)) == c) return b;
  return -1;
}

// Appends the UTF-8 form of a code point of the Basic Multilingual Plane.
inline void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i. Returns 0xFFFFFFFF on a
// malformed sequence (one byte is consumed).
constexpr char32_t decodeUtf8(const char* s, std::size_t n, std::size_t& i) {
  auto u = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = u(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len = (c >= 0xF0) ? 4 : (c >= 0xE0) ? 3 : (c >= 0xC0) ? 2 : 0;
  if (len == 0 || i + len > n) {
    ++i;
    return 0xFFFFFFFF;
  }
  char32_t cp = c & (0xFF >> (len + 1));
  for (int k = 1; k < len; ++k) {
    unsigned char cc = u(i + k);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFFFFFF;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  return cp;
}

// CP1252 bytes to UTF-8.
std::string toUtf8(std::string_view cp1252);
// UTF-8 to CP1252; characters CP1252 lacks become '?'.
std::string fromUtf8(std::string_view utf8);

namespace detail {
template <std::size_t N>
struct Utf8Literal {
  char chars[N]{};
  constexpr Utf8Literal(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = s[i];
  }
};

template <std::size_t N>
constexpr std::size_t cp1252Length(const Utf8Literal<N>& lit) {
  std::size_t i = 0, n = 0;
  while (i < N - 1) {
    char32_t c = decodeUtf8(lit.chars, N - 1, i);
    if (c == 0xFFFFFFFF || unicodeToCp1252(c) < 0)
      throw "literal holds a character that code page 1252 lacks";
    ++n;
  }
  return n;
}

template <Utf8Literal L>
struct Cp1252Literal {
  static constexpr std::size_t size = cp1252Length(L);
  static constexpr std::array<char, size + 1> data = [] {
    std::array<char, size + 1> out{};
    std::size_t i = 0, n = 0;
    constexpr std::size_t len = sizeof(L.chars) - 1;
    while (i < len) out[n++] = static_cast<char>(unicodeToCp1252(decodeUtf8(L.chars, len, i)));
    out[n] = '\0';
    return out;
  }();
};
}  // namespace detail

inline namespace literals {
template <detail::Utf8Literal L>
constexpr std::string_view operator""_cp() {
  return std::string_view(detail::Cp1252Literal<L>::data.data(), detail::Cp1252Literal<L>::size);
}
}  // namespace literals

// Shorthand for building a std::string from a CP1252 literal.
inline std::string cp(std::string_view v) { return std::string(v); }

}  // namespace cg
