#include "js_vars/CurrentTime.h"

#include <cstring>
#include <new>

namespace {

// Each field outside its range shows as the value given.
void clampInPlace(SYSTEMTIME* time) {
  if (time->wYear < 2003 || time->wYear > 2102) time->wYear = 2011;
  if (time->wMonth == 0 || time->wMonth > 12) time->wMonth = 1;
  if (time->wDay == 0 || time->wDay > 31) time->wDay = 1;
  if (time->wHour > 23) time->wHour = 0;
  if (time->wMinute > 59) time->wMinute = 0;
  if (time->wSecond > 59) time->wSecond = 0;
  if (time->wMilliseconds > 999) time->wMilliseconds = 0;
}

}  // namespace

CurrentTime::CurrentTime() : JSVariable(SafeCString("CurrentTime")), zoneResult(0), extraBias(0) {
  std::memset(&localTime, 0, sizeof localTime);
  std::memset(&timeZone, 0, sizeof timeZone);
}

SafeCString* CurrentTime::getValue() {
  GetLocalTime(&localTime);
  clampInPlace(&localTime);

  SafeCString zoneName("NONE");
  SafeCString zoneError(JS_ZERO);
  extraBias = 0;
  zoneResult = GetTimeZoneInformation(&timeZone);
  switch (zoneResult) {
    case TIME_ZONE_ID_UNKNOWN:
      zoneError = SafeCString(static_cast<int>(GetLastError()));
      break;
    case TIME_ZONE_ID_STANDARD:
      zoneName = SafeCString(SafeWString(timeZone.StandardName));
      extraBias = timeZone.StandardBias;
      break;
    case TIME_ZONE_ID_DAYLIGHT:
      zoneName = SafeCString(SafeWString(timeZone.DaylightName));
      extraBias = timeZone.DaylightBias;
      break;
    default:
      break;
  }

  struct Member {
    const char* name;
    SafeCString value;
  } members[] = {
      {"Year", SafeCString(static_cast<int>(localTime.wYear))},
      {"Month", SafeCString(static_cast<int>(localTime.wMonth))},
      {"Date", SafeCString(static_cast<int>(localTime.wDay))},
      {"Hours", SafeCString(static_cast<int>(localTime.wHour))},
      {"Minutes", SafeCString(static_cast<int>(localTime.wMinute))},
      {"Seconds", SafeCString(static_cast<int>(localTime.wSecond))},
      {"ms", SafeCString(static_cast<int>(localTime.wMilliseconds))},
      {"ZoneBias", SafeCString(static_cast<int>(timeZone.Bias + extraBias))},
      {"ZoneName", quote(zoneName)},
      {"ZoneError", zoneError},
  };
  SafeCString* text = new (std::nothrow) SafeCString(JS_OPEN_BRACE);
  if (text == nullptr) return nullptr;
  for (const Member& member : members) {
    if (member.name != members[0].name) text->append(JS_COMMA);
    text->append(pair(SafeCString(member.name), member.value));
  }
  text->append(JS_CLOSE_BRACE);
  return text;
}

JSVariable* createCurrentTime(const void*) { return new (std::nothrow) CurrentTime(); }
