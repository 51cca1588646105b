// The forms posted through quenta-httpd on 127.0.0.1, as curl -F and as
// Chromium's FormData send them, over a device root made by
// `quenta-machine init --demo`; the journal and the mailbox are read back with
// `quenta-machine settings journal` and `quenta-machine mailbox show`.
#include <gtest/gtest.h>

#include <signal.h>

#include <QuentaPlatform.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "sqlbridge/SettingsStore.h"
#include "tests/forms/FormSamples.h"
#include "tests/forms/FormTestSupport.h"
#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;
using hosttest::runCommand;

namespace {

typedef std::vector<std::string> Lines;

Lines tail(const Lines& all, size_t from) { return Lines(all.begin() + std::min(from, all.size()), all.end()); }

// A SetPCode journal line from "setter" on; the record is written out by hand.
std::string pcodeJournal(int code, int value, const char* record, int count = 1) {
  return "\"setter\":\"SetPCode\",\"view\":\"SetPCodeView\",\"arguments\":{\"pcode\":" + std::to_string(code) +
         ",\"value\":" + std::to_string(value) + "},\"record\":\"" + record + "\",\"count\":" +
         std::to_string(count) + "}";
}

const char kChromiumBoundary[] = "----WebKitFormBoundaryR4nd0mS1xteen";

// The body as Chromium's FormData lays it out: no Content-Type line for plain
// fields, CRLF everywhere, the closing delimiter with its CRLF.
std::string chromiumBody(const Lines& fields) {
  std::string body;
  for (const std::string& field : fields) {
    size_t equals = field.find('=');
    body += std::string("--") + kChromiumBoundary + "\r\nContent-Disposition: form-data; name=\"" +
            field.substr(0, equals) + "\"\r\n\r\n" + field.substr(equals + 1) + "\r\n";
  }
  return body + "--" + kChromiumBoundary + "--\r\n";
}

class FormsThroughServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(std::string(QUENTA_MACHINE).empty()) << "quenta-machine is not built: the forms need its demo root";
    int exitCode = -1;
    std::string output = runCommand(machine("init --demo"), &exitCode);
    ASSERT_EQ(0, exitCode) << "quenta-machine init --demo failed: " << output;
    port = host.serve(QUENTA_HTTPD, root.path(), WEBQUENTA_MODULE, {"--debug-log", "-"});
    ASSERT_GT(port, 0) << "quenta-httpd did not listen: " << host.errors();
  }
  void TearDown() override {
    if (port > 0) {
      EXPECT_EQ(0, host.stop(SIGTERM, 20000)) << host.errors();
    }
  }

  std::string machine(const std::string& command) const {
    return std::string(QUENTA_MACHINE) + " --root " + root.path() + " " + command;
  }

  // `settings journal` lines from "setter" on.
  Lines journal() const {
    Lines rows;
    std::istringstream in(runCommand(machine("settings journal")));
    for (std::string line; std::getline(in, line);) {
      if (line.find("\"setter\"") != std::string::npos) rows.push_back(line.substr(line.find("\"setter\"")));
    }
    return rows;
  }
  // `mailbox show` slots as "code,arg1,arg2,arg3".
  Lines events() const {
    Lines found;
    std::istringstream in(runCommand(machine("mailbox show")));
    for (std::string line; std::getline(in, line);) {
      if (line.find("\"slot\"") == std::string::npos) continue;
      std::string event;
      for (const std::string key : {"\"code\":", "\"arg1\":", "\"arg2\":", "\"arg3\":"}) {
        size_t at = line.find(key);
        if (at == std::string::npos) break;
        at += key.size();
        event += (event.empty() ? "" : ",") + line.substr(at, line.find_first_of(",}", at) - at);
      }
      found.push_back(event);
    }
    return found;
  }

  std::string card(const std::string& page) const { return root.readFile("MMCMemory/www/wwwpub/" + page); }
  std::string curl(const std::string& path, const Lines& fields) const {
    std::string command = "curl -s --max-time 20";
    for (const std::string& field : fields) command += " -F '" + field + "'";
    return runCommand(command + " http://127.0.0.1:" + std::to_string(port) + path);
  }

  // The body goes out in pieces of `piece` bytes, each its own TCP write.
  HttpResponse postInPieces(const std::string& path, const std::string& body, size_t piece) {
    HttpConnection connection;
    HttpResponse response;
    EXPECT_TRUE(connection.open(port));
    EXPECT_TRUE(connection.send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; " +
                                "boundary=" + kChromiumBoundary + "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n"));
    for (size_t at = 0; at < body.size(); at += piece) {
      EXPECT_TRUE(connection.send(body.substr(at, piece)));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(connection.read(&response));
    return response;
  }

  std::string get(const std::string& path) const { return hosttest::get(port, path); }
  // Every declared field of the welder information form: the submits ("1 0")
  // and the clock ("2031-05-04 03:02") as given, the rest empty.
  std::string postWelderInfo(const std::string& submits, const std::string& clock, const std::string& zone,
                             const std::string& asset = "", const std::string& location = "") const {
    unsigned v[7] = {};
    sscanf(submits.c_str(), "%u %u", &v[0], &v[1]);
    sscanf(clock.c_str(), "%u-%u-%u %u:%u", &v[2], &v[3], &v[4], &v[5], &v[6]);
    Lines fields;
    for (const char* name : {"welderinfosubmit", "servcedatesubmit", "year", "month", "day", "hour", "minute"}) {
      fields.push_back(std::string(name) + "=" + std::to_string(v[fields.size()]));
    }
    return curl("/setup/welder_info.min.html", with(fields, {"tzlist=" + zone, "user_asset=" + asset,
                                                            "user_location=" + location}));
  }
  static Lines with(Lines fields, const Lines& more) {
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
  }

  size_t answersLogged() {
    std::string errors = host.errors();
    size_t count = 0;
    for (size_t at = 0; (at = errors.find("PostResponse: Meatiness", at)) != std::string::npos; ++at) ++count;
    return count;
  }

  DeviceRoot root;
  HostProcess host;
  int port = 0;
};

