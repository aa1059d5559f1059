// The text routines on CP1252 bytes: the table of known cases, then
// properties over generated names.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/cp1252.h"
#include "text/normaliza.h"

using namespace cg;

namespace {

struct Case {
  std::string_view input, expected;
};

TEST(AbreviaNome, KnownCases) {
  const Case cases[] = {
      {"MARIA DA SILVA SANTOS"_cp, "Maria da Silva Santos"_cp},
      {"MARIA DA SILVA SANTOS PEREIRA"_cp, "Maria da Silva S. Pereira"_cp},
      {"JOSE CARLOS DE OLIVEIRA SOUZA"_cp, "Jose Carlos O. Souza"_cp},
      {"MARIA DAS DORES DE JESUS"_cp, "Maria das Dores Jesus"_cp},
      {"LUIZ  FERNANDO DA COSTA E SILVA"_cp, "Luiz Fernando C. E. Silva"_cp},
      {"  joão   pedro  "_cp, "João Pedro"_cp},
      {"DA SILVA"_cp, "da Silva"_cp},
      {"MARIA DE"_cp, "Maria de"_cp},
      {"JOSÉ"_cp, "José"_cp},
      {"MARIA DA CONCEIÇÃO"_cp, "Maria da Conceição"_cp},
      {"ANDRÉ MAGALHÃES PATRÍCIA ÉRICA"_cp, "André Magalhães P. Érica"_cp},
      {"ÂNGELA ŠIMON"_cp, "Ângela Šimon"_cp},
      {"Jose Carlos O. Souza"_cp, "Jose Carlos O. Souza"_cp},
      {"JOSE C D SILVA"_cp, "Jose C D. Silva"_cp},
      {""_cp, ""_cp},
      {"   "_cp, ""_cp},
      {" \t \r\n"_cp, ""_cp},
      {"ANA"_cp, "Ana"_cp},
      {"DE"_cp, "de"_cp},
      {"ANA E"_cp, "Ana E"_cp},
      {"PEDRO DOS SANTOS DA COSTA LIMA"_cp, "Pedro dos Santos C. Lima"_cp},
  };
  for (const Case& c : cases) EXPECT_EQ(AbreviaNome(c.input), c.expected) << toUtf8(c.input);
}

TEST(AbreviaNome, OneCharacterMiddleWordGrowsByOne) {
  std::string in = "JOSE C D SILVA";
  EXPECT_EQ(AbreviaNome(in).size(), in.size() + 1);
}

TEST(AbreviaNome, TabStaysInsideAWordAndControlOnlyWordLeavesTwoSpaces) {
  EXPECT_EQ(AbreviaNome("ANA\tMARIA SOUZA"), "Ana\tmaria Souza");
  // A middle word of control characters alone is not empty but trims to
  // nothing, so two spaces stand where it was.
  EXPECT_EQ(AbreviaNome("ANA \x01 SOUZA"), "Ana  Souza");
}

TEST(AbreviaNome, MoreThanFortyWordsKeepsTheLastWordLastAndStopsAtTheStore) {
  std::string in;
  for (int i = 0; i < 100; ++i) in += "NOME" + std::to_string(i) + " ";
  in += "FINAL";
  std::string out = AbreviaNome(in);
  // First word, second whole, 37 initials, then the last word.
  std::string expected = "Nome0 Nome1";
  for (int i = 2; i < 39; ++i) expected += " N.";
  expected += " Final";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(AbreviaNome(out), out);
}

TEST(AbreviaNome, ManyWordsOfManySizesNeverOverrun) {
  for (int n : {39, 40, 41, 42, 1000, 20000}) {
    std::string in(static_cast<std::size_t>(n) * 2, ' ');
    for (int i = 0; i < n; ++i) in[static_cast<std::size_t>(i) * 2] = 'A';
    std::string out = AbreviaNome(in);
    EXPECT_LE(out.size(), 1u + 2u + 38u * 3u + 2u) << n;
    EXPECT_EQ(out.substr(0, 3), "A A") << n;
  }
}

TEST(FormataNomeProduto, KnownCases) {
  const Case cases[] = {
      {"VITAMINA C"_cp, "Vitamina C"_cp},
      {"vitamina b6"_cp, "Vitamina B6"_cp},
      {"VITAMINAS B"_cp, "Vitaminas b"_cp},
      {"VITAMINA"_cp, "Vitamina"_cp},
      {"VITAMINA-C"_cp, "Vitamina-C"_cp},
      {"AÇÚCAR"_cp, "Acucar"_cp},
      {"CÁPSULAS DE GELATINA NÃO IÔNICO"_cp, "Capsulas de gelatina nao ionico"_cp},
      {"ÉTER ÀS ÆGIS ÿ"_cp, "Eter as ægis ÿ"_cp},
      {"ÓLEO DE AMÊNDOAS"_cp, "Oleo de amendoas"_cp},
      {"x"_cp, "X"_cp},
      {""_cp, ""_cp},
      {"ÁCIDO ASCÓRBICO"_cp, "Acido ascorbico"_cp},
      {"vitamina"_cp, "Vitamina"_cp},
      {"VITAMINA "_cp, "Vitamina "_cp},
      {"ViTaMiNa e"_cp, "Vitamina E"_cp},
  };
  for (const Case& c : cases) EXPECT_EQ(FormataNomeProduto(c.input), c.expected) << toUtf8(c.input);
}

TEST(RemoveAcentos, KnownCases) {
  const Case cases[] = {
      {"Ação"_cp, "Acao"_cp},
      {"ÀÉÎÕÜ"_cp, "AEÎOU"_cp},
      {"ÄÈË"_cp, "ÄÈË"_cp},
      {""_cp, ""_cp},
  };
  for (const Case& c : cases) EXPECT_EQ(RemoveAcentos(c.input), c.expected) << toUtf8(c.input);
}

TEST(RemoveAcentos, ChangesExactlyThirtyCodePoints) {
  const std::string plainOf = "AAAACEEINOOOUUUaaaaceeinooouuu";
  const int changed[] = {192, 193, 194, 195, 199, 201, 202, 205, 209, 211, 212, 213, 218, 219, 220,
                         224, 225, 226, 227, 231, 233, 234, 237, 241, 243, 244, 245, 250, 251, 252};
  int count = 0;
  for (int b = 0; b < 256; ++b) {
    std::string in(1, static_cast<char>(b));
    std::string out = RemoveAcentos(in);
    ASSERT_EQ(out.size(), 1u);
    auto it = std::find(std::begin(changed), std::end(changed), b);
    if (it != std::end(changed)) {
      EXPECT_EQ(out[0], plainOf[static_cast<std::size_t>(it - std::begin(changed))]) << b;
      ++count;
    } else {
      EXPECT_EQ(out, in) << b;
    }
  }
  EXPECT_EQ(count, 30);
}

// Generated names: words of random letters (accented ones included),
// particles, blanks and initials.
std::string randomName(std::mt19937& rng) {
  static const char* particles[] = {"DE", "da", "Do", "DAS", "dos", "E"};
  std::uniform_int_distribution<int> words(0, 12), len(1, 9), kind(0, 9), byte(0, 255), sp(1, 3);
  std::string s(static_cast<std::size_t>(sp(rng)) - 1, ' ');
  int n = words(rng);
  for (int w = 0; w < n; ++w) {
    int k = kind(rng);
    if (k == 0) {
      s += particles[len(rng) % 6];
    } else if (k == 1) {
      s += static_cast<char>('A' + len(rng));
      s += '.';
    } else {
      int l = len(rng);
      for (int i = 0; i < l; ++i) {
        int b = byte(rng);
        if (b <= 32) b = 'a' + b % 26;
        s += static_cast<char>(b);
      }
    }
    s += std::string(static_cast<std::size_t>(sp(rng)), ' ');
  }
  return s;
}

TEST(TextProperties, AbreviaNomeOfItsOwnOutputIsUnchanged) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 20000; ++i) {
    std::string once = AbreviaNome(randomName(rng));
    EXPECT_EQ(AbreviaNome(once), once) << toUtf8(once);
  }
}

