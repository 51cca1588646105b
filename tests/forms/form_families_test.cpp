// The setup forms, one table of posts per family: fields in, exact journal
// rows (setter, view, key, record, count), mailbox events and debug lines
// out; the first and last write of each form failing for real (a key the
// machine does not have counts 0); every allocation of one post per family
// failing in turn.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "sqlbridge/SqlBridge.h"
#include "tests/forms/FormSamples.h"
#include "tests/forms/FormTestSupport.h"
#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"

using namespace formtest;
typedef std::vector<std::string> Lines;

namespace {

const std::string kBoundary = "----WebKitFormBoundaryQ3xk9LmZ0pRt7YwA";

std::string row(const std::string& setter, const std::string& arguments, const std::string& record, int count = 1,
                const std::string& view = "") {
  return setter + " " + (view.empty() ? setter + "View" : view) + " {" + arguments + "} " + record + " " +
         std::to_string(count);
}
std::string logRow(const std::string& view) { return "SetSystemLog " + view + " {} log 1"; }
Lines operator+(Lines lines, const std::string& last) {
  lines.push_back(last);
  return lines;
}

struct PostCase {
  const char* what;
  const char* path;
  Fields changes;
  bool answered;  // the form's page; false: the 400 page
  Lines journal;
  Lines events;
  Lines debug = {};  // lines that must have been printed, without "\r\n"
  const char* before = nullptr;  // SQL run first: takes away a row a write needs
};

class FormFamiliesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(root.ok()); }

  PostResponse* form(const std::string& path) {
    std::unique_ptr<PostResponse>& handler = forms[path];
    if (!handler) handler.reset(formFor(path));
    return handler.get();
  }
  std::string post(const std::string& path, const Fields& fields) {
    return postBody(form(path), parsertest::contentTypeFor(kBoundary), parsertest::plainBody(kBoundary, fields), 700);
  }

  void run(const std::vector<PostCase>& cases) {
    for (const PostCase& c : cases) {
      SCOPED_TRACE(c.what);
      if (c.before != nullptr) {
        ASSERT_TRUE(execute(c.before));
      }
      size_t rowsBefore = root.journal().size();
      size_t eventsBefore = root.events().size();
      EXPECT_EQ(root.page(c.answered ? pageOf(c.path) : "400.htm"), post(c.path, sampleWith(c.path, c.changes)));
      Lines rows = root.journal(), events = root.events();
      EXPECT_EQ(c.journal, Lines(rows.begin() + rowsBefore, rows.end()));
      EXPECT_EQ(c.events, Lines(events.begin() + eventsBefore, events.end()));
      for (const std::string& line : c.debug) EXPECT_TRUE(debug.contains(line + "\r\n")) << line;
      EXPECT_EQ(0, SqlBridgeOpenViewCount());
    }
  }
  bool execute(const char* sql) {
    quenta::SettingsStore store;
    return store.open(quenta::SettingsStore::databasePath(getenv("QUENTA_ROOT")), false) &&
           store.updateRows(sql, {}) >= 0;
  }

  parsertest::DebugCapture debug;
  FormRoot root;
  std::map<std::string, std::unique_ptr<PostResponse>> forms;
};

const char kTime[] = "/arc_management/time_sequence_adjust.min.html";
const char kRetract[] = "/arc_management/retract_sequence_adjust.min.html";
const char kFull[] = "/arc_management/full_sequence_adjust.min.html";
const char kFullRecord[] =
    "0d00c80064002c0132000100630036013c00b20240013200bc02280300006300070002000900e5000a00e7030100010001000100";

