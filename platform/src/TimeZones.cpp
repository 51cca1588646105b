// The device's time zone: the rule of a TIME_ZONE_INFORMATION applied to an
// instant of the device clock, and the current zone, which the registry holds:
//
//   HKEY_LOCAL_MACHINE\Time Zones          default value: the current zone's key name
//   HKEY_LOCAL_MACHINE\Time Zones\<name>   "Display", "Std", "Dlt" (REG_SZ),
//                                           "TZI" (REG_BINARY, REG_TZI_FORMAT),
//                                           "ID" (REG_DWORD)
//
// The registry caches its parsed file per version, so reading the zone on
// every call costs a few lookups, and a zone made current by any process
// counts at once everywhere.
#include <windows.h>
#include <winreg.h>

#include <cstring>
#include <string>

#include "PlatformInternal.h"

namespace quenta {
namespace {

bool hasDaylightRule(const TIME_ZONE_INFORMATION& zone) {
  return zone.StandardDate.wMonth != 0 && zone.DaylightDate.wMonth != 0;
}

bool isValidRule(const SYSTEMTIME& rule) {
  return rule.wMonth >= 1 && rule.wMonth <= 12 && rule.wDayOfWeek <= 6 && rule.wDay >= 1 && rule.wDay <= 5 &&
         rule.wHour < 24 && rule.wMinute < 60 && rule.wSecond < 60 && rule.wMilliseconds < 1000;
}

// The local instant at which `rule` changes the clocks in `year`: the wDay-th
// wDayOfWeek of the month (5: the last one), at wHour:wMinute.
int64_t transitionLocalMs(int64_t year, const SYSTEMTIME& rule) {
  int64_t first = daysFromCivil(year, rule.wMonth, 1);
  unsigned day = 1 + (rule.wDayOfWeek + 7 - dayOfWeek(first)) % 7 + (rule.wDay - 1u) * 7;
  while (day > daysInMonth(year, rule.wMonth)) day -= 7;
  return (first + day - 1) * kMsPerDay +
         ((static_cast<int64_t>(rule.wHour) * 60 + rule.wMinute) * 60 + rule.wSecond) * 1000 + rule.wMilliseconds;
}

// REG_TZI_FORMAT, the 44 bytes of "TZI".
struct RegTziFormat {
  LONG Bias;
  LONG StandardBias;
  LONG DaylightBias;
  SYSTEMTIME StandardDate;
  SYSTEMTIME DaylightDate;
};
static_assert(sizeof(RegTziFormat) == 44, "REG_TZI_FORMAT is 44 bytes");

const size_t kZoneNameChars = 128;

// A REG_SZ value into `text` (terminated, at most `chars` - 1 characters).
LONG readText(HKEY key, LPCWSTR name, WCHAR* text, DWORD chars) {
  DWORD type = REG_NONE;
  DWORD size = (chars - 1) * sizeof(WCHAR);
  std::memset(text, 0, chars * sizeof(WCHAR));
  LONG error = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  if (error == ERROR_SUCCESS && type != REG_SZ) error = ERROR_INVALID_DATA;
  return error;
}

// Reads the zone whose key is open as `key`.
LONG readZone(HKEY key, TIME_ZONE_INFORMATION* zone) {
  RegTziFormat tzi;
  DWORD type = REG_NONE;
  DWORD size = sizeof tzi;
  LONG error = RegQueryValueExW(key, u"TZI", nullptr, &type, reinterpret_cast<BYTE*>(&tzi), &size);
  if (error == ERROR_MORE_DATA || (error == ERROR_SUCCESS && (type != REG_BINARY || size != sizeof tzi))) {
    return ERROR_INVALID_DATA;
  }
  if (error != ERROR_SUCCESS) return error;
  std::memset(zone, 0, sizeof *zone);
  zone->Bias = tzi.Bias;
  zone->StandardBias = tzi.StandardBias;
  zone->DaylightBias = tzi.DaylightBias;
  zone->StandardDate = tzi.StandardDate;
  zone->DaylightDate = tzi.DaylightDate;
  const DWORD nameChars = sizeof zone->StandardName / sizeof(WCHAR);
  // A zone without its names is still a zone.
  readText(key, u"Std", zone->StandardName, nameChars);
  readText(key, u"Dlt", zone->DaylightName, nameChars);
  return isUsableZone(*zone) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

}  // namespace

bool loadCurrentZone(TIME_ZONE_INFORMATION* zone, std::u16string* keyName) {
  HKEY zones = nullptr;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Time Zones", 0, KEY_READ, &zones);
  if (error == ERROR_SUCCESS) {
    WCHAR name[kZoneNameChars];
    error = readText(zones, u"", name, kZoneNameChars);
    HKEY key = nullptr;
    if (error == ERROR_SUCCESS) error = RegOpenKeyExW(zones, name, 0, KEY_READ, &key);
    if (error == ERROR_SUCCESS) {
      error = readZone(key, zone);
      RegCloseKey(key);
    }
    if (error == ERROR_SUCCESS && keyName != nullptr) *keyName = name;
    RegCloseKey(zones);
  }
  SetLastError(static_cast<DWORD>(error));
  return error == ERROR_SUCCESS;
}

bool isUsableZone(const TIME_ZONE_INFORMATION& zone) {
  if (!hasDaylightRule(zone)) return true;
  return isValidRule(zone.StandardDate) && isValidRule(zone.DaylightDate);
}

DWORD zoneStateAt(const TIME_ZONE_INFORMATION& zone, int64_t utcMs, LONG* bias) {
  if (!hasDaylightRule(zone)) {
    *bias = zone.Bias;
    return TIME_ZONE_ID_UNKNOWN;
  }
  LONG standard = zone.Bias + zone.StandardBias;
  LONG daylight = zone.Bias + zone.DaylightBias;
  SYSTEMTIME local;
  msToSystemTime(utcMs - standard * kMsPerMinute, &local);
  // The change to daylight time is given in standard time, the change back in
  // daylight time; both as UTC instants of the local year.
  int64_t start = transitionLocalMs(local.wYear, zone.DaylightDate) + standard * kMsPerMinute;
  int64_t end = transitionLocalMs(local.wYear, zone.StandardDate) + daylight * kMsPerMinute;
  // In the southern hemisphere daylight time spans the new year.
  bool inDaylight = start < end ? utcMs >= start && utcMs < end : utcMs >= start || utcMs < end;
  *bias = inDaylight ? daylight : standard;
  return inDaylight ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

int64_t localBiasMs(int64_t utcMs) {
  TIME_ZONE_INFORMATION zone;
  LONG bias = 0;
  if (loadCurrentZone(&zone, nullptr)) zoneStateAt(zone, utcMs, &bias);
  return bias * kMsPerMinute;
}

int64_t biasForLocalMs(int64_t localMs) {
  TIME_ZONE_INFORMATION zone;
  LONG bias = 0;
  if (!loadCurrentZone(&zone, nullptr)) return 0;
  zoneStateAt(zone, localMs + static_cast<int64_t>(zone.Bias + zone.StandardBias) * kMsPerMinute, &bias);
  return bias * kMsPerMinute;
}

}  // namespace quenta

extern "C" BOOL WINAPI SetCurrentTimeZoneByID(DWORD dwID) {
  HKEY zones = nullptr;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Time Zones", 0, KEY_ALL_ACCESS, &zones);
  if (error != ERROR_SUCCESS) return FALSE;
  error = ERROR_NOT_FOUND;
  WCHAR name[quenta::kZoneNameChars];
  for (DWORD index = 0;; ++index) {
    DWORD chars = quenta::kZoneNameChars;
    if (RegEnumKeyExW(zones, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(zones, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD id = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof id;
    LONG read = RegQueryValueExW(key, u"ID", nullptr, &type, reinterpret_cast<BYTE*>(&id), &size);
    RegCloseKey(key);
    if (read == ERROR_SUCCESS && type == REG_DWORD && id == dwID) {
      error = RegSetValueExW(zones, u"", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                             static_cast<DWORD>((std::char_traits<char16_t>::length(name) + 1) * sizeof(WCHAR)));
      break;
    }
  }
  RegCloseKey(zones);
  SetLastError(static_cast<DWORD>(error));
  return error == ERROR_SUCCESS ? TRUE : FALSE;
}

extern "C" DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
  TIME_ZONE_INFORMATION zone;
  if (lpTimeZoneInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  if (!quenta::loadCurrentZone(&zone, nullptr)) return TIME_ZONE_ID_INVALID;
  LONG bias = 0;
  DWORD state = quenta::zoneStateAt(zone, quenta::deviceUtcMs(), &bias);
  *lpTimeZoneInformation = zone;
  SetLastError(ERROR_SUCCESS);
  return state;
}
