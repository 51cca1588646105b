// Fills the registry's "Time Zones" from real data:
// - the zones and their Windows key names from CLDR's Windows-to-IANA mapping
//   (windowsZones.xml, Debian's unicode-cldr-core): each Windows zone's
//   "golden" IANA zone, territory 001;
// - each zone's present rule from tzdata: the POSIX TZ string at the end of
//   its zoneinfo file ("EST5EDT,M3.2.0,M11.1.0") gives the bias, the daylight
//   bias and both transitions in the day-of-week-in-month form.
//
// IDs are given once: a zone already present keeps its "ID", a new one gets
// the next free number (new zones in the order of their names), so a zone's
// ID on a root never changes. Rules and names are refreshed on every run.
//
// A transition whose POSIX time lies outside 0-24 h ("M3.4.4/26": the 4th
// Thursday at 26:00) is moved to the neighbouring weekday at the same hour,
// as REG_TZI_FORMAT has no other way to say it; this is exact unless the move
// crosses the end of the month.
#include <stdlib.h>
#include <winreg.h>

#include <QuentaPlatform.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/machine/Commands.h"

namespace machine {
namespace {

const char kWindowsZones[] = "/usr/share/unicode/cldr/common/supplemental/windowsZones.xml";
const char kZoneInfo[] = "/usr/share/zoneinfo/";

// REG_TZI_FORMAT, as "TZI" holds it.
struct Tzi {
  LONG Bias;
  LONG StandardBias;
  LONG DaylightBias;
  SYSTEMTIME StandardDate;
  SYSTEMTIME DaylightDate;
};
static_assert(sizeof(Tzi) == 44, "REG_TZI_FORMAT is 44 bytes");

struct Zone {
  std::string key;   // "Eastern Standard Time"
  std::string iana;  // "America/New_York"
  Tzi tzi;
};

// A reader of one POSIX TZ string.
class PosixRule {
 public:
  explicit PosixRule(const std::string& text) : text(text), at(0) {}

  bool parse(Tzi* tzi) {
    std::memset(tzi, 0, sizeof *tzi);
    long standard = 0;
    if (!name() || !offset(&standard)) return false;
    tzi->Bias = static_cast<LONG>(standard / 60);
    if (at == text.size()) return true;  // no daylight saving
    long daylight = standard - 3600;
    if (!name()) return false;
    if (at < text.size() && text[at] != ',' && !offset(&daylight)) return false;
    tzi->DaylightBias = static_cast<LONG>((daylight - standard) / 60);
    return expect(',') && transition(&tzi->DaylightDate) && expect(',') && transition(&tzi->StandardDate) &&
           at == text.size();
  }

