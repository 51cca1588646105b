// quenta-machine clock: the device clock and time zone of a root, as the
// machine's settings page sets them, for an operator or a test.
#include <stdlib.h>
#include <winreg.h>

#include <QuentaPlatform.h>

#include <cstdio>
#include <string>

#include "tools/machine/Commands.h"

namespace machine {
namespace {

const char kClockHelp[] =
    "usage: quenta-machine [--root DIR] clock COMMAND\n"
    "\n"
    "The device clock: the host's UTC clock plus an offset kept in DIR/clock-offset\n"
    "(the host's clock is never changed), shown in the current time zone of the\n"
    "root's registry (\"Time Zones\").\n"
    "\n"
    "commands:\n"
    "  show                         {\"utc\":...,\"local\":...,\"zone\":...,\"daylight\":...}\n"
    "  set \"YYYY-MM-DD HH:MM:SS\"    set the local time\n"
    "  zone NAME                    make the zone NAME current (a key of \"Time Zones\",\n"
    "                               e.g. \"Eastern Standard Time\")\n"
    "  zones                        the zones the registry holds: ID, name, display\n";

const DWORD kNameChars = 128;

std::string isoText(const SYSTEMTIME& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay,
                time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
  return text;
}

std::string errorText(DWORD error) { return "error " + std::to_string(error); }

int show() {
  SYSTEMTIME utc, local;
  TIME_ZONE_INFORMATION zone;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  DWORD state = GetTimeZoneInformation(&zone);
  std::string zoneText =
      state == TIME_ZONE_ID_INVALID ? "null" : jsonString(quenta::narrow(std::u16string(zone.StandardName)));
  std::printf("{\"utc\":\"%sZ\",\"local\":\"%s\",\"zone\":%s,\"daylight\":%s}\n", isoText(utc).c_str(),
              isoText(local).c_str(), zoneText.c_str(), state == TIME_ZONE_ID_DAYLIGHT ? "true" : "false");
  return kExitOk;
}

int set(const std::string& text) {
  unsigned year, month, day, hour, minute, second;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second, &used) !=
          6 ||
      used != static_cast<int>(text.size())) {
    return complain(kExitUsage, "clock set wants \"YYYY-MM-DD HH:MM:SS\", not '" + text + "'");
  }
  SYSTEMTIME time = {static_cast<WORD>(year),   static_cast<WORD>(month),  0, static_cast<WORD>(day),
                     static_cast<WORD>(hour),   static_cast<WORD>(minute), static_cast<WORD>(second), 0};
  if (SetLocalTime(&time)) return kExitOk;
  if (GetLastError() == ERROR_INVALID_PARAMETER) return complain(kExitUsage, "'" + text + "' is not a valid date");
  return complain(kExitFailure, "cannot set the clock: " + errorText(GetLastError()));
}

int zone(const std::string& name) {
  HKEY key = nullptr;
  std::u16string path = u"Time Zones\\" + quenta::widen(name);
  DWORD id = 0;
  DWORD size = sizeof id;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
  if (error == ERROR_SUCCESS) {
    error = RegQueryValueExW(key, u"ID", nullptr, nullptr, reinterpret_cast<BYTE*>(&id), &size);
    RegCloseKey(key);
  }
  if (error != ERROR_SUCCESS) {
    return complain(kExitFailure, "no time zone '" + name + "' with an ID (see clock zones): " + errorText(error));
  }
  if (!SetCurrentTimeZoneByID(id)) return complain(kExitFailure, "cannot select '" + name + "': " + errorText(GetLastError()));
  return kExitOk;
}

int zones() {
  HKEY zones = nullptr;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Time Zones", 0, KEY_READ, &zones);
  if (error != ERROR_SUCCESS) return complain(kExitFailure, "no \"Time Zones\" key: " + errorText(error));
  for (DWORD index = 0;; ++index) {
    WCHAR name[kNameChars];
    DWORD chars = kNameChars;
    if (RegEnumKeyExW(zones, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(zones, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD id = 0;
    DWORD size = sizeof id;
    WCHAR display[kNameChars] = {};
    DWORD displaySize = sizeof display - sizeof(WCHAR);
    RegQueryValueExW(key, u"ID", nullptr, nullptr, reinterpret_cast<BYTE*>(&id), &size);
    RegQueryValueExW(key, u"Display", nullptr, nullptr, reinterpret_cast<BYTE*>(display), &displaySize);
    RegCloseKey(key);
    std::printf("%u\t%s\t%s\n", id, quenta::narrow(name).c_str(), quenta::narrow(display).c_str());
  }
  RegCloseKey(zones);
  return kExitOk;
}

}  // namespace

int runClock(const Context& context, int argc, char** argv) {
  if (argc < 2 || wantsHelp(argc, argv)) {
    std::fputs(kClockHelp, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  if (context.root.empty()) return complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
  // The platform layer finds the clock and the registry under QUENTA_ROOT.
  setenv("QUENTA_ROOT", context.root.c_str(), 1);
  std::string command = argv[1];
  if (command == "show" && argc == 2) return show();
  if (command == "set" && argc == 3) return set(argv[2]);
  if (command == "zone" && argc == 3) return zone(argv[2]);
  if (command == "zones" && argc == 2) return zones();
  return complain(kExitUsage, "unknown or incomplete clock command (see clock --help)");
}

}  // namespace machine
