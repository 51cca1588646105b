// CurrentTime ("/CurrentTime.js"): the device's local date and time and its
// time zone, rebuilt on every request:
//   {Year:2016,Month:11,Date:30,Hours:17,Minutes:56,Seconds:35,ms:0,
//    ZoneBias:300,ZoneName:'Eastern Standard Time',ZoneError:0}
// Fields out of range are shown as fixed values (a year outside 2003-2102 as
// 2011, ...) without touching the clock. ZoneName is the zone's standard or
// daylight name, whichever is in force, and ZoneBias its whole bias then, in
// minutes (UTC = local + ZoneBias); a zone without daylight saving shows
// 'NONE' with ZoneError 0, a failed query 'NONE' with the bias last read.
// Not safe for concurrent use; its JSFile serialises the requests.
#ifndef QUENTA_JS_VARS_CURRENTTIME_H_
#define QUENTA_JS_VARS_CURRENTTIME_H_

#include <windows.h>

#include "core/JSVariable.h"

class CurrentTime : public JSVariable {
 public:
  CurrentTime();
  SafeCString* getValue() override;

 private:
  SYSTEMTIME localTime;
  TIME_ZONE_INFORMATION timeZone;
  DWORD zoneResult;  // of the last GetTimeZoneInformation
  LONG extraBias;    // the standard or the daylight bias
};

JSVariable* createCurrentTime(const void* row);

#endif  // QUENTA_JS_VARS_CURRENTTIME_H_
