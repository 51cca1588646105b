// quenta-machine's status and mailbox groups against the module's own
// CurrentStatus and DbLogMailbox, in one device root: what the simulator
// writes must read back through the generator, and what the module posts
// must land in the system log.
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/JSFile.h"
#include "links/CurrentStatus.h"
#include "links/DbLogMailbox.h"
#include "sqlbridge/SettingsStore.h"
#include "tests/host/HostTestSupport.h"
#include "tests/platform/TempRoot.h"
#include "tests/tools/ToolRunner.h"

namespace {

ToolResult machine(const std::string& root, std::vector<std::string> args) {
  args.insert(args.begin(), {"--root", root});
  return runTool(args);
}

// quenta-machine in the background, its output kept.
bool startMachine(hosttest::HostProcess* process, const std::string& root, const std::vector<std::string>& args) {
  std::vector<std::string> line = {QUENTA_MACHINE, "--root", root};
  line.insert(line.end(), args.begin(), args.end());
  return process->start(line);
}

// The number after "key:" in a status text, or -99999.
long member(const std::string& text, const std::string& key) {
  size_t at = text.find("," + key + ":");
  return at == std::string::npos ? -99999 : std::strtol(text.c_str() + at + key.size() + 2, nullptr, 10);
}

class MachineStatusTest : public ::testing::Test {
 protected:
  MachineStatusTest() : file(SafeCString("/current_status.js")) { file.addVariable(&status); }
  std::string produce() {
    SafeCString* text = file.produce(SafeCString(""));
    return std::string(text->c_str(), text->getLength());
  }

  TempRoot root;
  CurrentStatus status;
  JSFile file;
};

TEST_F(MachineStatusTest, SetFieldsReadBackThroughTheGenerator) {
  ASSERT_EQ(machine(root.path(), {"status", "set", "current_actual=-5", "dnetflags=65535", "processNameID=ABCDEFGHI",
                                  "wireTypeID=", "volts_adc=0x1234", "wfs_analog=255", "name=Prog 2"})
                .exitCode,
            0);
  std::string text = produce();
  for (const char* part : {"{processNameID:'ABCDEFGHI',wireTypeID:'',", ",name:'Prog 2',current_actual:-5,",
                           ",dnetflags:65535,", ",volts_adc:4660,", ",wfs_analog:255}"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  // A shorter text clears the rest of its field; other fields keep theirs.
  ASSERT_EQ(machine(root.path(), {"status", "set", "processNameID=AB", "error_type=-32768"}).exitCode, 0);
  text = produce();
  for (const char* part : {"{processNameID:'AB',", ",current_actual:-5,", ",error_type:-32768,"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  std::string shown = machine(root.path(), {"status", "show"}).out;
  EXPECT_NE(shown.find("{\"processNameID\":\"AB\",\"wireTypeID\":\"\","), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"dnetflags\":65535,"), std::string::npos) << shown;

  // What does not fit is refused, and then nothing is written.
  for (const char* bad : {"current_actual=32768", "dnetflags=-1", "dnetflags=65536", "volts_analog=256",
                          "processNameID=ABCDEFGHIJ", "gasID=ABCDEF", "bogus=1", "current_actual",
                          "voltage_actual=12a", "voltage_actual="}) {
    EXPECT_EQ(machine(root.path(), {"status", "set", "current_actual=1", bad}).exitCode, 2) << bad;
  }
  EXPECT_EQ(produce(), text);
}

TEST_F(MachineStatusTest, RunMovesThroughTheWeldCycle) {
  // Five times faster: a whole cycle in two seconds, the shortest stage 100 ms.
  hosttest::HostProcess run;
  ASSERT_TRUE(startMachine(&run, root.path(), {"status", "run", "--hz", "100", "--speed", "5"}));
  EXPECT_TRUE(run.waitForOutput("publishing", 10000)) << run.errors();
  // Sampled until a whole cycle was seen back at idle (on a loaded machine
  // that may take longer than the cycle's two seconds; 20 s at most).
  std::vector<long> states;
  size_t texts = 0, samples = 0;
  long weldCurrent = 0;
  std::string text, last;
  auto start = std::chrono::steady_clock::now();
  auto seen = [&](long state) { return std::find(states.begin(), states.end(), state) != states.end(); };
  while (millisecondsSince(start) < 20000 && !(seen(3) && seen(5) && states.back() == 0 && states.size() >= 5)) {
    text = produce();
    ++samples;
    long state = member(text, "sequence_state");
    if (states.empty() || states.back() != state) states.push_back(state);
    if (state == 3) weldCurrent = std::max(weldCurrent, member(text, "current_actual"));
    if (text != last) ++texts;
    last = text;
    usleep(10000);
  }
  EXPECT_EQ(run.stop(SIGTERM, 10000), 0);
  // Even at rest the raw readings move: most requests see a new text.
  EXPECT_GT(texts * 2, samples);
  EXPECT_NE(text.find("processNameID:'MIG-Pulse',wireTypeID:'ER70S',wireSizeID:'.035',gasID:'C25',"
                      "alloyID:'Steel',name:'Program 1'"),
            std::string::npos)
      << text;
  EXPECT_GT(weldCurrent, 150);
  // Each stage follows the one before it: idle, preflow, start, weld, crater,
  // postflow. A stalled sampler may miss short stages (preflow, start,
  // crater), never go back, and always sees the long ones.
  ASSERT_GE(states.size(), 5u);
  for (size_t k = 1; k < states.size(); ++k) {
    long step = (states[k] - states[k - 1] + 6) % 6;
    EXPECT_TRUE(step >= 1 && step <= 3) << states[k - 1] << " -> " << states[k];
  }
  for (long longStage : {0, 3, 5}) EXPECT_TRUE(seen(longStage)) << longStage;
}

TEST(MachineLock, HoldsEachGroupsMutexForTheGivenTime) {
  TempRoot root;
  for (auto l : {std::make_pair("status", u"DNET_MMF_MUTEX"), std::make_pair("mailbox", u"DB_LOG_MMF_MUTEX")}) {
    hosttest::HostProcess lock;
    ASSERT_TRUE(startMachine(&lock, root.path(), {l.first, "lock", "--ms", "500"}));
    EXPECT_TRUE(lock.waitForOutput("holding", 10000)) << lock.errors();
    EXPECT_EQ(mutexIsFree(l.second), 1);
    EXPECT_EQ(lock.waitForExit(10000), 0);
    EXPECT_EQ(mutexIsFree(l.second), 0);
  }
}

class MachineMailboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), true)) << store.lastError();
    ASSERT_TRUE(store.createSchema()) << store.lastError();
    ASSERT_TRUE(mailbox.open());
  }
  std::vector<quenta::SystemLogRow> systemLog() {
    std::vector<quenta::SystemLogRow> rows;
    EXPECT_TRUE(store.readSystemLog(&rows)) << store.lastError();
    return rows;
  }

  TempRoot root;
  quenta::SettingsStore store;
  DbLogMailbox mailbox;
};

