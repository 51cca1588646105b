// The record setters of the setup forms. Each setter is one row: its name, the
// size of its record, the key its journal row names, and the statements that
// change the tables the data files read, each with the record's values bound
// in order. A setter changes existing rows only and answers the rows changed
// by its counted statements; a key the machine does not have counts 0 and
// changes nothing. docs/settings-database.md has the table of what each
// setter changes and which data files show it.
#include "sqlbridge/RecordSetters.h"

#include <cstdio>
#include <string>
#include <vector>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/Views.h"

namespace {

// Where a bound value comes from: a word, a 32-bit word or a NUL-terminated
// 8-bit text of the record, a SYSTEMTIME in it (bound as local ISO 8601 text),
// or the key the setter was called with.
struct Bound {
  enum Kind { kWord, kDword, kText, kTime, kKey };
  Kind kind;
  unsigned char offset;
  unsigned char length;  // kText: the field's bytes
};
constexpr Bound word(int offset) { return {Bound::kWord, static_cast<unsigned char>(offset), 2}; }
constexpr Bound dword(int offset) { return {Bound::kDword, static_cast<unsigned char>(offset), 4}; }
constexpr Bound text(int offset, int length) {
  return {Bound::kText, static_cast<unsigned char>(offset), static_cast<unsigned char>(length)};
}
constexpr Bound timeAt(int offset) { return {Bound::kTime, static_cast<unsigned char>(offset), 16}; }
constexpr Bound key() { return {Bound::kKey, 0, 0}; }

const int kMostBound = 26;

struct Statement {
  const char* sql;
  Bound values[kMostBound];  // bound as ?1, ?2, ... in this order
  int valueCount;
  bool counted;  // its rows changed are the setter's count
};

struct SetterRow {
  const char* name;
  size_t recordBytes;
  const char* keyName;  // the journal's argument
  Bound keyFrom;        // where the journal's key is read (kKey: the argument)
  const Statement* statements;
  int statementCount;
};

#define STATEMENTS(table) table, static_cast<int>(sizeof(table) / sizeof((table)[0]))

// Sequences. A stage is selected by its seq_ID, the number its sequence-state
// and enables files show and the pages post back.
const Statement kRetract[] = {
    {"UPDATE weld_stage SET WFS = ?2, time = ?3 WHERE seq_ID = ?1", {word(0), word(2), word(4)}, 3, true},
};
const Statement kSeqEnables[] = {
    {"UPDATE weld_stage SET smart_enables = ?2, tbd_enables = ?3, simple_enables = ?4, manual_enables = ?5 "
     "WHERE seq_ID = ?1",
     {word(0), word(2), word(4), word(6), word(8)}, 5, true},
};
// time_only_sequence_struct: stage, time, then the tbd, manual, smart and
// simple enables. A preflow shown beside a program's triggers is the same
// stage and changes with it.
const Statement kPreflow[] = {
    {"UPDATE weld_stage SET time = ?2, tbd_enables = ?3, manual_enables = ?4, smart_enables = ?5, "
     "simple_enables = ?6 WHERE seq_ID = ?1",
     {word(0), word(2), word(4), word(6), word(8), word(10)}, 6, true},
    {"UPDATE program_trigger SET time = ?2, tbd_enables = ?3, manual_enables = ?4, smart_enables = ?5, "
     "simple_enables = ?6 WHERE seq_ID = ?1",
     {word(0), word(2), word(4), word(6), word(8), word(10)}, 6, true},
};
// webpage_sequence_struct: stage; volts, arc adjust, current, WFS,
// inductance, arc control and time, each value, min, max; four enables.
const Statement kStart[] = {
    {"UPDATE weld_stage SET volts = ?2, minVolts = ?3, maxVolts = ?4, arcAdjust = ?5, minArcAdjust = ?6, "
     "maxArcAdjust = ?7, current = ?8, minCurrent = ?9, maxCurrent = ?10, WFS = ?11, minWFS = ?12, maxWFS = ?13, "
     "inductance = ?14, minInductance = ?15, maxInductance = ?16, arcControl = ?17, minArcControl = ?18, "
     "maxArcControl = ?19, time = ?20, minTime = ?21, maxTime = ?22, smart_enables = ?23, tbd_enables = ?24, "
     "simple_enables = ?25, manual_enables = ?26 WHERE seq_ID = ?1",
     {word(0),  word(2),  word(4),  word(6),  word(8),  word(10), word(12), word(14), word(16),
      word(18), word(20), word(22), word(24), word(26), word(28), word(30), word(32), word(34),
      word(36), word(38), word(40), word(42), word(44), word(46), word(48), word(50)},
     26, true},
};

// Programs and processes. A weld program is its number in its bank's
// combinations (comboNumber) and weld list (weldNumber), and its program
// record (comboId). Programs 1 to 4 belong to the first feeder's bank, the
// others to the second's (the rule that picks the wire weight's feeder).
#define BANK_OF_PROGRAM(column) column " = CASE WHEN ?1 BETWEEN 1 AND 4 THEN 1 ELSE 2 END"
const Statement kWireWeight[] = {
    {"UPDATE feeder_wire_weight SET wireWeight = ?2 WHERE feeder = ?1", {key(), word(2)}, 2, true},
};
// process_load_struct: 1, program, combination, vort, indorsa, alloy, wire
// weight, name.
const Statement kProcessInfo[] = {
    {"UPDATE bank_combo SET comboID = ?2, comboVoltsOrTrim = ?3, comboIndOrSA = ?4, comboAlloy = ?5, "
     "comboWireWeight = ?6, comboTag = ?7 WHERE comboNumber = ?1 AND " BANK_OF_PROGRAM("comboBank"),
     {word(2), word(4), word(6), word(8), word(10), word(12), text(14, 10)}, 7, true},
    {"UPDATE weld_program SET VorT = ?2, INDorSA = ?3 WHERE weldNumber = ?1", {word(2), word(6), word(8)}, 3, false},
};
const Statement kCustomNameDesc[] = {
    {"UPDATE weld_list SET shortName = ?2 WHERE weldNumber = ?1 AND " BANK_OF_PROGRAM("bankNumber"),
     {word(0), text(2, 10)}, 2, true},
    {"UPDATE program SET shortCustomName = ?2, customDescription = ?3 WHERE comboId = ?1",
     {word(0), text(2, 10), text(12, 52)}, 3, false},
};
const Statement kComboNumberChange[] = {
    {"UPDATE weld_combination SET weld_combo_number = ?2 WHERE weld_number = ?1", {word(0), word(2)}, 2, true},
};
// set_weld_config_id_struct: the weld configuration, then the program.
const Statement kTriggerEnables[] = {
    {"UPDATE program_weld_config SET weldConfigID = ?2 WHERE weldNumber = ?1", {word(2), word(0)}, 2, true},
};

// Enables and locks.
const Statement kErrorEnables[] = {
    {"UPDATE bank_config SET errorEnables = ?2 WHERE bankConfigID = ?1", {word(0), word(2)}, 2, true},
};
const Statement kProcessEnables[] = {
    {"UPDATE process SET enabled = ?2 WHERE processID = ?1", {word(0), word(2)}, 2, true},
};
// all_weld_file_enable_struct: 1, the active weld file, on (1) or off (0).
// The active weld file stays enabled when the others are switched off.
const Statement kAllEnables[] = {
    {"UPDATE weld_list SET weldFileEnableStatus = CASE WHEN weldNumber = ?1 THEN 1 ELSE ?2 END",
     {word(2), word(4)}, 2, true},
};
// The two-feeder form: both feeders' active weld files stay enabled.
const Statement kDualAllEnables[] = {
    {"UPDATE weld_list SET weldFileEnableStatus = CASE WHEN weldNumber IN (?1, ?2) THEN 1 ELSE 0 END",
     {word(2), word(4)}, 2, true},
};
const Statement kWeldFileEnable[] = {
    {"UPDATE weld_list SET weldFileEnableStatus = ?2 WHERE weldNumber = ?1 AND " BANK_OF_PROGRAM("bankNumber"),
     {word(0), word(2)}, 2, true},
};
const Statement kEncoderLock[] = {
    {"UPDATE bank_config SET encoderLock = ?2 WHERE bankConfigID = ?1", {word(0), word(2)}, 2, true},
};

// Weld cable, wire and spool, region.
// weld_cable_config_only_struct: bank, torch, torch resistance, volts feedback
// (stud or sense), positive length and size, negative length and size, cable
// resistance.
const Statement kWeldCable[] = {
    {"UPDATE weld_cable SET torchID = ?2, torchResistance = ?3, studOrSense = ?4, positiveLength = ?5, "
     "positiveSize = ?6, negativeLength = ?7, negativeSize = ?8, secondaryResistance = ?9 WHERE bankNumber = ?1",
     {key(), word(2), word(4), word(6), word(8), word(10), word(12), word(14), word(16)}, 9, true},
};
// A bank's spool on its feeder is the last one stored for it (the last in
// its spool data file).
#define CURRENT_SPOOL "entry = (SELECT MAX(entry) FROM spool WHERE spoolBank = ?1)"
// weld_wire_info_struct: feeder, bank, weight, warning, remaining.
const Statement kWireInfo[] = {
    {"UPDATE spool SET spoolWeight = ?2, warningLevel = ?3, poundsLeft = ?4 WHERE " CURRENT_SPOOL,
     {word(2), word(4), word(6), word(8)}, 4, true},
};
// weld_wire_date_struct: a new spool of the given weight, on the date given.
const Statement kWireDate[] = {
    {"UPDATE spool SET spoolWeight = ?2, poundsLeft = ?2, poundsUsed = 0, spoolDate = ?3 WHERE " CURRENT_SPOOL,
     {key(), word(8), timeAt(10)}, 3, true},
};
// region_select_struct: the region's place in the region list (RegionAll, in
// entry order), counted from 1, then 1.
const Statement kRegion[] = {
    {"UPDATE region SET regionSelected = 0 WHERE ?1 BETWEEN 1 AND (SELECT COUNT(*) FROM region)", {word(0)}, 1,
     false},
    {"UPDATE region SET regionSelected = 1 WHERE ?1 >= 1 AND "
     "entry = (SELECT entry FROM region ORDER BY entry LIMIT 1 OFFSET ?1 - 1)",
     {word(0)}, 1, true},
};
// The selection the machine has taken up, once the region's settings apply.
const Statement kRegionSet[] = {
    {"UPDATE applied_selection SET selection = ?1 WHERE name = 'region' AND "
     "?1 BETWEEN 1 AND (SELECT COUNT(*) FROM region)",
     {word(0)}, 1, true},
};

// Robot interface and calibration.
// aim_settings_for_web_struct: address, mask, gateway, six MAC bytes, type.
const Statement kAimSettings[] = {
    {"UPDATE aim_board_settings SET robotIPAddr = ?1, robotMask = ?2, robotGateway = ?3, robotMAC0 = ?4, "
     "robotMAC1 = ?5, robotMAC2 = ?6, robotMAC3 = ?7, robotMAC4 = ?8, robotMAC5 = ?9, robotStaticDynamic = ?10",
     {dword(0), dword(4), dword(8), word(12), word(14), word(16), word(18), word(20), word(22), word(24)}, 10, true},
};
// robot_mfg_select_struct: the maker's robotID, then 1.
const Statement kRobotMfg[] = {
    {"UPDATE robot_manufacturer SET robotSelected = 0 WHERE robotID <> ?1 AND "
     "EXISTS (SELECT 1 FROM robot_manufacturer WHERE robotID = ?1)",
     {word(0)}, 1, false},
    {"UPDATE robot_manufacturer SET robotSelected = 1 WHERE robotID = ?1", {word(0)}, 1, true},
};
const Statement kRobotMfgSet[] = {
    {"UPDATE applied_selection SET selection = ?1 WHERE name = 'robotManufacturer' AND "
     "EXISTS (SELECT 1 FROM robot_manufacturer WHERE robotID = ?1)",
     {word(0)}, 1, true},
};
// runin_struct and burnback_struct: 1, the program's combination, the value.
const Statement kRunin[] = {
    {"UPDATE bank_combo SET comboRunInWFS = ?2 WHERE comboNumber = ?1 AND " BANK_OF_PROGRAM("comboBank"),
     {word(2), word(4)}, 2, true},
};
const Statement kBurnback[] = {
    {"UPDATE bank_combo SET comboBurnbackTime = ?2 WHERE comboNumber = ?1 AND " BANK_OF_PROGRAM("comboBank"),
     {word(2), word(4)}, 2, true},
};
// custom_process_load_struct: 1, program, combination, name.
const Statement kCustomProcess[] = {
    {"UPDATE bank_combo SET comboID = ?2, comboTag = ?3 WHERE comboNumber = ?1 AND " BANK_OF_PROGRAM("comboBank"),
     {word(2), word(4), text(6, 10)}, 3, true},
};
// manual_cal_struct: maximum WFS selected, the four calibration points, the
// manual calibration state.
const Statement kManualCal[] = {
    {"UPDATE autocal_variables SET maxWFS = ?1, minVCalPT = ?2, maxVCalPT = ?3, minWFSCalPT = ?4, maxWFSCalPT = ?5, "
     "manualCalState = ?6",
     {word(0), word(2), word(4), word(6), word(8), word(10)}, 6, true},
};
const Statement kRetractStart[] = {
    {"UPDATE retract_start_enable SET enable = ?2 WHERE seq_ID = ?1", {word(0), word(2)}, 2, true},
};

// Setter, record bytes, journal key and where it is read, statements.
const SetterRow kSetRetract = {"SetRetract", 6, "seq_id", word(0), STATEMENTS(kRetract)};
const SetterRow kSetSeqEnables = {"SetSeqEnables", 10, "seq_id", word(0), STATEMENTS(kSeqEnables)};
const SetterRow kSetPreflow = {"SetPreflow", 12, "seq_id", word(0), STATEMENTS(kPreflow)};
const SetterRow kSetStart = {"SetStart", 52, "seq_id", word(0), STATEMENTS(kStart)};
const SetterRow kSetWireWeight = {"SetWireWeight", 4, "feeder", key(), STATEMENTS(kWireWeight)};
const SetterRow kSetProcessInfo = {"SetBankComboProcessInfo", 24, "program", word(2), STATEMENTS(kProcessInfo)};
const SetterRow kSetCustomNameDesc = {"SetCustomNameDesc", 64, "program", word(0), STATEMENTS(kCustomNameDesc)};
const SetterRow kSetComboNumberChange = {"SetWeldListComboNumberChange", 4, "program", word(0),
                                         STATEMENTS(kComboNumberChange)};
const SetterRow kSetTriggerEnables = {"SetTriggerEnables", 4, "program", word(2), STATEMENTS(kTriggerEnables)};
const SetterRow kSetErrorEnables = {"SetErrorEnables", 4, "bank", word(0), STATEMENTS(kErrorEnables)};
const SetterRow kSetProcessEnables = {"SetProcessEnables", 4, "process", word(0), STATEMENTS(kProcessEnables)};
const SetterRow kSetAllEnables = {"SetAllEnables", 6, "active", word(2), STATEMENTS(kAllEnables)};
const SetterRow kSetDualAllEnables = {"SetDualAllEnables", 8, "active", word(2), STATEMENTS(kDualAllEnables)};
const SetterRow kSetWeldFileEnable = {"SetWeldFileEnable", 4, "program", word(0), STATEMENTS(kWeldFileEnable)};
const SetterRow kSetEncoderLock = {"SetEncoderLock", 4, "bank", word(0), STATEMENTS(kEncoderLock)};
const SetterRow kSetWeldCable = {"SetWeldCableConfigOnly", 18, "bank", key(), STATEMENTS(kWeldCable)};
const SetterRow kSetWireInfo = {"SetWeldWireInfo", 10, "bank", word(2), STATEMENTS(kWireInfo)};
const SetterRow kSetWireDate = {"SetWeldWireDate", 28, "feeder", key(), STATEMENTS(kWireDate)};
const SetterRow kSetRegion = {"SetRegion", 4, "region", word(0), STATEMENTS(kRegion)};
const SetterRow kSetRegionSet = {"SetRegionSet", 4, "region", word(0), STATEMENTS(kRegionSet)};
const SetterRow kSetAimSettings = {"SetAimSettingsInfo", 28, nullptr, key(), STATEMENTS(kAimSettings)};
const SetterRow kSetRobotMfg = {"SetRobotMfg", 4, "robot", word(0), STATEMENTS(kRobotMfg)};
const SetterRow kSetRobotMfgSet = {"SetRobotMfgSet", 4, "robot", word(0), STATEMENTS(kRobotMfgSet)};
const SetterRow kSetRunin = {"SetRuninWFS", 6, "program", word(2), STATEMENTS(kRunin)};
const SetterRow kSetBurnback = {"SetBurnBackTime", 6, "program", word(2), STATEMENTS(kBurnback)};
const SetterRow kSetCustomProcess = {"SetBankComboCustomProcessInfo", 16, "program", word(2),
                                     STATEMENTS(kCustomProcess)};
const SetterRow kSetManualCal = {"SetManualCal", 12, nullptr, key(), STATEMENTS(kManualCal)};
const SetterRow kSetRetractStart = {"SetRetractStartEnable", 4, "seq_id", word(0), STATEMENTS(kRetractStart)};

// The welder information page: welder_info_struct (asset number char[10],
// location char[32]) and service_date_struct (the local time), into the
// machine's first welder_information row.
#define FIRST_WELDER "entry = (SELECT min(entry) FROM welder_information)"
const Statement kWelderInfo[] = {
    {"UPDATE welder_information SET assetNumber = ?1, physicalLocation = ?2 WHERE " FIRST_WELDER,
     {text(0, 10), text(10, 32)}, 2, true},
};
const Statement kServiceDate[] = {
    {"UPDATE welder_information SET serviceDate = ?1 WHERE " FIRST_WELDER, {timeAt(0)}, 1, true},
};
const SetterRow kSetWelderInfo = {"SetWelderInfo", 42, nullptr, key(), STATEMENTS(kWelderInfo)};
const SetterRow kSetServiceDate = {"SetServiceDate", 16, nullptr, key(), STATEMENTS(kServiceDate)};

unsigned long numberAt(const unsigned char* record, const Bound& bound) {
  unsigned long value = 0;
  for (int k = bound.length - 1; k >= 0; --k) value = (value << 8) | record[bound.offset + k];
  return value;
}

quenta::BoundValue valueOf(const unsigned char* record, const Bound& bound, WORD keyArgument) {
  quenta::BoundValue value;
  switch (bound.kind) {
    case Bound::kKey:
      value.number = keyArgument;
      break;
    case Bound::kWord:
    case Bound::kDword:
      value.number = static_cast<int64_t>(numberAt(record, bound));
      break;
    case Bound::kText: {
      // Up to the terminator, never beyond the field.
      size_t length = 0;
      while (length < bound.length && record[bound.offset + length] != 0) ++length;
      value.isText = true;
      value.text.assign(reinterpret_cast<const char*>(record + bound.offset), length);
      break;
    }
    case Bound::kTime: {
      WORD t[8];
      for (int k = 0; k < 8; ++k) t[k] = static_cast<WORD>(numberAt(record, word(bound.offset + 2 * k)));
      char iso[64];
      std::snprintf(iso, sizeof iso, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t[0], t[1], t[3], t[4], t[5], t[6], t[7]);
      value.isText = true;
      value.text = iso;
      break;
    }
  }
  return value;
}

int runRecordSetter(const SetterRow& row, LPCWSTR viewName, DWORD_PTR* releaseHandle, WORD keyArgument) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[64] = {};
    bool found = sqlbridge::readSetterView(viewName, record, row.recordBytes);
    std::string arguments = "{}";
    if (row.keyName != nullptr) {
      WORD journalKey = row.keyFrom.kind == Bound::kKey ? keyArgument : static_cast<WORD>(numberAt(record, row.keyFrom));
      arguments = std::string("{\"") + row.keyName + "\":" + std::to_string(journalKey) + "}";
    }
    return sqlbridge::runSetter(row.name, viewName, arguments, record, found ? row.recordBytes : 0,
                                [&](quenta::SettingsStore& store) {
                                  if (!found) return 0;
                                  int count = 0;
                                  for (int s = 0; s < row.statementCount; ++s) {
                                    const Statement& statement = row.statements[s];
                                    std::vector<quenta::BoundValue> values;
                                    for (int v = 0; v < statement.valueCount; ++v) {
                                      values.push_back(valueOf(record, statement.values[v], keyArgument));
                                    }
                                    int changed = store.updateRows(statement.sql, values);
                                    if (changed < 0) return -1;
                                    if (statement.counted) count += changed;
                                  }
                                  return count;
                                });
  } catch (...) {
    return 0;
  }
}

}  // namespace

