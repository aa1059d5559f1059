#include "data/engine/values.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace cg::engine {

bool Value::operator==(const Value& o) const {
  if (kind != o.kind) return false;
  switch (kind) {
    case Null:
      return true;
    case Int:
      return i == o.i;
    case Real:
      return d == o.d || (std::isnan(d) && std::isnan(o.d));
    case Text:
      return blob == o.blob && s == o.s;
  }
  return false;
}

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool digits(std::string_view s, size_t at, size_t n, int& out) {
  if (at + n > s.size()) return false;
  int v = 0;
  for (size_t k = at; k < at + n; ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    v = v * 10 + (s[k] - '0');
  }
  out = v;
  return true;
}

void integerRange(FieldType t, int64_t& lo, int64_t& hi) {
  if (t == FieldType::Short) {
    lo = -32768;
    hi = 32767;
  } else {
    lo = std::numeric_limits<int32_t>::min();
    hi = std::numeric_limits<int32_t>::max();
  }
}

// Delphi rounds half to even when a float goes into an integer.
int64_t roundToInt(double x) { return static_cast<int64_t>(std::nearbyint(x)); }

}  // namespace

std::string isoDate(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

std::string isoTime(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  char buf[24];
  if (p.msec)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", p.hour, p.minute, p.second, p.msec);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return buf;
}

std::string isoTimestamp(TDateTime t) { return isoDate(t) + " " + isoTime(t); }

bool parseIso(std::string_view s, TDateTime& out) {
  DateTimeParts p;
  size_t i = 0;
  bool hasDate = s.size() >= 10 && s[4] == '-' && s[7] == '-';
  if (hasDate) {
    if (!digits(s, 0, 4, p.year) || !digits(s, 5, 2, p.month) || !digits(s, 8, 2, p.day)) return false;
    i = 10;
    if (i < s.size()) {
      if (s[i] != ' ' && s[i] != 'T') return false;
      ++i;
    }
  } else {
    p = DateTimeParts{};
  }
  if (i < s.size()) {
    if (!digits(s, i, 2, p.hour) || i + 2 >= s.size() || s[i + 2] != ':' || !digits(s, i + 3, 2, p.minute))
      return false;
    i += 5;
    if (i < s.size() && s[i] == ':') {
      if (!digits(s, i + 1, 2, p.second)) return false;
      i += 3;
      if (i < s.size() && s[i] == '.') {
        if (!digits(s, i + 1, 3, p.msec)) return false;
        i += 4;
      }
    }
    if (i != s.size()) return false;
  }
  try {
    if (hasDate) {
      out = EncodeDateTime(p);
    } else {
      out = EncodeTime(p.hour, p.minute, p.second, p.msec);
    }
  } catch (const EConvertError&) {
    return false;
  }
  return true;
}

void FieldCodec::badValue(std::string_view text) const {
  throw EConvertError("'" + std::string(text) + "' " + std::string("não é um valor válido para o campo "_cp) +
                      def->name + " (" + *tablePath + ")");
}

namespace {
// A stored BLOB as SQL shows it: X'4142...', at most 32 bytes.
std::string blobLiteral(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (size_t k = 0; k < bytes.size() && k < 32; ++k) {
    out += kHex[static_cast<unsigned char>(bytes[k]) >> 4];
    out += kHex[static_cast<unsigned char>(bytes[k]) & 15];
  }
  return out + (bytes.size() > 32 ? "...'" : "'");
}
}  // namespace

void FieldCodec::checkStored(const Value& v) const {
  if (v.kind == Value::Null) return;
  if (v.kind == Value::Text && v.blob)
    throw EConvertError(blobLiteral(v.s) + " " + std::string("não é um valor válido para o campo "_cp) +
                        def->name + " (" + *tablePath + ")");
  switch (def->type) {
    case FieldType::Short:
    case FieldType::LongInt:
    case FieldType::AutoInc:
    case FieldType::Logical:
      if (v.kind == Value::Real) badValue(FloatToStr(v.d));
      if (v.kind == Value::Text) badValue(v.s);
      break;
    case FieldType::Number:
    case FieldType::Money:
      if (v.kind == Value::Text) badValue(v.s);
      break;
    default:
      break;
  }
}

std::string FieldCodec::asString(const Value& v) const {
  checkStored(v);
  switch (v.kind) {
    case Value::Null:
      return {};
    case Value::Int:
      if (def->type == FieldType::Logical) return v.i ? "True" : "False";
      return IntToStr(v.i);
    case Value::Real:
      return FloatToStr(v.d);
    case Value::Text:
      break;
  }
  switch (def->type) {
    case FieldType::Date:
      // "yyyy-mm-dd" -> "dd/mm/yyyy" without a round trip through TDateTime.
      if (v.s.size() >= 10) return v.s.substr(8, 2) + "/" + v.s.substr(5, 2) + "/" + v.s.substr(0, 4);
      return v.s;
    case FieldType::Time:
      return v.s.substr(0, 8);
    case FieldType::Timestamp: {
      TDateTime t;
      if (parseIso(v.s, t)) return DateTimeToStr(t);
      return v.s;
    }
    default:
      return v.s;
  }
}

int32_t FieldCodec::asInteger(const Value& v) const {
  checkStored(v);
  int64_t r = 0;
  switch (v.kind) {
    case Value::Null:
      return 0;
    case Value::Int:
      r = v.i;
      break;
    case Value::Real:
      if (!(std::fabs(v.d) < 2147483648.0)) badValue(FloatToStr(v.d));
      r = roundToInt(v.d);
      break;
    case Value::Text: {
      if (def->type == FieldType::Date || def->type == FieldType::Time || def->type == FieldType::Timestamp) {
        TDateTime t;
        if (!parseIso(v.s, t)) badValue(v.s);
        r = static_cast<int64_t>(std::trunc(t));
        break;
      }
      int32_t n;
      if (!TryStrToInt(v.s, n)) badValue(v.s);
      r = n;
      break;
    }
  }
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    badValue(IntToStr(r));
  return static_cast<int32_t>(r);
}

double FieldCodec::asFloat(const Value& v) const {
  checkStored(v);
  switch (v.kind) {
    case Value::Null:
      return 0;
    case Value::Int:
      return static_cast<double>(v.i);
    case Value::Real:
      return v.d;
    case Value::Text:
      break;
  }
  if (def->type == FieldType::Date || def->type == FieldType::Time || def->type == FieldType::Timestamp) {
    TDateTime t;
    if (!parseIso(v.s, t)) badValue(v.s);
    return t;
  }
  double d;
  if (!TryStrToFloat(v.s, d)) badValue(v.s);
  return d;
}

void FieldCodec::fromString(Value& out, std::string_view text) const {
  switch (def->type) {
    case FieldType::Alpha:
      // A text longer than the field is cut to its width; an empty text is a
      // blank.
      if (text.size() > static_cast<size_t>(def->size)) text = text.substr(0, static_cast<size_t>(def->size));
      if (text.empty())
        out.setNull();
      else
        out.setText(text);
      return;
    case FieldType::Memo:
      if (text.empty())
        out.setNull();
      else
        out.setText(text);
      return;
    default:
      break;
  }
  std::string_view t = trim(text);
  if (t.empty()) {
    out.setNull();
    return;
  }
  switch (def->type) {
    case FieldType::Number:
    case FieldType::Money: {
      double d;
      if (!TryStrToFloat(t, d)) badValue(text);
      out.setReal(d);
      return;
    }
    case FieldType::Short:
    case FieldType::LongInt:
    case FieldType::AutoInc: {
      int64_t n;
      try {
        n = StrToInt64(t);
      } catch (const Exception&) {
        badValue(text);
      }
      int64_t lo, hi;
      integerRange(def->type, lo, hi);
      if (n < lo || n > hi) badValue(text);
      out.setInt(n);
      return;
    }
    case FieldType::Logical: {
      if (equalsTrue(t))
        out.setInt(1);
      else if (equalsFalse(t))
        out.setInt(0);
      else
        badValue(text);
      return;
    }
    case FieldType::Date: {
      TDateTime d;
      if (!TryStrToDateTime(t, d)) badValue(text);
      out.setText(isoDate(d));
      return;
    }
    case FieldType::Time: {
      TDateTime d;
      try {
        d = StrToTime(t);
      } catch (const EConvertError&) {
        if (!TryStrToDateTime(t, d)) badValue(text);
        d = d - std::trunc(d);
      }
      out.setText(isoTime(std::fabs(d)));
      return;
    }
    case FieldType::Timestamp: {
      TDateTime d;
      if (!TryStrToDateTime(t, d)) badValue(text);
      out.setText(isoTimestamp(d));
      return;
    }
    default:
      return;
  }
}

bool FieldCodec::equalsTrue(std::string_view t) {
  return t.size() >= 1 && t.size() <= 4 && (t[0] == 'T' || t[0] == 't') &&
         (t.size() == 1 || (t.size() == 4 && (t[1] | 32) == 'r' && (t[2] | 32) == 'u' && (t[3] | 32) == 'e'));
}

bool FieldCodec::equalsFalse(std::string_view t) {
  return (t.size() == 1 && (t[0] | 32) == 'f') ||
         (t.size() == 5 && (t[0] | 32) == 'f' && (t[1] | 32) == 'a' && (t[2] | 32) == 'l' &&
          (t[3] | 32) == 's' && (t[4] | 32) == 'e');
}

void FieldCodec::fromInteger(Value& out, int64_t n) const {
  switch (def->type) {
    case FieldType::Alpha:
    case FieldType::Memo:
      fromString(out, IntToStr(n));
      return;
    case FieldType::Number:
    case FieldType::Money:
      out.setReal(static_cast<double>(n));
      return;
    case FieldType::Short:
    case FieldType::LongInt:
    case FieldType::AutoInc: {
      int64_t lo, hi;
      integerRange(def->type, lo, hi);
      if (n < lo || n > hi) badValue(IntToStr(n));
      out.setInt(n);
      return;
    }
    case FieldType::Logical:
      out.setInt(n != 0);
      return;
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Timestamp:
      fromFloat(out, static_cast<double>(n));
      return;
  }
}

void FieldCodec::fromFloat(Value& out, double x) const {
  switch (def->type) {
    case FieldType::Alpha:
    case FieldType::Memo:
      fromString(out, FloatToStr(x));
      return;
    case FieldType::Number:
    case FieldType::Money:
      out.setReal(x);
      return;
    case FieldType::Short:
    case FieldType::LongInt:
    case FieldType::AutoInc:
      if (!(std::fabs(x) < 9.2e18)) badValue(FloatToStr(x));
      fromInteger(out, roundToInt(x));
      return;
    case FieldType::Logical:
      out.setInt(x != 0);
      return;
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Timestamp:
      if (!(x > -693594.0 && x < 2958466.0)) badValue(FloatToStr(x));
      if (def->type == FieldType::Date)
        out.setText(isoDate(std::trunc(x)));
      else if (def->type == FieldType::Time)
        out.setText(isoTime(std::fabs(x - std::trunc(x))));
      else
        out.setText(isoTimestamp(x));
      return;
  }
}

}  // namespace cg::engine
