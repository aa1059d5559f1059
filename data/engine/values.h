// Private to the table engine: field values as the cursor holds them, and
// their conversions between the stored form and the pt-BR text, integer and
// floating-point forms that the table objects read and write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine/engine.h"
#include "platform/regional.h"

namespace cg::engine {

// One stored value: null, integer, real or text (CP1252 bytes; dates are
// kept as ISO text "yyyy-mm-dd", times as "hh:mm:ss", timestamps as
// "yyyy-mm-dd hh:mm:ss", with ".zzz" when there are milliseconds).
struct Value {
  enum Kind : uint8_t { Null, Int, Real, Text };
  Kind kind = Null;
  // A text that SQLite holds as a BLOB: no field type keeps one, so it only
  // comes from a file written by another program. It is bound back as a
  // BLOB (so that a walk compares it where SQLite sorts it, after every
  // text) and every conversion of it raises EConvertError.
  bool blob = false;
  int64_t i = 0;
  double d = 0;
  std::string s;

  void setNull() { kind = Null; }
  void setInt(int64_t v) {
    kind = Int;
    i = v;
  }
  void setReal(double v) {
    kind = Real;
    d = v;
  }
  void setText(std::string_view v) {
    kind = Text;
    blob = false;
    s.assign(v.data(), v.size());
  }
  void setBlob(std::string_view v) {
    setText(v);
    blob = true;
  }
  bool operator==(const Value& o) const;
};

struct Row {
  int64_t rowid = 0;
  std::vector<Value> v;
  // Only the ordering fields and the rowid were read (a key search); the
  // rest is read on first use.
  bool partial = false;
};

// Conversions for one field; `tablePath` names the table in messages.
struct FieldCodec {
  const FieldDef* def;
  const std::string* tablePath;

  std::string asString(const Value& v) const;
  int32_t asInteger(const Value& v) const;
  double asFloat(const Value& v) const;
  void fromString(Value& out, std::string_view text) const;
  void fromInteger(Value& out, int64_t n) const;
  void fromFloat(Value& out, double x) const;

  [[noreturn]] void badValue(std::string_view text) const;
  // A stored value of a type the field never holds (a BLOB; text in a
  // number, logical or integer field; a fraction in an integer field):
  // EConvertError naming the value as stored, the field and the table.
  void checkStored(const Value& v) const;
  // "T"/"True" and "F"/"False", without regard to case.
  static bool equalsTrue(std::string_view t);
  static bool equalsFalse(std::string_view t);
};

// ISO forms of a TDateTime, and back.
std::string isoDate(TDateTime t);
std::string isoTime(TDateTime t);
std::string isoTimestamp(TDateTime t);
bool parseIso(std::string_view iso, TDateTime& out);

}  // namespace cg::engine