// The rows and events of each form are checked in process (forms_test); here
// Chromium's body in TCP writes of one byte reaches the form whole, a corrupt
// closing delimiter gets the 400 page, and a body that never ends (the client
// goes away after part of it) still gets an answer.
TEST_F(FormsThroughServer, PostsInPiecesAndBrokenPostsThroughTheServer) {
  std::string good = chromiumBody({"th_delay_time_pcode=118", "th_delay_time=0.5", "th_inactive_time=4.25",
                                   "th_inactive_time_pcode=615"});
  size_t eventsBefore = events().size();
  HttpResponse saved = postInPieces("/arc_management/trigger_hold_edit.min.html", good, 1);
  EXPECT_EQ(200, saved.status);
  EXPECT_EQ(card("arc_management/trigger_hold_edit.min.html"), saved.body);
  EXPECT_EQ((Lines{"8,118,1,0", "8,615,1,0"}), tail(events(), eventsBefore));
  size_t rowsBefore = journal().size();
  good = chromiumBody({"resetsubmit=Reset"});
  EXPECT_EQ(card("400.htm"), postInPieces("/data_management/factory_reset.min.html",
                                          good.substr(0, good.size() - 20) + std::string(20, '#'), 9).body);
  size_t answered = answersLogged();
  {
    HttpConnection connection;
    ASSERT_TRUE(connection.open(port));
    std::string head = std::string("POST /setup/error_edit.min.html HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
                       "Content-Type: multipart/form-data; boundary=" + kChromiumBoundary +
                       "\r\nContent-Length: 50000000\r\n\r\n--" + kChromiumBoundary +
                       "\r\nContent-Disposition: form-data; name=\"are_time\"\r\n\r\n";
    ASSERT_TRUE(connection.send(head));
    for (int k = 0; k < 16; ++k) ASSERT_TRUE(connection.send(std::string(65536, '7')));
  }
  EXPECT_TRUE(hosttest::waitUntil(10000, [&]() { return answersLogged() > answered; }))
      << "the endless post was never answered";

  EXPECT_EQ(rowsBefore, journal().size());
  EXPECT_EQ(0u, get("/welder-config/ArcErrorTime.js").find("var ArcErrorTime = {Time:"));
}

// The welder information form: what each submit stores, the clock and zone it
// sets as /CurrentTime.js, the log and `clock show` see them, and the posts it
// refuses.
TEST_F(FormsThroughServer, WelderInfoStoresSetsTheClockAndRefusesDatesOutOfRange) {
  std::string page = card("setup/welder_info.min.html"), refused = card("400.htm");
  ASSERT_FALSE(page.empty());

  // The clock and the zone, in daylight time; event 38; the time service trusts the clock.
  size_t eventsBefore = events().size();
  EXPECT_EQ(page, postWelderInfo("0 0", "2031-05-04 03:02", "W. Europe Standard Time"));
  EXPECT_NE(std::string::npos, get("/CurrentTime.js").find("{Year:2031,Month:5,Date:4,Hours:3,Minutes:2,"));
  EXPECT_NE(std::string::npos,
            get("/CurrentTime.js").find(",ZoneBias:-120,ZoneName:'W. Europe Daylight Time',ZoneError:0};"));
  EXPECT_EQ(Lines{"38,0,0,0"}, tail(events(), eventsBefore));
  EXPECT_NE(std::string::npos, root.readFile("registry.reg").find("\"trustlocalclock\"=dword:00000001"));
  EXPECT_NE(std::string::npos, runCommand(machine("clock show")).find("\"local\":\"2031-05-04T03:02:"));
  // The log process stamps the event with the device's clock.
  runCommand(machine("mailbox drain"));
  std::string log = get("/logs/HaldenSystemLogNoBlob.js");
  EXPECT_NE(std::string::npos, log.find(",38]")) << log;
  EXPECT_NE(std::string::npos, log.find(",'5/04/31 3:02:")) << log;

  // The service date is the device's local time; the welder information is
  // cut to its field's 8 characters. Neither posts an event.
  Lines unread = events();
  EXPECT_EQ(page, postWelderInfo("0 1", "", ""));
  EXPECT_EQ(page, postWelderInfo("1 1", "", "", "ABCDEFGHIJKL", "Bay 7, line 2"));
  EXPECT_EQ(unread, events());
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
    EXPECT_EQ(c.accepted ? page : refused, postWelderInfo("0 0", c.clock, c.zone)) << c.clock << " " << c.zone;
    EXPECT_NE(std::string::npos, get("/CurrentTime.js").find(c.currentTime)) << c.clock << " " << c.zone << ": "
                                                                             << get("/CurrentTime.js");
  }
}

