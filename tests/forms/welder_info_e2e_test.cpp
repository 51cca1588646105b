// The welder information form through quenta-httpd on 127.0.0.1 over a demo
// root: what each submit stores, the clock and zone it sets as
// /CurrentTime.js, the log and `clock show` see them, and the posts it refuses.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/host/HostTestSupport.h"

namespace {

using hosttest::runCommand;

class WelderInfoForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::string::npos, runCommand(machine("init --demo")).find("settings:"));
    port = host.serve(QUENTA_HTTPD, root.path(), WEBQUENTA_MODULE);
    ASSERT_GT(port, 0) << host.errors();
  }
  void TearDown() override {
    if (port > 0) {
      EXPECT_EQ(0, host.stop(SIGTERM, 20000));
    }
  }
  std::string machine(const std::string& command) const {
    return std::string(QUENTA_MACHINE) + " --root " + root.path() + " " + command;
  }
  std::string get(const std::string& path) const { return hosttest::get(port, path); }
  // Every declared field: the clock fields and submits as given, the rest empty.
  std::string post(const std::string& submits, const std::string& clock, const std::string& zone,
                   const std::string& asset = "", const std::string& location = "") const {
    unsigned info = 0, service = 0, year = 0, month = 0, day = 0, hour = 0, minute = 0;
    sscanf(submits.c_str(), "%u %u", &info, &service);
    sscanf(clock.c_str(), "%u-%u-%u %u:%u", &year, &month, &day, &hour, &minute);
    char fields[256];
    snprintf(fields, sizeof fields,
             "-F welderinfosubmit=%u -F servcedatesubmit=%u -F year=%u -F month=%u -F day=%u -F hour=%u -F minute=%u",
             info, service, year, month, day, hour, minute);
    return runCommand("curl -s --max-time 20 " + std::string(fields) + " -F 'tzlist=" + zone + "' -F 'user_asset=" + asset +
               "' -F 'user_location=" + location + "' http://127.0.0.1:" + std::to_string(port) +
               "/setup/welder_info.min.html");
  }
  std::string events() const { return runCommand(machine("mailbox show")); }

  hosttest::DeviceRoot root;
  hosttest::HostProcess host;
  int port = 0;
};

TEST_F(WelderInfoForm, StoresSetsTheClockAndRefusesDatesOutOfRange) {
  std::string page = root.readFile("MMCMemory/www/wwwpub/setup/welder_info.min.html");
  std::string refused = root.readFile("MMCMemory/www/wwwpub/400.htm");
  ASSERT_FALSE(page.empty());

  // The clock and the zone, in daylight time; event 38; the time service trusts the clock.
  EXPECT_EQ(page, post("0 0", "2031-05-04 03:02", "W. Europe Standard Time"));
  EXPECT_NE(std::string::npos, get("/CurrentTime.js").find("{Year:2031,Month:5,Date:4,Hours:3,Minutes:2,"));
  EXPECT_NE(std::string::npos,
            get("/CurrentTime.js").find(",ZoneBias:-120,ZoneName:'W. Europe Daylight Time',ZoneError:0};"));
  EXPECT_NE(std::string::npos, events().find("\"code\":38,\"arg1\":0,\"arg2\":0,\"arg3\":0"));
  EXPECT_NE(std::string::npos, root.readFile("registry.reg").find("\"trustlocalclock\"=dword:00000001"));
  EXPECT_NE(std::string::npos, runCommand(machine("clock show")).find("\"local\":\"2031-05-04T03:02:"));
  // The log process stamps the event with the device's clock.
  runCommand(machine("mailbox drain"));
  std::string log = get("/logs/HaldenSystemLogNoBlob.js");
  EXPECT_NE(std::string::npos, log.find(",38]")) << log;
  EXPECT_NE(std::string::npos, log.find(",'5/04/31 3:02:")) << log;

  // The service date is the device's local time; the welder information is
  // cut to its field's 8 characters. Neither posts an event.
  std::string eventsBefore = events();
  EXPECT_EQ(page, post("0 1", "", ""));
  EXPECT_EQ(page, post("1 1", "", "", "ABCDEFGHIJKL", "Bay 7, line 2"));
  EXPECT_EQ(eventsBefore, events());
  std::string information = get("/more/WelderInformation.js");
  EXPECT_NE(std::string::npos, information.find("assetNumber:'ABCDEFGH',physicalLocation:'Bay 7, line 2'")) << information;
  EXPECT_NE(std::string::npos, information.find("serviceDate:'5/04/2031 3:02:")) << information;
  std::string journal = runCommand(machine("settings journal"));
  EXPECT_NE(std::string::npos, journal.find("\"setter\":\"SetServiceDate\",\"view\":\"SetServiceDateView\""));
  EXPECT_NE(std::string::npos,
            journal.find("\"setter\":\"SetWelderInfo\",\"view\":\"SetWelderInfoView\",\"arguments\":{},\"record\":"
                         "\"4142434445464748000042617920372c206c696e65203200"));

  // Years outside 2000-3000 change nothing; a zone of two characters keeps the zone.
  struct Case {
    const char* clock;
    const char* zone;
    bool accepted;
    const char* currentTime;
  } cases[] = {
      {"1999-01-10 12:00", "UTC", false, "{Year:2031,Month:5,"},
      {"3001-01-10 12:00", "UTC", false, "{Year:2031,Month:5,"},
      {"2031-13-10 12:00", "UTC", false, "{Year:2031,Month:5,"},
      {"2000-01-10 12:00", "ab", true, "{Year:2011,Month:1,Date:10,Hours:12,Minutes:0,"},
      {"2024-01-10 12:00", "ab", true, "ZoneBias:-60,ZoneName:'W. Europe Standard Time'"},
      {"3000-01-10 12:00", "Tokyo Standard Time", true, "{Year:2011,Month:1,Date:10,"},
      {"2024-07-10 12:00", "Tokyo Standard Time", true, "ZoneBias:-540,ZoneName:'NONE',ZoneError:0}"},
      // The zone is named but cannot be read: 'NONE' and the bias last read.
      {"2024-07-10 12:00", "No Such Zone", true, "ZoneBias:-540,ZoneName:'NONE',ZoneError:0}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.accepted ? page : refused, post("0 0", c.clock, c.zone)) << c.clock << " " << c.zone;
    EXPECT_NE(std::string::npos, get("/CurrentTime.js").find(c.currentTime)) << c.clock << " " << c.zone << ": "
                                                                             << get("/CurrentTime.js");
  }
}

}  // namespace
