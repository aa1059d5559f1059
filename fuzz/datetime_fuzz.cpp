// libFuzzer target: the pt-BR date-time and number parsers. Any text either
// converts, and then writes back to a text that converts to the same value,
// or raises EConvertError; nothing else may happen.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "platform/regional.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  try {
    cg::TDateTime t = cg::StrToDateTime(in);
    std::string text = cg::DateTimeToStr(t);
    if (cg::DateTimeToStr(cg::StrToDateTime(text)) != text) std::abort();
  } catch (const cg::EConvertError&) {
  }
  try {
    double v = cg::StrToFloat(in);
    if (!std::isfinite(v)) std::abort();
    double back = cg::StrToFloat(cg::FloatToStr(v));
    if (std::fabs(back - v) > std::fabs(v) * 1e-14) std::abort();
  } catch (const cg::EConvertError&) {
  }
  try {
    int32_t i = cg::StrToInt(in);
    if (cg::StrToInt(cg::IntToStr(i)) != i) std::abort();
  } catch (const cg::EConvertError&) {
  }
  return 0;
}