TEST_F(FormFamiliesTest, SequenceForms) {
  run({
      {"time: the stage's enables, then its time", kTime, {}, true,
       {row("SetSeqEnables", "\"seq_id\":11", "0b000100010001000100", 1, "SetTimeView"),
        row("SetPreflow", "\"seq_id\":11", "0b00fa000100010001000100", 1, "SetTimeView")},
       {"11,11,1,0", "11,11,1,0"},
       {"UPDATED 1 enables_only_sequence_struct records at recordID 11",
        "UPDATED 1 time_only_sequence_struct records at recordID 11"}},
      {"time: enables of a stage not stored only lose their event", kTime, {{"selected_sequence", "99"}}, true,
       {row("SetSeqEnables", "\"seq_id\":99", "63000100010001000100", 0, "SetTimeView"),
        row("SetPreflow", "\"seq_id\":11", "0b00fa000100010001000100", 1, "SetTimeView")},
       {"11,11,1,0"}},
      {"time: a stage not stored, enables off", kTime, {{"seq_id", "99"}, {"seq_enable", "0"}}, false,
       {row("SetPreflow", "\"seq_id\":99", "6300fa000000000000000000", 0, "SetTimeView")}, {}},
      {"retract", kRetract, {}, true,
       {pcodeRow(657, 7), row("SetRetract", "\"seq_id\":17", "11002c017d00")}, {"8,657,1,0", "11,17,1,0"},
       {"UPDATED 1 retract_sequence_struct records at recordID 17"}},
      {"retract: a delay code not stored only loses its event", kRetract, {{"retract_delay_pcode", "999"}}, true,
       {pcodeRow(999, 7, 0), row("SetRetract", "\"seq_id\":17", "11002c017d00")}, {"11,17,1,0"}},
      {"retract: a stage not stored", kRetract, {{"seq_id", "99"}}, false,
       {pcodeRow(657, 7), row("SetRetract", "\"seq_id\":99", "63002c017d00", 0)}, {"8,657,1,0"}},
      {"full: the selectors' first alternatives, the slope's high byte over the inductance", kFull, {}, true,
       {row("SetStart", "\"seq_id\":13", kFullRecord, 1, "SetSeqView")}, {"11,13,1,0"},
       {"UPDATED 1 webpage_sequence_struct records at recordID 13"}},
      {"full: enables off write the ramp's time first", kFull, {{"seqenable", "0"}}, true,
       {row("SetPreflow", "\"seq_id\":12", "0c0096000000000000000000", 1, "SetTimeView"),
        row("SetStart", "\"seq_id\":13",
            "0d00c80064002c0132000100630036013c00b20240013200bc02280300006300070002000900e5000a00e7030000000000000000",
            1, "SetSeqView")},
       {"11,12,1,0", "11,13,1,0"}},
      {"full: the other alternatives; a ramp not stored only loses its event", kFull,
       {{"volts_or_fendral", "0"}, {"wfs_or_amps", "1"}, {"inductance_or_arccontrol", "0"}, {"seqenable", "0"},
        {"selected_sequence", "99"}},
       true,
       {row("SetPreflow", "\"seq_id\":99", "630096000000000000000000", 0, "SetTimeView"),
        row("SetStart", "\"seq_id\":13",
            "0d00c80064002c0133000300620096000a00900136013c00b202280300006300080004000c00e5000a00e7030000000000000000",
            1, "SetSeqView")},
       {"11,13,1,0"}},
      {"full: a stage not stored", kFull, {{"seq_id", "99"}}, false,
       {row("SetStart", "\"seq_id\":99", std::string("6300") + (kFullRecord + 4), 0, "SetSeqView")}, {}},
  });
}

const char kSelection[] = "/arc_management/process_selection.html";
const char kNaming[] = "/arc_management/program_naming.min.html";
const char kWeldFile[] = "/arc_management/weld_file_setup.min.html";
const char kTriggers[] = "/arc_management/advanced_triggers.min.html";
const char kProcessLoad[] = "010002002d00010000000300210045523730532d36000000";

