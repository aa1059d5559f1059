// Text normalisation routines of the suite's house style, on CP1252 bytes.
// Pure functions: no state, no failure. Case changes cover every letter of
// CP1252 that has a case, accented ones included ("CONCEIÇÃO" becomes
// "Conceição", never "ConceiÇÃo"); "blank" is any byte of value 32 or less.
#pragma once

#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace cg {

// Replaces the 30 accented letters of Portuguese and Spanish by their plain
// letters; every other byte is copied. The result has the input's length.
std::string RemoveAcentos(std::string_view s);

// Product names: lower case, a capital at the start (and at the 10th
// character after a leading "vitamina"), then RemoveAcentos. Same length.
std::string FormataNomeProduto(std::string_view s);

// Person names: trimmed, single spaces, each word capitalised, the particles
// de/da/do/das/dos in lower case, middle words from the third on shortened to
// an initial ("O.") and middle particles from the third on dropped.
//
// The word store holds kMaxWords words. A name of more words keeps its first
// kMaxWords - 1 words as they are and the last one as its last word; the
// words in between are dropped (they would all have been shortened to
// initials, which no field has room for). Nothing is written past the store.
std::string AbreviaNome(std::string_view s);

inline constexpr int kMaxWords = 40;

}  // namespace cg
