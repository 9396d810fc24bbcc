#include "vantor/codec/epoch.hpp"

#include <cctype>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "util/errors.hpp"

namespace meterops::vantor::codec {

using namespace std::chrono;

namespace {
// Years 0001 to 9999 around the epoch; beyond, the microsecond clock would
// overflow and the ISO text would have no four-digit year.
constexpr std::int64_t kMaxEpochOffset = 250'000'000'000LL;
}  // namespace

DateTime vexo_epoch_seconds_to_datetime(std::int64_t s) {
  if (s > kMaxEpochOffset || s < -kMaxEpochOffset) {
    throw util::ValueError("meter epoch seconds out of range: " + std::to_string(s));
  }
  return DateTime(kMeterEpoch) + seconds(s);
}

std::int64_t vexo_datetime_to_epoch_seconds(DateTime t) {
  return floor<seconds>(t - DateTime(kMeterEpoch)).count();
}

std::string format_iso_utc(DateTime t) {
  auto day = floor<days>(t);
  year_month_day ymd{day};
  hh_mm_ss<microseconds> hms{t - day};
  std::string out = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", static_cast<int>(ymd.year()),
                                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                                hms.hours().count(), hms.minutes().count(), hms.seconds().count());
  if (hms.subseconds().count() != 0) out += fmt::format(".{:06}", hms.subseconds().count());
  return out + "+00:00";
}

namespace {

struct Cursor {
  std::string_view s;
  std::size_t i = 0;
  std::string_view whole;

  [[noreturn]] void fail() const {
    throw util::ValueError("invalid ISO 8601 date-time: '" + std::string(whole) + "'");
  }
  int digits(int n) {
    int v = 0;
    for (int k = 0; k < n; ++k) {
      if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) fail();
      v = v * 10 + (s[i++] - '0');
    }
    return v;
  }
  void expect(char c) {
    if (i >= s.size() || s[i] != c) fail();
    ++i;
  }
  bool peek(char c) const { return i < s.size() && s[i] == c; }
};

}  // namespace

DateTime parse_iso(std::string_view text) {
  Cursor c{text, 0, text};
  int y = c.digits(4);
  c.expect('-');
  int mo = c.digits(2);
  c.expect('-');
  int d = c.digits(2);
  if (!(c.peek('T') || c.peek(' '))) c.fail();
  ++c.i;
  int h = c.digits(2);
  c.expect(':');
  int mi = c.digits(2);
  c.expect(':');
  int se = c.digits(2);
  long long micros = 0;
  if (c.peek('.')) {
    ++c.i;
    int n = 0;
    while (c.i < text.size() && std::isdigit(static_cast<unsigned char>(text[c.i]))) {
      if (n < 6) micros = micros * 10 + (text[c.i] - '0');
      ++n;
      ++c.i;
    }
    if (n == 0) c.fail();
    for (int k = n; k < 6; ++k) micros *= 10;
  }
  int offset_minutes = 0;
  if (c.peek('Z')) {
    ++c.i;
  } else if (c.peek('+') || c.peek('-')) {
    int sign = text[c.i] == '-' ? -1 : 1;
    ++c.i;
    int oh = c.digits(2);
    int om = 0;
    if (c.peek(':')) {
      ++c.i;
      om = c.digits(2);
    } else if (c.i < text.size()) {
      om = c.digits(2);
    }
    if (oh > 23 || om > 59) c.fail();
    offset_minutes = sign * (oh * 60 + om);
  }
  if (c.i != text.size()) c.fail();
  year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || se > 59) c.fail();
  return DateTime(sys_days(ymd)) + hours(h) + minutes(mi) + seconds(se) + microseconds(micros) -
         minutes(offset_minutes);
}

}  // namespace meterops::vantor::codec