TEST_F(FormFamiliesTest, ProgramForms) {
  Lines triggerRows = {pcodeRow(638, 1), row("SetTriggerEnables", "\"program\":1", "04000100"),
                       row("SetPreflow", "\"seq_id\":10", "0a0032000100000001000000", 2),
                       row("SetTriggerEnables", "\"program\":2", "06000200"),
                       row("SetPreflow", "\"seq_id\":20", "140078000000010000000100")};
  const std::string namingRow = row(
      "SetCustomNameDesc", "\"program\":1",
      "01004d7957656c6400000000526f6f74207061737300000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000");
  Lines triggersFailing = triggerRows;
  triggersFailing.back() = row("SetPreflow", "\"seq_id\":99", "630078000000010000000100", 0);
  run({
      {"process selection: the program, its feeder's wire, its process", kSelection, {}, true,
       {pcodeRow(660, 2), row("SetWireWeight", "\"feeder\":1", "01002100"),
        row("SetBankComboProcessInfo", "\"program\":2", kProcessLoad)},
       {"23,1,1,0", "3,1,1,0"},
       {"UPDATED 1 wire_weight_struct records at recordID 1", "UPDATED 1 process_load_struct records at recordID 1"}},
      {"process selection: the program code's count is not tested", kSelection,
       {{"user_selected_program_pcode", "999"}}, true,
       {pcodeRow(999, 2, 0), row("SetWireWeight", "\"feeder\":1", "01002100"),
        row("SetBankComboProcessInfo", "\"program\":2", kProcessLoad)},
       {"23,1,1,0", "3,1,1,0"}},
      {"process selection: a long name is cut to 9 characters", kSelection, {{"uimname", "ER70S-6LONG"}}, true,
       {pcodeRow(660, 2), row("SetWireWeight", "\"feeder\":1", "01002100"),
        row("SetBankComboProcessInfo", "\"program\":2", "010002002d00010000000300210045523730532d364c4f00")},
       {"23,1,1,0", "3,1,1,0"}},
      {"process selection: program 9 is the second feeder's and not stored", kSelection,
       {{"selected_program_number", "9"}}, false,
       {pcodeRow(660, 9), row("SetWireWeight", "\"feeder\":2", "02002100"),
        row("SetBankComboProcessInfo", "\"program\":9", "010009002d00010000000300210045523730532d36000000", 0)},
       {"23,2,1,0"}},
      {"program naming", kNaming, {}, true, {pcodeRow(660, 1), namingRow}, {"17,1,1,3"}},
      {"program naming: the program code's count is not tested", kNaming, {{"user_selected_program_pcode", "999"}},
       true, {pcodeRow(999, 1, 0), namingRow}, {"17,1,1,3"}},
      {"program naming: a program not stored", kNaming, {{"selected_program", "9"}, {"custom_description", ""}},
       false,
       {pcodeRow(660, 9),
        row("SetCustomNameDesc", "\"program\":9",
            "09004d7957656c6400000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "00000000000000000000",
            0)},
       {}},
      {"weld file setup", kWeldFile, {}, true,
       {pcodeRow(660, 1), row("SetWeldListComboNumberChange", "\"program\":1", "01000500")}, {"17,1,1,0"},
       {"Past enable submit.", "Weld Number = 1 ", "Combo Number = 5 ",
        "UPDATED 1 weld_list_combo_number_change_struct records at recordID 1"}},
      {"weld file setup: a program not stored", kWeldFile, {{"selected_program", "9"}}, false,
       {pcodeRow(660, 9), row("SetWeldListComboNumberChange", "\"program\":9", "09000500", 0)}, {}},
      {"advanced triggers: both guns; gun A's preflow is also the program's preflow stage", kTriggers, {}, true,
       triggerRows, {"8,638,1,0", "17,4,1,0", "11,10,4,0", "17,6,1,0", "11,20,4,0"}},
      {"advanced triggers: a first write that updates nothing ends the form", kTriggers,
       {{"ignoreweldenablepcode", "999"}}, false, {pcodeRow(999, 1, 0)}, {}},
      {"advanced triggers: gun B's preflow not stored", kTriggers, {{"preflowIDB", "99"}}, false, triggersFailing,
       {"8,638,1,0", "17,4,1,0", "11,10,4,0", "17,6,1,0"}},
  });
}

const char kErrors[] = "/setup/error_config.min.html";
const char kProcesses[] = "/arc_management/process_enables.min.html";
const char kLocks[] = "/arc_management/enables_locks.min.html";