// The network forms over the demo root's simulated adapters: what a post
// stores shows in the data file's next GET (its first, so no two-second wait).
class NetworkFormsThroughServer : public FormsThroughServer {
 protected:
  std::string registry(const std::string& key, const std::string& value) {
    return runCommand(machine("registry get '" + key + "' " + value));
  }
  static Lines addressFields(const char* ip, const char* mask, const char* gateway, const char* dns) {
    Lines fields;
    const char* prefixes[] = {"ipaddress", "subnetmask", "gateway", "dns"};
    const char* addresses[] = {ip, mask, gateway, dns};
    const char* ordinals[] = {"first", "second", "third", "fourth"};
    for (int a = 0; a < 4; ++a) {
      std::istringstream octets(addresses[a]);
      std::string octet;
      for (int o = 0; o < 4 && std::getline(octets, octet, '.'); ++o) {
        fields.push_back(std::string(prefixes[a]) + ordinals[o] + "1=" + octet);
      }
    }
    return fields;
  }
};

TEST_F(NetworkFormsThroughServer, EthernetStoresPortBAndRefusesPortAsAddress) {
  Lines post = with({"iptype1=0"}, addressFields("010.1.2.3", "255.255.255.0", "10.1.2.300", ".2.3.4"));
  EXPECT_EQ(card("setup/ethernet.min.html"), curl("/setup/ethernet.min.html", post));
  EXPECT_EQ(Lines{"8,671,1,0"}, tail(events(), events().size() - 1));
  EXPECT_EQ(get("/WIN_IP_info.js"),
            "var WIN_IP_info = new Array(0,'192.168.1.50','255.255.255.0','192.168.1.1','192.168.1.1','',"
            "0,'010.1.2.3','255.255.255.0','0.0.0.0','.2.3.4','','00:1A:2B:3C:4D:01','00:1A:2B:3C:4D:02','A','B');\n");
  // Port A's address, as that GET reported it: only "EnableDHCP" and 671 are written.
  size_t rowsBefore = journal().size();
  post = with({"iptype1=0"}, addressFields("192.168.1.50", "255.255.0.0", "10.0.0.1", "10.0.0.1"));
  EXPECT_EQ(card("400.htm"), curl("/setup/ethernet.min.html", post));
  EXPECT_EQ(Lines{pcodeJournal(671, 1, "01009f02")}, tail(journal(), rowsBefore));
  EXPECT_EQ("010.1.2.3\n", registry("Comm\\CPSW3G2\\Parms\\TcpIp", "IPAddress"));
  EXPECT_EQ("255.255.255.0\n", registry("Comm\\CPSW3G2\\Parms\\TcpIp", "SubnetMask"));
}

