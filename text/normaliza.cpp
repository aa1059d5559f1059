#include "text/normaliza.h"

#include <array>
#include <vector>

namespace cg {
namespace {

constexpr std::array<unsigned char, 256> kAccentTable = [] {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (int c : {192, 193, 194, 195}) t[c] = 'A';
  t[199] = 'C';
  for (int c : {201, 202}) t[c] = 'E';
  t[205] = 'I';
  t[209] = 'N';
  for (int c : {211, 212, 213}) t[c] = 'O';
  for (int c : {218, 219, 220}) t[c] = 'U';
  for (int c : {224, 225, 226, 227}) t[c] = 'a';
  t[231] = 'c';
  for (int c : {233, 234}) t[c] = 'e';
  t[237] = 'i';
  t[241] = 'n';
  for (int c : {243, 244, 245}) t[c] = 'o';
  for (int c : {250, 251, 252}) t[c] = 'u';
  return t;
}();

inline char upper(char c) { return Cp1252UpperChar(c); }

bool isParticle(std::string_view lowerWord) {
  return lowerWord == "de" || lowerWord == "da" || lowerWord == "do" || lowerWord == "das" ||
         lowerWord == "dos";
}

}  // namespace

std::string RemoveAcentos(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(kAccentTable[static_cast<unsigned char>(c)]);
  return out;
}

std::string FormataNomeProduto(std::string_view in) {
  std::string s = Cp1252Lower(in);
  if (!s.empty()) s[0] = upper(s[0]);
  if (s.size() >= 8 && AsciiLower(std::string_view(s).substr(0, 8)) == "vitamina" && s.size() >= 10)
    s[9] = upper(s[9]);
  return RemoveAcentos(s);
}

std::string AbreviaNome(std::string_view in) {
  // 1. Trim; 2. collapse runs of byte-32 spaces.
  std::string t = TrimBlanks(in);
  std::string s;
  s.reserve(t.size());
  for (char c : t) {
    if (c == ' ' && !s.empty() && s.back() == ' ') continue;
    s.push_back(c);
  }

  // 3. Split at the single spaces. The store keeps kMaxWords words: past that,
  // the words before the last are dropped so that the last word stays last.
  std::vector<std::string> words;
  words.reserve(8);
  std::size_t i = 0;
  while (true) {
    std::size_t j = s.find(' ', i);
    std::string_view w = std::string_view(s).substr(i, j == std::string::npos ? std::string::npos : j - i);
    if (static_cast<int>(words.size()) < kMaxWords)
      words.emplace_back(w);
    else
      words.back() = std::string(w);
    if (j == std::string::npos) break;
    i = j + 1;
  }
  const std::size_t n = words.size();

  // 4. First pass: particles in lower case, other words capitalised.
  bool secondIsParticle = false;
  for (std::size_t k = 0; k < n; ++k) {
    std::string low = Cp1252Lower(words[k]);
    if (isParticle(low)) {
      words[k] = low;
      if (k == 1) secondIsParticle = true;
    } else if (!words[k].empty()) {
      low[0] = upper(low[0]);
      words[k] = low;
    }
  }

  // 5. Second pass over the middle words.
  if (n >= 3) {
    for (std::size_t k = 1; k + 1 < n; ++k) {
      if (isParticle(AsciiLower(words[k]))) {
        if (k >= 2) words[k].clear();
      } else if (k == 1 || (k == 2 && secondIsParticle)) {
        // stays whole
      } else if (!words[k].empty()) {
        words[k] = std::string(1, words[k][0]) + ".";
      }
    }
  }

  // 6. Join the non-empty words, each trimmed, by single spaces; trim.
  std::string out;
  out.reserve(s.size() + n);
  for (const std::string& w : words) {
    if (w.empty()) continue;
    out += TrimBlanks(w);
    out.push_back(' ');
  }
  return TrimBlanks(out);
}

}  // namespace cg
