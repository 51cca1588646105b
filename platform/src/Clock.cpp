// The device clock: the host's UTC clock plus an offset kept under the device
// root, in <root>/clock-offset (milliseconds, decimal text). Setting the
// device's clock writes the offset and never touches the host's clock; every
// process of the root reads the file on every call, so a change shows at once
// everywhere and survives a restart. Without a root the offset is 0.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"

namespace quenta {
namespace {


int64_t hostUtcMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string offsetPath() {
  std::string root = deviceRoot();
  return root.empty() ? root : root + "/clock-offset";
}

}  // namespace

// H. Hinnant's algorithms for the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  unsigned shifted = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  *month = shifted < 10 ? shifted + 3 : shifted - 9;
  *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

int64_t deviceClockOffsetMs() {
  std::string path = offsetPath();
  if (path.empty()) return 0;
  int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return 0;
  char text[32] = {};
  ssize_t length = read(file, text, sizeof text - 1);
  close(file);
  return length > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

int64_t deviceUtcMs() { return hostUtcMs() + deviceClockOffsetMs(); }

bool setDeviceUtcMs(int64_t utcMs) {
  std::string path = offsetPath();
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  // Written whole under another name and renamed, so a reader sees the old
  // offset or the new one, never half of one.
  std::string temporary = path + ".new";
  FILE* file = fopen(temporary.c_str(), "we");
  bool written = file != nullptr && fprintf(file, "%lld\n", static_cast<long long>(utcMs - hostUtcMs())) > 0;
  if (file != nullptr && fclose(file) != 0) written = false;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

unsigned dayOfWeek(int64_t days) {
  // 1970-01-01 was a Thursday (4).
  return static_cast<unsigned>(((days % 7) + 11) % 7);
}

unsigned daysInMonth(int64_t year, unsigned month) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool isValidSystemTime(const SYSTEMTIME& time) {
  // The range of Win32's FILETIME dates.
  return time.wYear >= 1601 && time.wYear <= 30827 && time.wMonth >= 1 && time.wMonth <= 12 && time.wDay >= 1 &&
         time.wDay <= daysInMonth(time.wYear, time.wMonth) && time.wHour < 24 && time.wMinute < 60 &&
         time.wSecond < 60 && time.wMilliseconds < 1000;
}

int64_t systemTimeToMs(const SYSTEMTIME& time) {
  return daysFromCivil(time.wYear, time.wMonth, time.wDay) * kMsPerDay +
         ((static_cast<int64_t>(time.wHour) * 60 + time.wMinute) * 60 + time.wSecond) * 1000 + time.wMilliseconds;
}

void msToSystemTime(int64_t ms, SYSTEMTIME* time) {
  int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
  int64_t rest = ms - days * kMsPerDay;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, &year, &month, &day);
  time->wYear = static_cast<WORD>(year);
  time->wMonth = static_cast<WORD>(month);
  time->wDayOfWeek = static_cast<WORD>(dayOfWeek(days));
  time->wDay = static_cast<WORD>(day);
  time->wHour = static_cast<WORD>(rest / 3600000);
  time->wMinute = static_cast<WORD>(rest / 60000 % 60);
  time->wSecond = static_cast<WORD>(rest / 1000 % 60);
  time->wMilliseconds = static_cast<WORD>(rest % 1000);
}

}  // namespace quenta

extern "C" {

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime != nullptr) quenta::msToSystemTime(quenta::deviceUtcMs(), lpSystemTime);
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  int64_t utc = quenta::deviceUtcMs();
  quenta::msToSystemTime(utc - quenta::localBiasMs(utc), lpSystemTime);
}

BOOL WINAPI SetLocalTime(const SYSTEMTIME* lpSystemTime) {
  if (lpSystemTime == nullptr || !quenta::isValidSystemTime(*lpSystemTime)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t local = quenta::systemTimeToMs(*lpSystemTime);
  return quenta::setDeviceUtcMs(local + quenta::biasForLocalMs(local)) ? TRUE : FALSE;
}

}  // extern "C"
