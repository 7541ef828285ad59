// DOS date and time, local time and file times.
#include <time.h>

#include "host_state.h"

namespace host {
namespace {
int timeZoneBias = 0;  // minutes; UTC = local + bias
const long long kHundredsPerSecond = 10000000LL;
const long long kSecondsFrom1601To1970 = 11644473600LL;
}  // namespace

void SetTimeZoneBias(int minutes) { timeZoneBias = minutes; }
}  // namespace host

// Dates from 1980 to 2107 in two-second steps (to 2099 on the Windows 95
// family); fields out of range do not convert, as on Windows.
BOOL WINAPI DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME fileTime) {
  int day = date & 31, month = (date >> 5) & 15, year = 1980 + (date >> 9);
  int seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
  static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int lastYear = host::NtFamily() ? 2107 : 2099;
  if (month < 1 || month > 12 || day < 1 || hours > 23 || minutes > 59 || seconds > 59 ||
      year > lastYear) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int monthDays = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > monthDays) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hours;
  t.tm_min = minutes;
  t.tm_sec = seconds;
  long long unixSeconds = timegm(&t);
  unsigned long long value =
      (unsigned long long)(unixSeconds + host::kSecondsFrom1601To1970) * host::kHundredsPerSecond;
  fileTime->dwLowDateTime = DWORD(value);
  fileTime->dwHighDateTime = DWORD(value >> 32);
  return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc) {
  unsigned long long value = ((unsigned long long)local->dwHighDateTime << 32) | local->dwLowDateTime;
  value += (long long)host::timeZoneBias * 60 * host::kHundredsPerSecond;
  utc->dwLowDateTime = DWORD(value);
  utc->dwHighDateTime = DWORD(value >> 32);
  return TRUE;
}
