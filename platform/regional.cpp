#include "platform/regional.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace cg {
namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
  static const int d[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && isLeap(y)) ? 29 : d[m - 1];
}

// Days from 1970-01-01 to the given date (proleptic Gregorian).
int64_t DaysFromCivilImpl(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // days since 1970-01-01
}
void CivilFromDaysImpl(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a TDateTime

[[noreturn]] void badDateTime(std::string_view text) {
  throw EConvertError("'"_cp.data() + std::string(text) + "' não é uma data e hora válida."_cp.data());
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Reads 1..maxDigits decimal digits at s[i]; false when there is none.
bool readNumber(std::string_view s, std::size_t& i, int maxDigits, int& out, int* digits = nullptr) {
  int n = 0, v = 0;
  while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i] - '0');
    ++i;
    ++n;
  }
  if (digits) *digits = n;
  out = v;
  return n > 0 && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
}

bool parseDate(std::string_view s, std::size_t& i, int& y, int& m, int& d) {
  int dy = 0;
  if (!readNumber(s, i, 2, d) || i >= s.size() || s[i] != '/') return false;
  ++i;
  if (!readNumber(s, i, 2, m) || i >= s.size() || s[i] != '/') return false;
  ++i;
  if (!readNumber(s, i, 4, y, &dy)) return false;
  if (dy == 2)
    y += (y >= 50) ? 1900 : 2000;
  else if (dy != 4)
    return false;
  return m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m) && y >= 1;
}

bool parseTime(std::string_view s, std::size_t& i, int& h, int& n, int& sec) {
  sec = 0;
  if (!readNumber(s, i, 2, h) || i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!readNumber(s, i, 2, n)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!readNumber(s, i, 2, sec)) return false;
  }
  return h < 24 && n < 60 && sec < 60;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (month < 1 || month > 12 || year < 1 || year > 9999 || day < 1 || day > daysInMonth(year, month))
    throw EConvertError("Data inválida."_cp.data());
  return static_cast<double>(DaysFromCivilImpl(year, month, day) + kUnixEpochDays);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    throw EConvertError("Hora inválida."_cp.data());
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
}

TDateTime EncodeDateTime(const DateTimeParts& p) {
  TDateTime date = EncodeDate(p.year, p.month, p.day);
  TDateTime time = EncodeTime(p.hour, p.minute, p.second, p.msec);
  return date >= 0 ? date + time : date - time;
}

