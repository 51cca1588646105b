// The four parameter-code forms posted through quenta-httpd on 127.0.0.1, as
// curl -F and as Chromium's FormData send them, over a device root made by
// `quenta-machine init --demo`; the journal and the mailbox are read back with
// `quenta-machine settings journal` and `quenta-machine mailbox show`.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <QuentaPlatform.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "tests/forms/FormSamples.h"
#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;

namespace {

typedef std::vector<std::string> Lines;

// The command's output (with its errors); exitCode -1 when it did not exit.
std::string run(const std::string& command, int* exitCode = nullptr) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  int status = pclose(pipe);
  if (exitCode != nullptr) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

Lines tail(const Lines& all, size_t from) { return Lines(all.begin() + std::min(from, all.size()), all.end()); }

// A journal line from "setter" on; the record is written out by hand.
std::string journalRow(const char* setter, const std::string& arguments, const char* record) {
  return std::string("\"setter\":\"") + setter + "\",\"view\":\"" + setter + "View\",\"arguments\":{" + arguments +
         "},\"record\":\"" + record + "\",\"count\":1}";
}
std::string pcodeJournal(int code, int value, const char* record) {
  return journalRow("SetPCode", "\"pcode\":" + std::to_string(code) + ",\"value\":" + std::to_string(value), record);
}
std::string gunLoadJournal(int side, const char* record) {
  return journalRow("SetGunLoad", "\"side\":" + std::to_string(side), record);
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
    std::string output = run(machine("init --demo"), &exitCode);
    ASSERT_EQ(0, exitCode) << "quenta-machine init --demo failed: " << output;
    ASSERT_TRUE(host.start({QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:0", "--module",
                            WEBQUENTA_MODULE}));
    port = host.waitForListening(20000);
    ASSERT_GT(port, 0) << "quenta-httpd did not listen: " << host.errors();
  }
  void TearDown() override {
    if (port > 0) {
      EXPECT_EQ(0, host.stop(SIGTERM, 20000)) << host.errors();
    }
    // The server's shared memory and mutexes of this root go with it.
    setenv("QUENTA_ROOT", root.path().c_str(), 1);
    quenta::removeNamedObjects(nullptr);
    unsetenv("QUENTA_ROOT");
  }

  std::string machine(const std::string& command) const {
    return std::string(QUENTA_MACHINE) + " --root " + root.path() + " " + command;
  }

  // `settings journal` lines from "setter" on.
  Lines journal() const {
    Lines rows;
    std::istringstream in(run(machine("settings journal")));
    for (std::string line; std::getline(in, line);) {
      if (line.find("\"setter\"") != std::string::npos) rows.push_back(line.substr(line.find("\"setter\"")));
    }
    return rows;
  }
  // `mailbox show` slots as "code,arg1,arg2,arg3".
  Lines events() const {
    Lines found;
    std::istringstream in(run(machine("mailbox show")));
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
    return run(command + " http://127.0.0.1:" + std::to_string(port) + path);
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

// Exact journal rows and mailbox events, from curl -F and from Chromium's
// FormData in small TCP writes.
TEST_F(FormsThroughServer, PostsFromCurlAndChromiumLandTheirRowsAndEvents) {
  struct Case {
    const char* page;
    Lines fields;  // name=value
    size_t piece;  // 0: sent with curl -F
    Lines journal;
    Lines events;
  };
  const Case cases[] = {
      {"setup/error_edit.min.html",
       {"ase_time=2", "arcstarterrorpcode=190", "mwe_time=0.35", "missedwelderrorpcode=650", "arcerrortimepcode=390",
        "arcerrorvoltspcode=391", "arcerrorampspcode=392", "are_volts=22.7", "are_amps=400", "are_time=1.5"},
       0,
       {pcodeJournal(390, 1500, "dc058601"), pcodeJournal(391, 227, "e3008701"), pcodeJournal(392, 400, "90018801"),
        pcodeJournal(190, 2000, "d007be00"), pcodeJournal(650, 3, "03008a02")},
       {"8,390,1,0", "8,391,1,0", "8,392,1,0", "8,190,1,0", "8,650,1,0"}},
      {"data_management/factory_reset.min.html", {"resetsubmit=anything at all"}, 0,
       {pcodeJournal(149, 1, "01009500")}, {"8,149,1,0"}},
      {"setup/jog_purge.min.html",
       {"minjogspeedipm=60", "maxjogspeedipm=650", "retractminjogspeedipm=30", "retractmaxjogspeedipm=310",
        "retractminpcode=626", "retractmaxpcode=627", "minjogspeedpcode=624", "maxjogspeedpcode=625", "torchlength=15",
        "torchload=120", "time=2.75", "timepcode=628", "torchlengthright=12", "torchloadright=95"},
       37,
       {gunLoadJournal(1, "01000f007800"), gunLoadJournal(2, "02000c005f00"), pcodeJournal(624, 60, "3c007002"),
        pcodeJournal(625, 650, "8a027102"), pcodeJournal(626, 30, "1e007202"), pcodeJournal(627, 310, "36017302"),
        pcodeJournal(628, 2750, "be0a7402")},
       {"4,1,0,0", "4,2,0,0", "8,624,1,0", "8,625,1,0", "8,626,1,0", "8,627,1,0", "8,628,1,0"}},
      {"arc_management/trigger_hold_edit.min.html",
       {"th_delay_time_pcode=118", "th_delay_time=0.5", "th_inactive_time=4.25", "th_inactive_time_pcode=615"}, 1,
       {pcodeJournal(118, 500, "f4017600"), pcodeJournal(615, 4250, "9a106702")}, {"8,118,1,0", "8,615,1,0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    size_t rowsBefore = journal().size();
    size_t eventsBefore = events().size();
    std::string path = std::string("/") + c.page;
    if (c.piece == 0) {
      EXPECT_EQ(card(c.page), curl(path, c.fields));
    } else {
      HttpResponse response = postInPieces(path, chromiumBody(c.fields), c.piece);
      EXPECT_EQ(200, response.status);
      EXPECT_EQ(card(c.page), response.body);
    }
    EXPECT_EQ(c.journal, tail(journal(), rowsBefore));
    EXPECT_EQ(c.events, tail(events(), eventsBefore));
  }
}

TEST_F(FormsThroughServer, BrokenPostsAnswer400AndTheServerKeepsServing) {
  // A corrupt closing delimiter gets the 400 page; a body that never ends
  // (the client goes away after part of it) still gets an answer.
  size_t rowsBefore = journal().size();
  std::string good = chromiumBody({"resetsubmit=Reset"});
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
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port));
  HttpResponse response;
  ASSERT_TRUE(connection.exchange(hosttest::request("GET", "/welder-config/ArcErrorTime.js"), &response));
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(0u, response.body.find("var ArcErrorTime = {Time:"));
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
    std::string page = std::string(c.path).substr(1);
    if (page == "setup/atuocal.html") page = "setup/autocal.html";
    if (page == "arc_management/burnback_sequence_adjust.html") page = "arc_management/burnback_sequence_adjust.min.html";
    EXPECT_EQ(card(page), curl(c.path, fields));
    if (c.dataFile == nullptr) {
      EXPECT_EQ(c.shows, journal().back());
      continue;
    }
    HttpConnection connection;
    HttpResponse response;
    ASSERT_TRUE(connection.open(port));
    ASSERT_TRUE(connection.exchange(hosttest::request("GET", c.dataFile), &response));
    EXPECT_NE(std::string::npos, response.body.find(c.shows)) << response.body;
  }
}

}  // namespace