 private:
  bool expect(char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
  bool number(long* value) {
    size_t start = at;
    *value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') *value = *value * 10 + (text[at++] - '0');
    return at > start;
  }
  // "EST" or "<-03>".
  bool name() {
    if (expect('<')) {
      size_t close = text.find('>', at);
      if (close == std::string::npos) return false;
      at = close + 1;
      return true;
    }
    size_t start = at;
    while (at < text.size() && ((text[at] >= 'A' && text[at] <= 'Z') || (text[at] >= 'a' && text[at] <= 'z'))) ++at;
    return at - start >= 3;
  }
  // [+-]hh[:mm[:ss]] in seconds.
  bool offset(long* seconds) {
    long sign = 1;
    if (expect('-')) {
      sign = -1;
    } else {
      expect('+');
    }
    long hours = 0, minutes = 0, rest = 0;
    if (!number(&hours)) return false;
    if (expect(':') && (!number(&minutes) || (expect(':') && !number(&rest)))) return false;
    *seconds = sign * (hours * 3600 + minutes * 60 + rest);
    return true;
  }
  // "Mm.w.d[/time]" as a SYSTEMTIME rule.
  bool transition(SYSTEMTIME* rule) {
    long month = 0, week = 0, weekday = 0, seconds = 7200;
    if (!expect('M') || !number(&month) || !expect('.') || !number(&week) || !expect('.') || !number(&weekday)) {
      return false;
    }
    if (expect('/') && !offset(&seconds)) return false;
    if (month < 1 || month > 12 || week < 1 || week > 5 || weekday > 6) return false;
    long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    seconds -= days * 86400;
    rule->wMonth = static_cast<WORD>(month);
    rule->wDay = static_cast<WORD>(week);
    rule->wDayOfWeek = static_cast<WORD>(((weekday + days) % 7 + 7) % 7);
    rule->wHour = static_cast<WORD>(seconds / 3600);
    rule->wMinute = static_cast<WORD>(seconds / 60 % 60);
    rule->wSecond = static_cast<WORD>(seconds % 60);
    return true;
  }

  std::string text;
  size_t at;
};

// The POSIX TZ string that ends a TZif file (version 2 and later).
std::string footerOf(const std::string& iana) {
  std::ifstream file(kZoneInfo + iana, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  std::string data = content.str();
  if (data.size() < 2 || data.back() != '\n') return std::string();
  size_t start = data.rfind('\n', data.size() - 2);
  return start == std::string::npos ? std::string() : data.substr(start + 1, data.size() - start - 2);
}

// Attribute `name` of the element text `element`.
std::string attribute(const std::string& element, const char* name) {
  std::string marker = std::string(" ") + name + "=\"";
  size_t start = element.find(marker);
  if (start == std::string::npos) return std::string();
  start += marker.size();
  size_t end = element.find('"', start);
  return end == std::string::npos ? std::string() : element.substr(start, end - start);
}

std::string decodeEntities(std::string text) {
  for (size_t at = text.find("&amp;"); at != std::string::npos; at = text.find("&amp;", at + 1)) {
    text.replace(at, 5, "&");
  }
  return text;
}

bool readZones(std::vector<Zone>* zones) {
  std::ifstream file(kWindowsZones);
  if (!file) return false;
  std::stringstream content;
  content << file.rdbuf();
  std::string xml = content.str();
  for (size_t at = xml.find("<mapZone "); at != std::string::npos; at = xml.find("<mapZone ", at + 1)) {
    std::string element = xml.substr(at, xml.find('>', at) - at);
    if (attribute(element, "territory") != "001") continue;
    Zone zone;
    zone.key = decodeEntities(attribute(element, "other"));
    zone.iana = attribute(element, "type");
    std::string rule = footerOf(zone.iana);
    if (zone.key.empty() || !PosixRule(rule).parse(&zone.tzi)) {
      std::fprintf(stderr, "quenta-machine: time zone %s (%s): no usable rule '%s'; left out\n", zone.key.c_str(),
                   zone.iana.c_str(), rule.c_str());
      continue;
    }
    zones->push_back(zone);
  }
  std::sort(zones->begin(), zones->end(), [](const Zone& a, const Zone& b) { return a.key < b.key; });
  return true;
}

// "(UTC-05:00) America/New_York".
std::string displayOf(const Zone& zone) {
  long east = -zone.tzi.Bias;
  char text[160];
  std::snprintf(text, sizeof text, "(UTC%c%02ld:%02ld) %s", east < 0 ? '-' : '+', labs(east) / 60, labs(east) % 60,
                zone.iana.c_str());
  return text;
}

// "Eastern Standard Time" -> "Eastern Daylight Time"; other names stay.
std::string daylightNameOf(const std::string& key) {
  std::string name = key;
  size_t at = name.find("Standard Time");
  if (at != std::string::npos) name.replace(at, 8, "Daylight");
  return name;
}

// A .reg string: backslashes and quotes escaped.
std::string regText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string regHex(const void* data, size_t size) {
  std::string out = "hex:";
  const BYTE* bytes = static_cast<const BYTE*>(data);
  for (size_t k = 0; k < size; ++k) {
    char pair[4];
    std::snprintf(pair, sizeof pair, k == 0 ? "%02x" : ",%02x", bytes[k]);
    out += pair;
  }
  return out;
}

// The IDs already given, by key name.
std::map<std::string, DWORD> presentIds(HKEY zones) {
  std::map<std::string, DWORD> ids;
  for (DWORD index = 0;; ++index) {
    WCHAR name[128];
    DWORD chars = 128;
    if (RegEnumKeyExW(zones, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(zones, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD id = 0, type = REG_NONE, size = sizeof id;
    if (RegQueryValueExW(key, u"ID", nullptr, &type, reinterpret_cast<BYTE*>(&id), &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
      ids[quenta::narrow(name)] = id;
    }
    RegCloseKey(key);
  }
  return ids;
}

// The zone's key as .reg text.
std::string zoneText(const Zone& zone, DWORD id) {
  char idText[24];
  std::snprintf(idText, sizeof idText, "dword:%08x", id);
  return "\r\n[HKEY_LOCAL_MACHINE\\Time Zones\\" + zone.key + "]\r\n\"Display\"=" + regText(displayOf(zone)) +
         "\r\n\"Std\"=" + regText(zone.key) + "\r\n\"Dlt\"=" + regText(daylightNameOf(zone.key)) +
         "\r\n\"TZI\"=" + regHex(&zone.tzi, sizeof zone.tzi) + "\r\n\"ID\"=" + idText + "\r\n";
}

}  // namespace

int installTimeZones(const Context& context, const char* defaultZone) {
  setenv("QUENTA_ROOT", context.root.c_str(), 1);
  std::vector<Zone> zones;
  if (!readZones(&zones)) {
    return complain(kExitFailure, std::string("no time zone names: cannot read ") + kWindowsZones +
                                      " (Debian package unicode-cldr-core; scripts/install-deps.sh installs it)");
  }
  // The IDs and the current zone already there stay.
  std::map<std::string, DWORD> ids;
  bool hasCurrent = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Time Zones", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ids = presentIds(key);
    WCHAR current[128];
    DWORD size = sizeof current;
    hasCurrent = RegQueryValueExW(key, u"", nullptr, nullptr, reinterpret_cast<BYTE*>(current), &size) != ERROR_FILE_NOT_FOUND;
    RegCloseKey(key);
  }
  DWORD nextId = 1;
  for (const auto& present : ids) nextId = std::max(nextId, present.second + 1);
  // One import writes it all at once; the time service's key, whose switch
  // the clock pages set, comes with it.
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Services\\TIMESVC]\r\n"
                     "\r\n[HKEY_LOCAL_MACHINE\\Time Zones]\r\n";
  if (!hasCurrent) text += "@=" + regText(defaultZone) + "\r\n";
  for (const Zone& zone : zones) {
    auto found = ids.find(zone.key);
    text += zoneText(zone, found != ids.end() ? found->second : nextId++);
  }
  std::string error;
  if (!quenta::importRegistry(text, &error)) return complain(kExitFailure, "cannot fill \"Time Zones\": " + error);
  std::printf("time zones: %zu from %s\n", zones.size(), kWindowsZones);
  return kExitOk;
}

}  // namespace machine