TEST_F(FormFamiliesTest, EnablesForms) {
  Lines processRows = {logRow("SetSystemLogProcessEnableWebChangeView")};
  for (const char* record : {"00000100", "03000000", "08000000", "0f000100", "06000000", "05000000", "02000000",
                             "0b000000", "01000000"}) {
    processRows.push_back(row("SetProcessEnables", std::string("\"process\":") +
                                  std::to_string(strtol(std::string(record, 2).c_str(), nullptr, 16)),
                              record, 1, "SetProcessEnableView"));
  }
  processRows.push_back(pcodeRow(732, 0x8001));
  const std::string programLocks = logRow("SetSystemLogProgramLockWebChangeView");
  const Fields noLock = {{"locksubmit", "0"}};
  run({
      {"error enables: every error on", kErrors, {}, true, {row("SetErrorEnables", "\"bank\":1", "01007e32")},
       {"4,1,0,0"}, {"UPDATED 1 all_error_enables_struct records at recordID 1"}},
      {"error enables: the other bits kept", kErrors,
       {{"arcstarterror", "0"}, {"missedwelderror", "0"}, {"arcruntimeerror", "0"}, {"wirestuckerror", "0"},
        {"wirefeedspeederror", "0"}, {"motorovercurrenterror", "0"}, {"coolantflowerror", "0"},
        {"wirewarningerror", "0"}, {"gasflowerror", "0"}, {"errorsenabled", "65535"}},
       true, {row("SetErrorEnables", "\"bank\":1", "010081cd")}, {"4,1,0,0"}},
      {"error enables: a bank not stored", kErrors, {{"bankconfigID", "3"}}, false,
       {row("SetErrorEnables", "\"bank\":3", "03007e32", 0)}, {}},
      {"process enables: the log text, each process, the mask", kProcesses, {}, true, processRows, {"8,732,1,0"},
       {"UPDATED 1 process_enables_struct records at recordID 15"}},
      {"locks: the encoder lock, the log text, both locks", kLocks, {}, true,
       {programLocks, row("SetEncoderLock", "\"bank\":1", "01000100"), logRow("SetSystemLogWebChangeView"),
        pcodeRow(653, 1), pcodeRow(654, 1)},
       {"4,1,1,0", "8,653,1,0", "8,654,1,0"}},
      {"locks: enabling all weld files wins over the lock", kLocks, {{"enableallweldfilesubmit", "1"}}, true,
       {programLocks, row("SetAllEnables", "\"active\":1", "010001000100", 3)}, {"17,1,1,2"}},
      {"locks: disabling all with two feeders", kLocks,
       {{"disableallweldfilesubmit", "1"}, {"locksubmit", "0"}, {"dualfeeder", "1"}, {"dualnonactiveweldfile", "3"}},
       true, {programLocks, row("SetDualAllEnables", "\"active\":1", "0100010003000000", 3)}, {"17,1,1,1"}},
      {"locks: disabling all with one feeder", kLocks, {{"disableallweldfilesubmit", "1"}, {"locksubmit", "0"}},
       true, {programLocks, row("SetAllEnables", "\"active\":1", "010001000000", 3)}, {"17,1,1,1"}},
      {"locks: one weld file", kLocks, {{"enablesubmit", "1"}, {"locksubmit", "0"}}, true,
       {programLocks, row("SetWeldFileEnable", "\"program\":2", "02000000")}, {"17,2,1,0"}, {"Record status 1 "}},
      {"locks: no submit writes only the log text", kLocks, noLock, false, {programLocks}, {}},
      {"locks: a bank not stored", kLocks, {{"bank_id", "3"}}, false,
       {programLocks, row("SetEncoderLock", "\"bank\":3", "03000100", 0)}, {}},
      {"locks: the last lock code not stored", kLocks, {{"seqlock_pcode", "999"}}, false,
       {programLocks, row("SetEncoderLock", "\"bank\":1", "01000100"), logRow("SetSystemLogWebChangeView"),
        pcodeRow(653, 1), pcodeRow(999, 1, 0)},
       {"4,1,1,0", "8,653,1,0"}},
      {"process enables: the mask's code missing", kProcesses, {}, false,
       Lines(processRows.begin(), processRows.end() - 1) + pcodeRow(732, 0x8001, 0), {}, {},
       "DELETE FROM pcode WHERE code = 732"},
      {"process enables: a process the machine lacks ends the form", kProcesses, {}, false,
       {processRows[0], row("SetProcessEnables", "\"process\":0", "00000100", 0, "SetProcessEnableView")}, {},
       {}, "DELETE FROM process WHERE processID = 0"},
  });
}