DateTimeParts DecodeDateTime(TDateTime t) {
  DateTimeParts p;
  // Before 30/12/1899 the value is negative and its fraction is still the
  // time of day: -1,25 is 29/12/1899 06:00. Whole milliseconds, rounded, so
  // that 10:00:00 never reads as 09:59:59.999.
  double days = std::trunc(t);
  int64_t ms = static_cast<int64_t>(std::llround(std::fabs(t - days) * 86400000.0));
  int64_t d = static_cast<int64_t>(days);
  if (ms >= 86400000) {
    ms -= 86400000;
    d += (t < 0) ? -1 : 1;
  }
  CivilFromDaysImpl(d - kUnixEpochDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

std::string DateToStr(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
  return buf;
}

std::string TimeToStr(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return buf;
}

std::string DateTimeToStr(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  if (p.hour == 0 && p.minute == 0 && p.second == 0) return DateToStr(t);
  return DateToStr(t) + " " + TimeToStr(t);
}

bool TryStrToDateTime(std::string_view text, TDateTime& out) {
  std::string_view s = trimBlanks(text);
  std::size_t i = 0;
  int y, m, d, h = 0, n = 0, sec = 0;
  if (!parseDate(s, i, y, m, d)) return false;
  if (i < s.size()) {
    if (s[i] != ' ') return false;
    while (i < s.size() && s[i] == ' ') ++i;
    if (!parseTime(s, i, h, n, sec) || i != s.size()) return false;
  }
  out = EncodeDateTime({y, m, d, h, n, sec, 0});
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime t;
  if (!TryStrToDateTime(text, t)) badDateTime(text);
  return t;
}

TDateTime StrToDate(std::string_view text) {
  std::string_view s = trimBlanks(text);
  std::size_t i = 0;
  int y, m, d;
  if (!parseDate(s, i, y, m, d) || i != s.size())
    throw EConvertError("'"_cp.data() + std::string(text) + "' não é uma data válida."_cp.data());
  return EncodeDate(y, m, d);
}

TDateTime StrToTime(std::string_view text) {
  std::string_view s = trimBlanks(text);
  std::size_t i = 0;
  int h, n, sec;
  if (!parseTime(s, i, h, n, sec) || i != s.size())
    throw EConvertError("'"_cp.data() + std::string(text) + "' não é uma hora válida."_cp.data());
  return EncodeTime(h, n, sec);
}

std::string FloatToStr(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  if (v == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s = buf;
  // %G already drops trailing zeros; write the exponent as Delphi does (1E20).
  std::size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    std::size_t k = (exp[0] == '+' || exp[0] == '-') ? 1 : 0;
    while (k + 1 < exp.size() && exp[k] == '0') ++k;
    s = mant + "E" + (neg ? "-" : "") + exp.substr(k);
  }
  for (char& c : s)
    if (c == '.') c = ',';
  return s;
}

bool TryStrToFloat(std::string_view text, double& out) {
  std::string_view s = trimBlanks(text);
  if (s.empty()) return false;
  std::string buf;
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') buf.push_back(s[i++]);
  bool digits = false, sep = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      buf.push_back(c);
      digits = true;
    } else if ((c == ',' || c == '.') && !sep) {
      buf.push_back('.');
      sep = true;
    } else
      break;
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    buf.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) buf.push_back(s[i++]);
    bool expDigits = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      buf.push_back(s[i]);
      expDigits = true;
    }
    if (!expDigits) return false;
  }
  if (i != s.size()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(buf.c_str(), &end);
  if (errno == ERANGE && std::isinf(v)) return false;
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

double StrToFloat(std::string_view text) {
  double v;
  if (!TryStrToFloat(text, v))
    throw EConvertError("'"_cp.data() + std::string(text) + "' não é um valor numérico válido."_cp.data());
  return v;
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

bool TryStrToInt(std::string_view text, int32_t& out) {
  std::string_view s = trimBlanks(text);
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (neg) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return false;
  out = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v))
    throw EConvertError("'"_cp.data() + std::string(text) + "' não é um valor inteiro válido."_cp.data());
  return v;
}

int64_t StrToInt64(std::string_view text) {
  std::string_view s = trimBlanks(text);
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  bool ok = i < s.size();
  // The magnitude, up to 2^63 (the magnitude of INT64_MIN).
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + 1;
  uint64_t v = 0;
  for (; ok && i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') {
      ok = false;
      break;
    }
    const uint64_t digit = static_cast<uint64_t>(s[i] - '0');
    if (v > (limit - digit) / 10) {
      ok = false;
      break;
    }
    v = v * 10 + digit;
  }
  if (!ok || (!neg && v == limit))
    throw EConvertError("'"_cp.data() + std::string(text) + "' não é um valor inteiro válido."_cp.data());
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

TDateTime UnixToDateTime(int64_t unixSeconds, int msec) {
  time_t tt = static_cast<time_t>(unixSeconds);
  struct tm lt;
  localtime_r(&tt, &lt);
  return EncodeDateTime({lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min,
                         lt.tm_sec > 59 ? 59 : lt.tm_sec, msec});
}

int64_t DateTimeToUnix(TDateTime t) {
  DateTimeParts p = DecodeDateTime(t);
  struct tm lt {};
  lt.tm_year = p.year - 1900;
  lt.tm_mon = p.month - 1;
  lt.tm_mday = p.day;
  lt.tm_hour = p.hour;
  lt.tm_min = p.minute;
  lt.tm_sec = p.second;
  lt.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&lt));
}

int64_t DaysFromCivil(int year, int month, int day) { return DaysFromCivilImpl(year, month, day); }

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  CivilFromDaysImpl(days, year, month, day);
}

}  // namespace cg