TEST_F(MachineMailboxTest, ShowListsAndDrainLogsTheModulesEventsAcrossTheWrap) {
  MappedBlock block(u"DB_LOG_DATA", 516);
  setDbLogWord(block.data(), DB_LOG_HEAD_OFFSET, 62);
  setDbLogWord(block.data(), DB_LOG_TAIL_OFFSET, 62);
  ASSERT_TRUE(mailbox.post(8, 602, 1, 0));
  ASSERT_TRUE(mailbox.post(17, 5, 1, 3));
  ASSERT_TRUE(mailbox.post(99, 1, 2, 3));

  const std::string events =
      "{\"slot\":62,\"code\":8,\"arg1\":602,\"arg2\":1,\"arg3\":0,"
      "\"description\":\"Parameter 602 changed from the web page\"}\n"
      "{\"slot\":63,\"code\":17,\"arg1\":5,\"arg2\":1,\"arg3\":3,"
      "\"description\":\"Name and description of weld file 5 changed from the web page\"}\n"
      "{\"slot\":0,\"code\":99,\"arg1\":1,\"arg2\":2,\"arg3\":3,"
      "\"description\":\"Event 99 (1, 2, 3) from the web page\"}\n";
  // Showing takes nothing.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(machine(root.path(), {"mailbox", "show"}).out, "{\"head\":1,\"tail\":62}\n" + events);
  }
  EXPECT_TRUE(systemLog().empty());

  EXPECT_EQ(machine(root.path(), {"mailbox", "drain"}).out, events);
  std::vector<quenta::SystemLogRow> rows = systemLog();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].description, "Parameter 602 changed from the web page");
  EXPECT_EQ(std::vector<int>({rows[0].eventType, rows[0].first, rows[0].second, rows[1].third, rows[2].eventType}),
            std::vector<int>({8, 602, 1, 3, 99}));
  EXPECT_GE(rows[0].time.wYear, 2020);
  EXPECT_EQ(dbLogWord(block.data(), DB_LOG_TAIL_OFFSET) + dbLogWord(block.data(), DB_LOG_HEAD_OFFSET), 2);

  EXPECT_EQ(machine(root.path(), {"mailbox", "drain"}).out, "");
  EXPECT_EQ(systemLog().size(), 3u);
}

TEST_F(MachineMailboxTest, FollowKeepsDrainingUntilStopped) {
  hosttest::HostProcess drain;
  ASSERT_TRUE(startMachine(&drain, root.path(), {"mailbox", "drain", "--follow", "--interval-ms", "20"}));
  // More than the ring holds: the drain must make room while posts go on.
  for (WORD i = 0; i < 100; ++i) {
    bool posted = mailbox.post(31, i, 1, 0);
    for (int retry = 0; !posted && retry < 50; ++retry) {
      usleep(20000);
      posted = mailbox.post(31, i, 1, 0);
    }
    ASSERT_TRUE(posted) << i;
  }
  hosttest::waitUntil(5000, [&] { return systemLog().size() >= 100; });
  EXPECT_EQ(drain.stop(SIGTERM, 10000), 0);
  std::vector<quenta::SystemLogRow> rows = systemLog();
  ASSERT_EQ(rows.size(), 100u);
  for (WORD i = 0; i < 100; ++i) EXPECT_EQ(rows[i].first, i);
  EXPECT_EQ(rows[99].description, "Region selection 99 changed from the web page");
}

TEST(MachineMailboxWithoutDatabase, DrainFailsAndKeepsTheEvents) {
  TempRoot root;
  DbLogMailbox mailbox;
  ASSERT_TRUE(mailbox.open());
  ASSERT_TRUE(mailbox.post(8, 149, 1, 0));
  EXPECT_EQ(machine(root.path(), {"mailbox", "drain"}).exitCode, 1);
  EXPECT_NE(machine(root.path(), {"mailbox", "show"}).out.find("\"arg1\":149"), std::string::npos);
}

TEST(MachineCommandLine, BadArgumentsAreRefused) {
  TempRoot root;
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"status", "run", "--hz", "0"}, {"status", "run", "--hz", "1001"}, {"status", "lock"},
           {"status", "lock", "--ms", "x"}, {"mailbox", "drain", "--fast"}, {"status", "fly"}, {"status", "set"}}) {
    EXPECT_EQ(machine(root.path(), args).exitCode, 2) << args.back();
  }
  EXPECT_EQ(machine(root.path() + "/missing", {"status", "show"}).exitCode, 1);
}

}  // namespace