TEST(TextProperties, CasingChangesOnlyTheCaseOfLetters) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string in = randomName(rng);
    std::string out = FormataNomeProduto(in);
    ASSERT_EQ(out.size(), in.size());
    // Every byte is the input's, in another case at most, then without its
    // accent; a second pass changes nothing.
    std::string stripped = RemoveAcentos(Cp1252Lower(in));
    EXPECT_EQ(RemoveAcentos(Cp1252Lower(out)), stripped) << toUtf8(in);
    EXPECT_EQ(FormataNomeProduto(out), out) << toUtf8(in);
    // No capital is left past the first character (and the vitamin's).
    for (std::size_t k = 1; k < out.size(); ++k) {
      if (k != 9) {
        EXPECT_EQ(out[k], Cp1252LowerChar(out[k])) << toUtf8(in) << " " << k;
      }
    }
    // AbreviaNome keeps every letter of the words it keeps, in some case.
    std::string ab = AbreviaNome(in);
    const std::string lowered = Cp1252Lower(in);
    for (char c : ab) {
      if (static_cast<unsigned char>(c) >= 128) {
        EXPECT_NE(lowered.find(Cp1252LowerChar(c)), std::string::npos) << toUtf8(in);
      }
    }
  }
}

TEST(TextProperties, Cp1252CaseIsOnePairPerLetter) {
  int pairs = 0;
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char up = Cp1252UpperChar(c), low = Cp1252LowerChar(c);
    if (up != c) {
      ++pairs;
      EXPECT_EQ(Cp1252LowerChar(up), c) << b;
      EXPECT_EQ(low, c) << b;
    }
    if (low != c) {
      EXPECT_EQ(Cp1252UpperChar(low), c) << b;
    }
  }
  // a..z, à..þ but ÷, š, œ, ž, ÿ.
  EXPECT_EQ(pairs, 26 + 30 + 4);
  for (unsigned char b : {0xD7, 0xF7, 0xDF, 0xAA, 0xBA, 0xB5})
    EXPECT_EQ(Cp1252UpperChar(static_cast<char>(b)), static_cast<char>(b)) << int{b};
  EXPECT_EQ(Cp1252Upper("ação œ ÿ ž š ß ×÷"_cp), "AÇÃO Œ Ÿ Ž Š ß ×÷"_cp);
}

}  // namespace
