// ClockSetting: setting the machine's clock from a page, as the welder
// information form and the data connections form both do it. Their common
// steps, in this order:
//
//   1. readClockFields: "year" (2000-3000), "month" (1-12), "day" (1-31),
//      "hour" (0-23), "minute" (0-59), read as 16-bit integers in this order;
//      the first one out of range (or missing) fails and nothing is changed.
//   2. applyTimeService: "Services\TIMESVC" "trustlocalclock" = 1, so that the
//      SNTP service trusts the clock set here; then, when "tzlist" names a
//      zone (more than 2 characters), makes that zone current: the default
//      value of "Time Zones" and the zone's "ID" selected by
//      SetCurrentTimeZoneByID. Failures are reported by debug lines only.
//   3. SetLocalTime with the validated fields (the caller's step).
#ifndef QUENTA_FORMS_CLOCKSETTING_H_
#define QUENTA_FORMS_CLOCKSETTING_H_

#include <windows.h>

#include "core/MimePart.h"

namespace ClockSetting {

// The declared lengths of the clock fields.
const DWORD kTimeFieldLength = 15;
const DWORD kZoneFieldLength = 32;

// Fills *time (seconds, milliseconds and day of week 0) from the post; false
// at the first field missing or out of range.
bool readClockFields(MimePartMap& parts, SYSTEMTIME* time);
// The time service switch and the zone named by the "tzlist" part.
void applyTimeService(MimePartMap& parts);

}  // namespace ClockSetting

#endif  // QUENTA_FORMS_CLOCKSETTING_H_