const char kCable[] = "/setup/weld_cable.min.html";
const char kSpool[] = "/setup/spool.min.html";
const char kData[] = "/data_management/data_management.min.html";
const char kRegion[] = "/setup/region.min.html";

TEST_F(FormFamiliesTest, WireSpoolAndRegionForms) {
  Lines resets = {logRow("SetSystemLogShortTermDataResetView")};
  Lines resetEvents;
  for (int code : {603, 604, 631, 632, 635, 636, -1, 644, 645, 640, 641, 642, 643}) {
    if (code < 0) {
      resets.push_back(logRow("SetSystemLogRightSideShortTermDataResetView"));
      continue;
    }
    resets.push_back(pcodeRow(code, 0));
    resetEvents.push_back("8," + std::to_string(code) + ",1,0");
  }
  Lines regionRows = {pcodeRow(101, 1), pcodeRow(652, 1), pcodeRow(651, 0)};
  Lines lastResetFails(resets.begin(), resets.end() - 1);
  lastResetFails.push_back(pcodeRow(643, 0, 0));
  run({
      {"weld cable: the torch index plus 1", kCable, {}, true,
       {pcodeRow(655, 1), pcodeRow(656, 0), pcodeRow(665, 1),
        row("SetWeldCableConfigOnly", "\"bank\":1", "010001000c00010019000200140003000700", 1,
            "SetWeldCableConfigView")},
       {"8,655,1,0", "8,656,1,0", "8,665,1,0", "22,1,1,0"}},
      {"weld cable: the first code not stored", kCable, {{"sec_res_pcode", "999"}}, false, {pcodeRow(999, 1, 0)}, {}},
      {"weld cable: a bank not stored", kCable, {{"banknumber", "2"}}, false,
       {pcodeRow(655, 1), pcodeRow(656, 0), pcodeRow(665, 1),
        row("SetWeldCableConfigOnly", "\"bank\":2", "020001000c00010019000200140003000700", 0,
            "SetWeldCableConfigView")},
       {"8,655,1,0", "8,656,1,0", "8,665,1,0"}},
      {"spool 0: feeder 1, remaining lowered to the weight", kSpool, {}, true,
       {row("SetWeldWireInfo", "\"bank\":1", "010001004a0132004a01", 1, "SetWeightSubmitView")}, {"23,1,1,0"}},
      {"spool 2: feeder 2", kSpool, {{"resetspoolsubmit", "2"}}, true,
       {row("SetWeldWireInfo", "\"bank\":2", "02000200b80128007800", 1, "SetWeightSubmitView")}, {"23,2,1,0"}},
      {"spool 1: feeder 1's new spool", kSpool, {{"resetspoolsubmit", "1"}}, true,
       {row("SetWeldWireDate", "\"feeder\":1", "01000000000000004a01{time}0000", 1, "SetSpoolDateView")},
       {"23,1,1,0"}, {"UPDATED 1 weld_wire_date_struct records at recordID 1"}},
      {"spool 3: feeder 2's new spool", kSpool, {{"resetspoolsubmit", "3"}}, true,
       {row("SetWeldWireDate", "\"feeder\":2", "0100000000000000b801{time}0000", 1, "SetSpoolDateView")},
       {"23,2,1,0"}},
      {"spool 4: nothing", kSpool, {{"resetspoolsubmit", "4"}}, false, {}, {}},
      {"spool: a bank not stored", kSpool, {{"banknumber", "3"}}, false,
       {row("SetWeldWireInfo", "\"bank\":3", "010003004a0132004a01", 0, "SetWeightSubmitView")}, {}},
      {"data management: both feeders' short-term data", kData, {}, true, resets, resetEvents},
      {"data management: one feeder's", kData, {{"dualstatus", "0"}}, true, Lines(resets.begin(), resets.begin() + 7),
       Lines(resetEvents.begin(), resetEvents.begin() + 6)},
      {"data management: feeder 2's new spool first", kData, {{"resetspoolsubmit", "2"}}, true,
       {row("SetWeldWireDate", "\"feeder\":2", "0100000000000000b801{time}0000", 1, "SetSpoolDateView")},
       {"23,2,1,0"}},
      {"data management: no submit", kData, {{"datasubmit", "0"}}, false, {}, {}},
      {"region", kRegion, {}, true,
       {regionRows[0], regionRows[1], regionRows[2], row("SetRegion", "\"region\":2", "02000100"),
        row("SetRegionSet", "\"region\":2", "02000100")},
       {"8,101,1,0", "8,652,1,0", "8,651,1,0", "31,2,1,0", "31,2,1,0"}},
      {"region: the first code not stored", kRegion, {{"metricenablepcode", "999"}}, false, {pcodeRow(999, 1, 0)}, {}},
      {"region: a region not stored", kRegion, {{"selectedRegion", "3"}}, false,
       {regionRows[0], regionRows[1], regionRows[2], row("SetRegion", "\"region\":3", "03000100", 0)},
       {"8,101,1,0", "8,652,1,0", "8,651,1,0"}},
      {"data management: the last parameter missing", kData, {}, false, lastResetFails,
       Lines(resetEvents.begin(), resetEvents.end() - 1), {}, "DELETE FROM pcode WHERE code = 643"},
      {"data management: the first parameter missing", kData, {}, false,
       {resets[0], pcodeRow(603, 0, 0)}, {}, {}, "DELETE FROM pcode WHERE code = 603"},
  });
}