TEST_F(NetworkFormsThroughServer, WifiSecurityIsStoredEncipheredAndAddressesWinOverIt) {
  Lines security = with({"encryptionSelection=2", "authenticationSelection=1", "user_ssid=Shop floor",
                         "user_pw=" + std::string(64, 'p'), "securitysubmit=1", "iptype1=1", "ipsubmit=0"},
                        addressFields("0.0.0.0", "0.0.0.0", "0.0.0.0", "0.0.0.0"));
  size_t eventsBefore = events().size();
  EXPECT_EQ(card("setup/wifi.min.html"), curl("/setup/wifi.min.html", security));
  EXPECT_EQ((Lines{"34,2,1,0", "34,2,1,0", "35,1,1,0", "35,1,1,0"}), tail(events(), eventsBefore));
  EXPECT_NE(std::string::npos, get("/WiFiEncryption.js").find("encryptionSelected:[0,0,1,0]"));
  // The two secrets: 32 and 64 bytes under the demo key, as upper-case hex in
  // the record; a pass phrase of 64 characters does not fit and is stored empty.
  const DWORD key[4] = {0x5a0c6dde, 0xb2937e41, 0xf751c408, 0xd0e6293a};
  Lines rows = journal();
  ASSERT_GE(rows.size(), 2u);
  const char* expected[] = {"Shop floor", ""};
  for (int k = 0; k < 2; ++k) {
    const std::string& row = rows[rows.size() - 2 + k];
    size_t at = row.find("\"record\":\"") + 10;
    std::string text;
    for (size_t i = at + 4; i + 1 < row.size() && row.compare(i, 2, "00") != 0; i += 2) {
      text += static_cast<char>(std::stoi(row.substr(i, 2), nullptr, 16));
    }
    ASSERT_EQ(text.size(), k == 0 ? 64u : 128u) << row;
    std::vector<DWORD> words(text.size() / 8);
    for (size_t w = 0; w < words.size(); ++w) {
      for (int b = 3; b >= 0; --b) words[w] = words[w] << 8 | std::stoul(text.substr(w * 8 + b * 2, 2), nullptr, 16);
    }
    ASSERT_TRUE(XxteaDecipher(words.data(), static_cast<DWORD>(words.size()), key));
    EXPECT_EQ(expected[k], std::string(reinterpret_cast<const char*>(words.data())));
  }
  size_t rowsBefore = rows.size();
  Lines both = with({"encryptionSelection=0", "authenticationSelection=0", "user_ssid=x", "user_pw=y",
                     "securitysubmit=1", "iptype1=0", "ipsubmit=1"},
                    addressFields("172.16.0.9", "255.255.0.0", "172.16.0.1", "172.16.0.2"));
  EXPECT_EQ(card("setup/wifi.min.html"), curl("/setup/wifi.min.html", both));
  EXPECT_EQ(rowsBefore, journal().size());
  EXPECT_EQ(get("/WIN_IP_wifi_info.js"),
            "var WIN_IP_wifi_info = new Array(0,'172.16.0.9','255.255.0.0','172.16.0.1','172.16.0.2','',"
            "'00:1A:2B:3C:4D:03');\n");
}

