// libFuzzer target: the text routines on arbitrary bytes. They must never
// crash and must keep their length promises; AbreviaNome must be idempotent
// on names without control characters (a word that starts with one is
// trimmed on output, which can bring a lower-case letter to its front).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/normaliza.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string a = cg::RemoveAcentos(in);
  if (a.size() != in.size()) std::abort();
  std::string p = cg::FormataNomeProduto(in);
  if (p.size() != in.size()) std::abort();
  std::string n = cg::AbreviaNome(in);
  bool control = false;
  for (unsigned char c : in) control |= c < 32;
  if (!control && cg::AbreviaNome(n) != n) std::abort();
  return 0;
}
