#include "net/retry_after.h"

#include <algorithm>
#include <array>
#include <ctime>

namespace brisal {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads exactly `count` digits from the front of `text`.
bool TakeNumber(std::string_view& text, std::size_t count, int& number) {
  if (text.size() < count) return false;
  number = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsDigit(text[i])) return false;
    number = number * 10 + (text[i] - '0');
  }
  text.remove_prefix(count);
  return true;
}

bool TakeLiteral(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

template <std::size_t N>
bool TakeName(std::string_view& text, const std::array<std::string_view, N>& names, int& index) {
  for (std::size_t i = 0; i < N; ++i) {
    if (TakeLiteral(text, names[i])) {
      index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

// "HH:MM:SS"; a leap second is taken as the second before it.
bool TakeTime(std::string_view& text, int& seconds_of_day) {
  int h = 0, m = 0, s = 0;
  if (!TakeNumber(text, 2, h) || !TakeLiteral(text, ":") || !TakeNumber(text, 2, m) ||
      !TakeLiteral(text, ":") || !TakeNumber(text, 2, s) || h > 23 || m > 59 || s > 60) {
    return false;
  }
  seconds_of_day = h * 3600 + m * 60 + (s == 60 ? 59 : s);
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool ValidDate(std::int64_t year, int month, int day) {
  static constexpr int kLength[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kLength[month - 1] + (month == 2 && leap ? 1 : 0);
}

// The date of `text` in seconds since 1970, in any of the three forms HTTP allows.
bool ParseHttpDate(std::string_view text, std::int64_t now_unix, std::int64_t& unix_time) {
  int weekday = 0, day = 0, month = 0, year = 0, time = 0;
  std::string_view rest = text;
  if (TakeName(rest, kDays, weekday) && TakeLiteral(rest, ", ")) {
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT".
    if (!TakeNumber(rest, 2, day) || !TakeLiteral(rest, " ") || !TakeName(rest, kMonths, month) ||
        !TakeLiteral(rest, " ") || !TakeNumber(rest, 4, year) || !TakeLiteral(rest, " ") ||
        !TakeTime(rest, time) || rest != " GMT") {
      return false;
    }
  } else if (rest = text; TakeName(rest, kLongDays, weekday) && TakeLiteral(rest, ", ")) {
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT". A two-digit year more than 50 years
    // ahead names the most recent past year with those digits.
    if (!TakeNumber(rest, 2, day) || !TakeLiteral(rest, "-") || !TakeName(rest, kMonths, month) ||
        !TakeLiteral(rest, "-") || !TakeNumber(rest, 2, year) || !TakeLiteral(rest, " ") ||
        !TakeTime(rest, time) || rest != " GMT") {
      return false;
    }
    const std::int64_t this_year = 1970 + now_unix / 31556952;  // close enough for a century
    std::int64_t full = this_year - this_year % 100 + year;
    if (full > this_year + 50) full -= 100;
    year = static_cast<int>(full);
  } else if (rest = text; TakeName(rest, kDays, weekday) && TakeLiteral(rest, " ")) {
    // asctime: "Sun Nov  6 08:49:37 1994".
    if (!TakeName(rest, kMonths, month) || !TakeLiteral(rest, " ")) return false;
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() >= 2 && IsDigit(rest[1])) {
      if (!TakeNumber(rest, 2, day)) return false;
    } else if (!TakeNumber(rest, 1, day)) {
      return false;
    }
    if (!TakeLiteral(rest, " ") || !TakeTime(rest, time) || !TakeLiteral(rest, " ") ||
        !TakeNumber(rest, 4, year) || !rest.empty()) {
      return false;
    }
  } else {
    return false;
  }
  if (!ValidDate(year, month + 1, day)) return false;
  unix_time = DaysFromCivil(year, month + 1, day) * 86400 + time;
  return true;
}

}  // namespace

std::chrono::seconds ParseRetryAfter(std::string_view value, std::int64_t now_unix) {
  value = Trim(value);
  if (value.empty()) return std::chrono::seconds(0);
  std::int64_t wait = 0;
  if (IsDigit(value.front())) {
    for (char c : value) {
      if (!IsDigit(c)) return std::chrono::seconds(0);
      // Saturates well above the cap, so no length of digits can overflow.
      if (wait <= kMaxRetryAfter.count()) wait = wait * 10 + (c - '0');
    }
  } else {
    std::int64_t date = 0;
    if (!ParseHttpDate(value, now_unix, date)) return std::chrono::seconds(0);
    wait = date - now_unix;
  }
  if (wait <= 0) return std::chrono::seconds(0);
  return std::min(std::chrono::seconds(wait), kMaxRetryAfter);
}

std::chrono::seconds ParseRetryAfterNow(std::string_view value) {
  return ParseRetryAfter(value, static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace brisal