TEST_F(NetworkFormsThroughServer, AltConfigWritesSevenSwitchesAndStopsAtTheFirstRefused) {
  const Lines pairs = {"metricvalue=1", "metricenablepcode=101", "aaScalingvalue=0", "aaScalingenablepcode=652",
                       "ceprogramsvalue=1", "ceprogramsenablepcode=651", "slopevalue=0", "slopeenablepcode=672",
                       "synergicvalue=1", "synergicenablepcode=673", "globalwfsampsvalue=1",
                       "globalwfsampspcode=674", "coolernenablevalue=0"};
  size_t eventsBefore = events().size();
  EXPECT_EQ(card("setup/alt_config.min.html"), curl("/setup/alt_config.min.html", with(pairs, {"coolerenablepcode=675"})));
  EXPECT_EQ((Lines{"8,675,1,0", "8,674,1,0", "8,673,1,0", "8,672,1,0", "8,101,1,0", "8,652,1,0", "8,651,1,0"}),
            tail(events(), eventsBefore));
  size_t rowsBefore = journal().size();
  EXPECT_EQ(card("400.htm"), curl("/setup/alt_config.min.html", with(pairs, {"coolerenablepcode=9999"})));
  EXPECT_EQ(rowsBefore + 1, journal().size()) << "only the refused cooler write is journalled";
}

