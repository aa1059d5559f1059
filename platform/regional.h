// Regional settings of the workstation: Brazilian Portuguese. Date-times are
// TDateTime values (days since 30/12/1899, the time as the fraction of a day,
// local time); their text is the short date "dd/mm/yyyy", one space and the
// long time "hh:nn:ss", the time left out when it is 00:00:00. Decimal text
// uses a comma; parsing also accepts a dot.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cg {

using TDateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// Composes a TDateTime; raises EConvertError for an impossible date or time.
TDateTime EncodeDateTime(const DateTimeParts& p);
DateTimeParts DecodeDateTime(TDateTime t);
TDateTime EncodeDate(int year, int month, int day);
// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back; no range check.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);
TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);

// "dd/mm/yyyy hh:nn:ss", or "dd/mm/yyyy" when the time is 00:00:00.
std::string DateTimeToStr(TDateTime t);
std::string DateToStr(TDateTime t);  // "dd/mm/yyyy"
std::string TimeToStr(TDateTime t);  // "hh:nn:ss"

// Accepts "d/m/yyyy", "d/m/yyyy h:n" and "d/m/yyyy h:n:s" (two-digit years
// are 19xx from 50 on, 20xx below), surrounding blanks ignored. Anything else
// raises EConvertError with the text in the message.
TDateTime StrToDateTime(std::string_view text);
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);  // "h:n" or "h:n:s"
bool TryStrToDateTime(std::string_view text, TDateTime& out);

// Decimal text with a comma, up to 15 significant digits, no exponent unless
// the value needs one ("1,5", "0,0001", "12", "1E20").
std::string FloatToStr(double v);
// Accepts an optional sign, digits with a comma or a dot as decimal
// separator, and an exponent; surrounding blanks ignored. Raises
// EConvertError naming the text otherwise, including an out-of-range value.
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& out);

std::string IntToStr(int64_t v);
// Accepts an optional sign and decimal digits, surrounding blanks ignored;
// raises EConvertError otherwise (out of range for 32 bits included).
int32_t StrToInt(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& out);
int64_t StrToInt64(std::string_view text);

// The local date-time of a Unix time and back, under the machine's time zone.
TDateTime UnixToDateTime(int64_t unixSeconds, int msec = 0);
int64_t DateTimeToUnix(TDateTime t);

}  // namespace cg
