#include "platform/cp1252.h"

namespace cg {

std::string toUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 4);
  for (unsigned char b : in) {
    char32_t c = cp1252ToUnicode(b);
    appendUtf8(out, c);
  }
  return out;
}

std::string fromUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    char32_t c = decodeUtf8(in.data(), in.size(), i);
    int b = (c == 0xFFFFFFFF) ? -1 : unicodeToCp1252(c);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

}  // namespace cg