// The data connections form in one post: the module address (649 = 2, 648,
// 647), the port letters, the FTP switches, the three connection parameters
// the page names, 671 and the clock. A refused first write stores nothing; a
// refused clock (the last write) keeps everything before it.
TEST_F(NetworkFormsThroughServer, DataConnectionsStoreInOrderAndKeepWhatPrecedesARefusal) {
  const Lines common = {"year=2031", "hour=3", "minute=2", "tzlist=UTC", "robot_comm_pcode=639",
                        "veyracoreenablepcode=667", "veyraenablepcode=666"};
  const Lines firstPost = {"ipaddressfirst=192", "ipaddresssecond=168", "ipaddressthird=0", "ipaddressfourth=5",
                           "hidveyra=B", "hideip=A", "filemanagervalue=0", "ethernet_ip=2", "veyra_core=0",
                           "veyra_ostrel=0", "month=5", "day=4"};
  const Lines goodRows = {pcodeJournal(649, 2, "02008902"), pcodeJournal(648, 49320, "a8c00000"),
                          pcodeJournal(647, 5, "05000000"), pcodeJournal(639, 2, "02007f02"),
                          pcodeJournal(667, 0, "00009b02"), pcodeJournal(666, 0, "00009a02"),
                          pcodeJournal(671, 1, "01009f02")};
  const Lines goodEvents = {"8,649,1,0", "8,648,1,0", "8,647,1,0", "8,639,1,0", "8,667,1,0", "8,666,1,0", "8,671,1,0"};
  struct Case {
    const char* what;
    Lines fields;     // beside `common`
    const char* sql;  // run on the settings database first
    bool accepted;
    Lines journal;
    Lines events;
    const char* ftp;    // /WIN_FTP_info.js
    const char* ports;  // the end of /WIN_IP_info.js: "Veyra", "EIP"
    const char* msb;    // /robot-config/MsbDIO.js and LsbDIO.js
    const char* lsb;
    // In `clock show`: "utc" reads the posted local time only once the posted zone "UTC" is current.
    const char* clockShows;
  };
  const Case cases[] = {
      {"649 refused", firstPost, "DELETE FROM pcode WHERE code = 649", false, {pcodeJournal(649, 2, "02008902", 0)},
       {}, "(1,1,0,0)", "'A','B');\n", "32512", "1", "\"zone\":\"Eastern Standard Time\""},
      {"all stored", firstPost, nullptr, true, goodRows, goodEvents, "(0,1,0,0)", "'B','A');\n", "49320", "5",
       "\"utc\":\"2031-05-04T03:02:"},
      {"31 February refused by the clock", {"ipaddressfirst=10", "ipaddresssecond=0", "ipaddressthird=1",
        "ipaddressfourth=2", "hidveyra=C", "hideip=B", "filemanagervalue=1", "ethernet_ip=1", "veyra_core=1",
        "veyra_ostrel=1", "month=2", "day=31"}, nullptr, false,
       {pcodeJournal(649, 2, "02008902"), pcodeJournal(648, 2560, "000a0000"), pcodeJournal(647, 258, "02010000"),
        pcodeJournal(639, 1, "01007f02"), pcodeJournal(667, 1, "01009b02"), pcodeJournal(666, 1, "01009a02"),
        pcodeJournal(671, 1, "01009f02")},
       goodEvents, "(1,0,1,1)", "'B','B');\n", "2560", "258", "\"utc\":\"2031-05-04T03:0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.sql != nullptr) {
      quenta::SettingsStore store;
      ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), false));
      ASSERT_LT(0, store.updateRows(c.sql, {}));
    }
    size_t rowsBefore = journal().size();
    size_t eventsBefore = events().size();
    EXPECT_EQ(card(c.accepted ? "setup/data_connections.min.html" : "400.htm"),
              curl("/setup/data_connections.min.html", with(common, c.fields)));
    EXPECT_EQ(c.journal, tail(journal(), rowsBefore));
    EXPECT_EQ(c.events, tail(events(), eventsBefore));
    // The network files keep their text up to two seconds: each must come to show the post.
    for (const std::pair<const char*, std::string>& file :
         {std::make_pair("/WIN_FTP_info.js", std::string("var WIN_FTP_info = new Array") + c.ftp + ";\n"),
          std::make_pair("/WIN_IP_info.js", std::string(c.ports)),
          std::make_pair("/robot-config/MsbDIO.js", std::string("{DIOMSB:") + c.msb + "};\n"),
          std::make_pair("/robot-config/LsbDIO.js", std::string("{DIOLSB:") + c.lsb + "};\n")}) {
      std::string body;
      EXPECT_TRUE(hosttest::waitUntil(3000, [&]() {
        body = get(file.first);
        return body.size() >= file.second.size() && body.compare(body.size() - file.second.size(), std::string::npos,
                                                                 file.second) == 0;
      })) << file.first << " shows " << body;
    }
    std::string clock = runCommand(machine("clock show"));
    EXPECT_NE(std::string::npos, clock.find(c.clockShows)) << clock;
    if (c.sql != nullptr) {
      ASSERT_EQ("", runCommand(machine("settings set-pcode 649 2")));
    }
  }
}