// The entry points, by the shape of their arguments: the record (and the
// address of its key) are the caller's copy and not read; a key by value goes
// to the statements.
#define WITH_RECORD(setter, row) \
  SQLBRIDGE_API int setter(LPVOID, LPCWSTR view, DWORD_PTR* release) { return runRecordSetter(row, view, release, 0); }
#define WITH_RECORD_AND_KEY(setter, row)                                      \
  SQLBRIDGE_API int setter(LPVOID, LPVOID, LPCWSTR view, DWORD_PTR* release) { \
    return runRecordSetter(row, view, release, 0);                              \
  }
#define WITH_KEY(setter, row)                                               \
  SQLBRIDGE_API int setter(WORD key, LPCWSTR view, DWORD_PTR* release) {    \
    return runRecordSetter(row, view, release, key);                        \
  }
#define VIEW_ONLY(setter, row) \
  SQLBRIDGE_API int setter(LPCWSTR view, DWORD_PTR* release) { return runRecordSetter(row, view, release, 0); }

WITH_RECORD(SetRetract, kSetRetract)
WITH_RECORD(SetSeqEnables, kSetSeqEnables)
WITH_RECORD(SetPreflow, kSetPreflow)
WITH_RECORD(SetStart, kSetStart)
WITH_KEY(SetWireWeight, kSetWireWeight)
WITH_RECORD_AND_KEY(SetBankComboProcessInfo, kSetProcessInfo)
WITH_RECORD(SetCustomNameDesc, kSetCustomNameDesc)
WITH_RECORD(SetWeldListComboNumberChange, kSetComboNumberChange)
WITH_RECORD(SetTriggerEnables, kSetTriggerEnables)
WITH_RECORD(SetErrorEnables, kSetErrorEnables)
WITH_RECORD(SetProcessEnables, kSetProcessEnables)
WITH_RECORD(SetAllEnables, kSetAllEnables)
WITH_RECORD(SetDualAllEnables, kSetDualAllEnables)
WITH_RECORD(SetWeldFileEnable, kSetWeldFileEnable)
WITH_RECORD(SetEncoderLock, kSetEncoderLock)
WITH_KEY(SetWeldCableConfigOnly, kSetWeldCable)
WITH_RECORD(SetWeldWireInfo, kSetWireInfo)
WITH_KEY(SetWeldWireDate, kSetWireDate)
WITH_RECORD(SetRegion, kSetRegion)
WITH_RECORD(SetRegionSet, kSetRegionSet)
VIEW_ONLY(SetAimSettingsInfo, kSetAimSettings)
WITH_RECORD(SetRobotMfg, kSetRobotMfg)
WITH_RECORD(SetRobotMfgSet, kSetRobotMfgSet)
WITH_RECORD_AND_KEY(SetRuninWFS, kSetRunin)
WITH_RECORD_AND_KEY(SetBurnBackTime, kSetBurnback)
WITH_RECORD_AND_KEY(SetBankComboCustomProcessInfo, kSetCustomProcess)
VIEW_ONLY(SetManualCal, kSetManualCal)
WITH_RECORD(SetRetractStartEnable, kSetRetractStart)
VIEW_ONLY(SetWelderInfo, kSetWelderInfo)
VIEW_ONLY(SetServiceDate, kSetServiceDate)