const char kRobot[] = "/setup/robot_options.html";
const char kCustom[] = "/arc_management/custom_process_selection.html";
const char kCalibration[] = "/setup/atuocal.html";

TEST_F(FormFamiliesTest, RobotAndCalibrationForms) {
  const std::string board = "0101a8c000ffffff0100a8c000000100020003000400050001000000";
  run({
      {"robot options: set value, maker, program select, maker twice, communication", kRobot, {}, true,
       {pcodeRow(125, 1), pcodeRow(136, 2), pcodeRow(139, 0), row("SetRobotMfg", "\"robot\":2", "02000100"),
        row("SetRobotMfgSet", "\"robot\":2", "02000100"), pcodeRow(639, 1)},
       {"8,125,1,0", "8,136,1,0", "8,139,1,0", "33,2,1,0", "33,2,1,0", "8,639,1,0"},
       {"UPDATED 1 robot_mfg_select_struct records at recordID 2"}},
      {"robot options: the board settings only", kRobot, {{"ethernetsave", "1"}}, true,
       {row("SetAimSettingsInfo", "", board)}, {"37,1,1,0"},
       {"UPDATED 1 aim_settings_for_web_struct records at recordID 1"}},
      {"robot options: the set-value code not stored", kRobot, {{"setvalueenablepcode", "999"}}, false,
       {pcodeRow(999, 1, 0)}, {}},
      {"robot options: the communication code not stored", kRobot, {{"robot_comm_pcode", "999"}}, false,
       {pcodeRow(125, 1), pcodeRow(136, 2), pcodeRow(139, 0), row("SetRobotMfg", "\"robot\":2", "02000100"),
        row("SetRobotMfgSet", "\"robot\":2", "02000100"), pcodeRow(999, 1, 0)},
       {"8,125,1,0", "8,136,1,0", "8,139,1,0", "33,2,1,0", "33,2,1,0"}},
      {"robot options: a maker not stored", kRobot, {{"RobotMfgSelected", "7"}}, false,
       {pcodeRow(125, 1), pcodeRow(136, 7), pcodeRow(139, 0), row("SetRobotMfg", "\"robot\":7", "07000100", 0)},
       {"8,125,1,0", "8,136,1,0", "8,139,1,0"}},
      {"dry run", "/setup/dry_run.html", {}, true, {pcodeRow(117, 1)}, {"8,117,1,0"}},
      {"dry run: its code not stored", "/setup/dry_run.html", {{"dry_run_pcode", "999"}}, false,
       {pcodeRow(999, 1, 0)}, {}},
      {"run-in", "/arc_management/runin_sequence_adjust.min.html", {}, true,
       {row("SetRuninWFS", "\"program\":1", "010001007800")}, {"3,1,1,9998"},
       {"UPDATED 1 runin_struct records at recordID 1"}},
      {"run-in: a program not stored", "/arc_management/runin_sequence_adjust.min.html", {{"runin_id", "9"}}, false,
       {row("SetRuninWFS", "\"program\":9", "010009007800", 0)}, {}},
      {"burnback", "/arc_management/burnback_sequence_adjust.html", {}, true,
       {row("SetBurnBackTime", "\"program\":2", "010002001900")}, {"3,2,1,9997"}},
      {"burnback: a program not stored", "/arc_management/burnback_sequence_adjust.html", {{"bb_id", "9"}}, false,
       {row("SetBurnBackTime", "\"program\":9", "010009001900", 0)}, {}},
      {"custom process: the program without event, then its process", kCustom, {}, true,
       {pcodeRow(660, 1), row("SetBankComboCustomProcessInfo", "\"program\":1", "010001002d0043757374000000000000")},
       {"3,1,1,0"}},
      {"custom process: the program code not stored ends the form", kCustom, {{"user_selected_program_pcode", "999"}},
       false, {pcodeRow(999, 1, 0)}, {}},
      {"custom process: a program not stored", kCustom, {{"selected_program_number", "9"}}, false,
       {pcodeRow(660, 9), row("SetBankComboCustomProcessInfo", "\"program\":9", "010009002d0043757374000000000000", 0)},
       {}},
      {"calibration", kCalibration, {}, true, {row("SetManualCal", "", "5802a0004001960058020100")}, {"26,1,1,0"},
       {"UPDATED 1 manual_cal_struct records at recordID 1"}},
      {"retract start", "/arc_management/retract_start.html", {}, true,
       {row("SetRetractStartEnable", "\"seq_id\":17", "11000100")}, {"17,17,1,4"},
       {"UPDATED 1 weld_file_enable_struct records at recordID 17", "Record status 1 "}},
      {"retract start: a stage not stored", "/arc_management/retract_start.html", {{"seq_id", "99"}}, false,
       {row("SetRetractStartEnable", "\"seq_id\":99", "63000100", 0)}, {}, {"Record status 0 "}},
      {"calibration: no calibration record", kCalibration, {}, false,
       {row("SetManualCal", "", "5802a0004001960058020100", 0)}, {}, {}, "DELETE FROM autocal_variables"},
      {"robot options: no board record", kRobot, {{"ethernetsave", "1"}}, false,
       {row("SetAimSettingsInfo", "", board, 0)}, {}, {}, "DELETE FROM aim_board_settings"},
  });
}

// Each allocation of one post per family failing in turn: no crash, no leak,
// and the answer is the page or the 400 page, never nothing.
TEST_F(FormFamiliesTest, EveryAllocationOfAPostMayFail) {
  parsertest::DebugCapture quiet(false);
  for (const char* path : {kTime, kSelection, kLocks, kCable, kRobot}) {
    SCOPED_TRACE(path);
    Fields fields = sampleWith(path, {});
    std::string page, error;
    {
      AllocFailure::Suspend suspend;
      post(path, {});  // the 400 page loaded
      page = post(path, fields);
      error = root.page("400.htm");
    }
    unsigned long allocations = AllocFailure::failEachAllocation([&](unsigned long) {
      std::string answer = post(path, fields);
      EXPECT_TRUE(answer == page || answer == error);
    });
    EXPECT_GT(allocations, 10u);
  }
}

}  // namespace