// Every setup form saved through the server on a demo root, then the data
// file its page reloads shows the change (the retract-start switch, which no
// data file shows, by its journal row).
TEST_F(FormsThroughServer, EveryFormSavedShowsInTheDataFileItsPageReloads) {
  struct Case {
    const char* path;
    formtest::Fields changes;  // the demo machine's keys
    const char* dataFile;
    const char* shows;
  };
  const Case cases[] = {
      {"/setup/error_config.min.html", {}, "/welder-config/bankconfig.js", "{errorEnables:12926,"},
      {"/setup/weld_cable.min.html", {}, "/welder-config/WeldCableConfig.js?BankNumber=1",
       "{bankNumber:1,torchID:1,torchResistance:12,torchName:'Robot torch 350A',studOrSense:1,positiveLength:25,"
       "positiveSize:2,negativeLength:20,negativeSize:3,secondaryResistance:7}"},
      {"/setup/spool.min.html", {}, "/logs/SpoolData.js?BankNumber=1", "{spoolWeight:[60,330],"},
      {"/setup/region.min.html", {}, "/RegionAll.js", "regionSelected:[0,1,0,0]}"},
      {"/data_management/data_management.min.html", {}, "/logs/DualShortTermArcHours.js", "{DualArcHours:0}"},
      {"/arc_management/process_enables.min.html", {}, "/more/ProcessesEnabled.js", "{processId:[0,15]}"},
      {"/arc_management/advanced_triggers.min.html", {{"preflowIDA", "11"}, {"preflowIDB", "21"}},
       "/program-setup/ProgramTriggerDataWithPreflowTimeA.js?weld_number=1",
       "time:50,seq_ID:11,min_time:0,max_time:100,smart_enables:1,tbd_enables:1,simple_enables:0,manual_enables:0}"},
      {"/arc_management/program_naming.min.html", {}, "/program-setup/WeldListTagDescAll.js", "{shortNames:['MyWeld',"},
      {"/arc_management/enables_locks.min.html", {}, "/welder-config/bankconfig.js", "encoderLock:1,"},
      {"/arc_management/process_selection.html", {{"comboid", "3"}}, "/program-setup/BankComboAll.js",
       "{comboTag:['Tack','ER70S-6',"},
      {"/arc_management/weld_file_setup.min.html", {}, "/program-setup/WeldCombinationNumbers.js",
       "{weld_combo_number:[5,2,3,4,5,6],"},
      {"/arc_management/time_sequence_adjust.min.html", {{"seq_id", "12"}, {"selected_sequence", "12"}},
       "/program-setup/StartSequenceState.js?weldNumber=1", "{time:250,"},
      {"/arc_management/retract_sequence_adjust.min.html", {{"seq_id", "19"}},
       "/program-setup/RetractSequenceState.js?weldNumber=1", "{time:125,min_time:0,max_time:100,WFS:300,"},
      {"/arc_management/full_sequence_adjust.min.html", {{"seq_id", "14"}},
       "/program-setup/WeldSequenceState.js?weldNumber=1",
       "{time:229,minTime:10,maxTime:999,volts:200,minVolts:100,maxVolts:300,WFS:320,minWFS:50,maxWFS:700,"
       "arcAdjust:50,minArcAdjust:1,maxArcAdjust:99,inductance:808,"},
      {"/setup/robot_options.html", {}, "/robot-config/RobotMfgAll.js", "robotSelected:[0,0,1,0,0]}"},
      {"/setup/robot_options.html", {{"ethernetsave", "1"}}, "/AIMBoardSettings.js",
       "{robotIPAddr:3232235777.000000,robotMask:4294967040.000000,robotGateway:3232235521.000000,robotMAC0:0,"},
      {"/setup/dry_run.html", {}, "/robot-config/DryRunStatus.js", "{DryRun:1}"},
      {"/arc_management/runin_sequence_adjust.min.html", {}, "/program-setup/BankComboAll.js", "comboRunInWFS:[120,"},
      {"/arc_management/custom_process_selection.html", {}, "/program-setup/BankComboAll.js", "{comboTag:['Cust',"},
      {"/setup/atuocal.html", {}, "/robot-config/AutoCalVariables.js",
       "maxWFS:600,minVCalPT:160,maxVCalPT:320,minWFSCalPT:150,maxWFSCalPT:600,"},
      {"/arc_management/burnback_sequence_adjust.html", {}, "/program-setup/BankComboAll.js",
       "comboBurnbackTime:[5,25,"},
      {"/arc_management/retract_start.html", {{"seq_id", "19"}}, nullptr,
       "\"setter\":\"SetRetractStartEnable\",\"view\":\"SetRetractStartEnableView\",\"arguments\":{\"seq_id\":19},"
       "\"record\":\"13000100\",\"count\":1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Lines fields;
    for (const auto& field : formtest::sampleWith(c.path, c.changes)) fields.push_back(field.first + "=" + field.second);
    EXPECT_EQ(card(formtest::pageOf(c.path)), curl(c.path, fields));
    if (c.dataFile == nullptr) {
      EXPECT_EQ(c.shows, journal().back());
      continue;
    }
    std::string shown = get(c.dataFile);
    EXPECT_NE(std::string::npos, shown.find(c.shows)) << shown;
  }
}

}  // namespace
