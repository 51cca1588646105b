#include "forms/ClockSetting.h"

#include <winreg.h>

#include <cstring>

#include "forms/PostResponse.h"

namespace {

struct ClockField {
  const char* name;
  WORD lowest;
  WORD highest;
  WORD SYSTEMTIME::*member;
};

// In the order they are read and checked.
const ClockField kClockFields[] = {
    {"year", 2000, 3000, &SYSTEMTIME::wYear},   {"month", 1, 12, &SYSTEMTIME::wMonth},
    {"day", 1, 31, &SYSTEMTIME::wDay},          {"hour", 0, 23, &SYSTEMTIME::wHour},
    {"minute", 0, 59, &SYSTEMTIME::wMinute},
};

const DWORD kTrustLocalClock = 1;
// A zone name is more than 2 characters; shorter texts leave the zone alone.
const DWORD kShortestZoneName = 3;

// Makes the zone named `zone` current. "Time Zones" is open as `zones`.
void selectZone(HKEY zones, const SafeCString& zone) {
  SafeWString name(zone);
  if (RegSetValueExW(zones, TEXT(""), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     2 * (name.getLength() + 1)) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("Time Zones set zone error: GetLastError returned 0x%x\r\n"), GetLastError());
    return;
  }
  HKEY zoneKey = nullptr;
  if (RegOpenKeyExW(zones, name.c_str(), 0, KEY_READ, &zoneKey) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("Local Time Zone not available error: GetLastError returned 0x%x\r\n"), GetLastError());
    return;
  }
  DWORD id = 0;
  DWORD size = sizeof id;
  if (RegQueryValueExW(zoneKey, TEXT("ID"), nullptr, nullptr, reinterpret_cast<BYTE*>(&id), &size) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("Local Time Zone ID not available error: GetLastError returned 0x%x\r\n"), GetLastError());
  } else {
    // Its result is not checked: the clock is set whatever happens here.
    SetCurrentTimeZoneByID(id);
  }
  RegCloseKey(zoneKey);
}

}  // namespace

namespace ClockSetting {

bool readClockFields(MimePartMap& parts, SYSTEMTIME* time) {
  std::memset(time, 0, sizeof *time);
  for (const ClockField& field : kClockFields) {
    WORD value = 0;
    if (!PostResponse::fieldWord(parts, field.name, kAsInteger, &value)) return false;
    if (value < field.lowest || value > field.highest) return false;
    time->*field.member = value;
  }
  return true;
}

void applyTimeService(MimePartMap& parts) {
  HKEY service = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Services\\TIMESVC"), 0, KEY_ALL_ACCESS, &service) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("SNTP not available error: GetLastError returned 0x%x\r\n"), GetLastError());
  } else {
    if (RegSetValueExW(service, TEXT("trustlocalclock"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTrustLocalClock),
                       sizeof kTrustLocalClock) != ERROR_SUCCESS) {
      NKDbgPrintfW(TEXT("SNTP set trustlocalclock error: GetLastError returned 0x%x\r\n"), GetLastError());
    }
    RegCloseKey(service);
  }

  HKEY zones = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Time Zones"), 0, KEY_ALL_ACCESS, &zones) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("Time Zones not available error: GetLastError returned 0x%x\r\n"), GetLastError());
    return;
  }
  const MimePart* zone = parts.lookup(SafeCString("tzlist"));
  if (zone != nullptr && zone->value.getLength() >= kShortestZoneName) selectZone(zones, zone->value);
  RegCloseKey(zones);
}

}  // namespace ClockSetting
