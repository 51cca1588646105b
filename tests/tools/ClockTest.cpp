// The device clock and its time zones over a root laid out by
// `quenta-machine init` (zones from CLDR and tzdata): local times and results
// against tzdata's own answer, and the clock shared by the root's processes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <winreg.h>

#include <QuentaPlatform.h>

#include <string>

#include "tests/host/HostTestSupport.h"
#include "tests/tools/ToolRunner.h"

namespace {

class ClockRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    ToolResult init = runTool({"--root", root.path(), "init"});
    ASSERT_EQ(0, init.exitCode) << init.err;
    setenv("QUENTA_ROOT", root.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("QUENTA_ROOT"); }

  // Makes `zone` current the way `clock zone` does.
  void selectZone(const std::string& zone) {
    ToolResult result = runTool({"--root", root.path(), "clock", "zone", zone});
    ASSERT_EQ(0, result.exitCode) << result.err;
  }
  TestRoot root{false};
};

TEST_F(ClockRoot, LocalTimeAndZoneStateAgreeWithTzdata) {
  // Instants 30 s before and after changes of the clocks, and in mid-season,
  // in both hemispheres and a zone without daylight saving.
  struct Case {
    const char* zone;
    const char* iana;
    const char* utc;
    DWORD state;
  } cases[] = {
      {"Eastern Standard Time", "America/New_York", "2024-01-15 12:00:30", TIME_ZONE_ID_STANDARD},
      {"Eastern Standard Time", "America/New_York", "2024-07-15 12:00:30", TIME_ZONE_ID_DAYLIGHT},
      {"Eastern Standard Time", "America/New_York", "2024-03-10 06:59:30", TIME_ZONE_ID_STANDARD},
      {"Eastern Standard Time", "America/New_York", "2024-03-10 07:00:30", TIME_ZONE_ID_DAYLIGHT},
      {"Eastern Standard Time", "America/New_York", "2024-11-03 05:59:30", TIME_ZONE_ID_DAYLIGHT},
      {"Eastern Standard Time", "America/New_York", "2024-11-03 06:00:30", TIME_ZONE_ID_STANDARD},
      // The last Sunday of March and of October.
      {"W. Europe Standard Time", "Europe/Berlin", "2024-03-31 00:59:30", TIME_ZONE_ID_STANDARD},
      {"W. Europe Standard Time", "Europe/Berlin", "2024-03-31 01:00:30", TIME_ZONE_ID_DAYLIGHT},
      {"W. Europe Standard Time", "Europe/Berlin", "2025-10-26 00:59:30", TIME_ZONE_ID_DAYLIGHT},
      {"W. Europe Standard Time", "Europe/Berlin", "2025-10-26 01:00:30", TIME_ZONE_ID_STANDARD},
      // Daylight time across the new year.
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-01-15 12:00:30", TIME_ZONE_ID_DAYLIGHT},
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-07-15 12:00:30", TIME_ZONE_ID_STANDARD},
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-04-06 15:59:30", TIME_ZONE_ID_DAYLIGHT},
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-04-06 16:00:30", TIME_ZONE_ID_STANDARD},
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-10-05 15:59:30", TIME_ZONE_ID_STANDARD},
      {"AUS Eastern Standard Time", "Australia/Sydney", "2024-10-05 16:00:30", TIME_ZONE_ID_DAYLIGHT},
      {"Tokyo Standard Time", "Asia/Tokyo", "2024-07-15 12:00:30", TIME_ZONE_ID_UNKNOWN},
      {"India Standard Time", "Asia/Calcutta", "2024-12-31 20:00:30", TIME_ZONE_ID_UNKNOWN},
  };
  for (const Case& c : cases) {
    // The device's UTC clock is set as local time in the zone without an offset.
    selectZone("UTC");
    SYSTEMTIME utc = {};
    ASSERT_EQ(6, sscanf(c.utc, "%hu-%hu-%hu %hu:%hu:%hu", &utc.wYear, &utc.wMonth, &utc.wDay, &utc.wHour,
                        &utc.wMinute, &utc.wSecond));
    ASSERT_TRUE(SetLocalTime(&utc));
    selectZone(c.zone);

    SYSTEMTIME local;
    TIME_ZONE_INFORMATION zone;
    GetLocalTime(&local);
    DWORD state = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias + (state == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                             : state == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                              : 0);
    char ours[64];
    snprintf(ours, sizeof ours, "%04u-%02u-%02u %02u:%02u %c%02ld%02ld\n", local.wYear, local.wMonth, local.wDay,
             local.wHour, local.wMinute, bias > 0 ? '-' : '+', labs(bias) / 60, labs(bias) % 60);
    std::string tzdata =
        hosttest::runCommand(std::string("TZ=") + c.iana + " date -d '" + c.utc + "Z' '+%Y-%m-%d %H:%M %z'");
    EXPECT_EQ(tzdata, ours) << c.zone << " at " << c.utc;
    EXPECT_EQ(c.state, state) << c.zone << " at " << c.utc;
    EXPECT_EQ(std::u16string(quenta::widen(c.zone)), std::u16string(zone.StandardName));
  }
}

TEST_F(ClockRoot, TheClockSetInOneProcessIsTheClockOfEveryOtherAndNotTheHosts) {
  selectZone("Eastern Standard Time");
  ToolResult set = runTool({"--root", root.path(), "clock", "set", "2031-07-04 09:15:00"});
  ASSERT_EQ(0, set.exitCode) << set.err;
  SYSTEMTIME local, utc;
  GetLocalTime(&local);
  GetSystemTime(&utc);
  EXPECT_EQ(std::vector<int>({2031, 7, 4, 5, 9, 15}),  // a Friday
            std::vector<int>({local.wYear, local.wMonth, local.wDay, local.wDayOfWeek, local.wHour, local.wMinute}));
  EXPECT_EQ(13, utc.wHour);
  time_t host = time(nullptr);
  EXPECT_LT(host, 1900000000) << "the host's clock was moved";

  // Set here, seen by a new process.
  SYSTEMTIME winter = {2030, 1, 0, 20, 18, 30, 0, 0};
  ASSERT_TRUE(SetLocalTime(&winter));
  ToolResult show = runTool({"--root", root.path(), "clock", "show"});
  EXPECT_NE(std::string::npos, show.out.find("\"utc\":\"2030-01-20T23:30:0")) << show.out;
  EXPECT_NE(std::string::npos, show.out.find("\"zone\":\"Eastern Standard Time\",\"daylight\":false")) << show.out;

  // Dates that do not exist change nothing.
  const SYSTEMTIME invalid[] = {
      {2024, 2, 0, 30, 12, 0, 0, 0}, {2023, 2, 0, 29, 12, 0, 0, 0}, {2024, 13, 0, 1, 12, 0, 0, 0},
      {2024, 4, 0, 31, 12, 0, 0, 0}, {2024, 1, 0, 1, 24, 0, 0, 0},  {2024, 1, 0, 0, 12, 0, 0, 0},
  };
  for (const SYSTEMTIME& date : invalid) {
    SetLastError(0);
    EXPECT_FALSE(SetLocalTime(&date)) << date.wYear << "-" << date.wMonth << "-" << date.wDay << " " << date.wHour;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  }
  GetLocalTime(&local);
  EXPECT_EQ(2030, local.wYear);
}

}  // namespace
