#include "sqlbridge/RecordReaders.h"

#include <QuentaPlatform.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/SqlBridge.h"
#include "sqlbridge/StatementUse.h"
#include "sqlbridge/Views.h"

namespace quenta {
namespace {

RecordField W(const char* column, WORD offset) { return {column, kFieldWord, offset, 2}; }
RecordField D(const char* column, WORD offset) { return {column, kFieldDword, offset, 4}; }
RecordField S(const char* column, WORD offset, WORD bytes) { return {column, kFieldText, offset, bytes}; }
RecordField U(const char* column, WORD offset, WORD bytes) { return {column, kFieldWide, offset, bytes}; }
RecordField T(const char* column, WORD offset) { return {column, kFieldTime, offset, 16}; }

// The sequence state record of a weld stage (64 bytes; 2 and 48 to 57 unused).
const std::vector<RecordField> kSequenceState = {
    W("seq_ID", 0),         W("smart_enables", 4),  W("tbd_enables", 6),    W("simple_enables", 8),
    W("manual_enables", 10), W("volts", 12),         W("minVolts", 14),      W("maxVolts", 16),
    W("arcAdjust", 18),     W("minArcAdjust", 20),  W("maxArcAdjust", 22),  W("current", 24),
    W("minCurrent", 26),    W("maxCurrent", 28),    W("WFS", 30),           W("minWFS", 32),
    W("maxWFS", 34),        W("inductance", 36),    W("minInductance", 38), W("maxInductance", 40),
    W("arcControl", 42),    W("minArcControl", 44), W("maxArcControl", 46), W("time", 58),
    W("minTime", 60),       W("maxTime", 62)};
// The enables record: the same stage's first five words, packed.
const std::vector<RecordField> kEnables = {W("seq_ID", 0), W("smart_enables", 2), W("tbd_enables", 4),
                                           W("simple_enables", 6), W("manual_enables", 8)};
// The trigger words, then the preflow state as a sequence state record at 8.
const std::vector<RecordField> kTrigger = {
    W("sequencer", 0),       W("TDS", 2),         W("DS", 4),          W("TPS", 6),
    W("seq_ID", 8),          W("smart_enables", 12), W("tbd_enables", 14), W("simple_enables", 16),
    W("manual_enables", 18), W("time", 66),       W("minTime", 68),    W("maxTime", 70)};
const std::vector<RecordField> kCombination = {W("processID", 0), W("wiretypeID", 2), W("alloyID", 4),
                                               W("wiresizeID", 6), W("gasID", 8),     W("comboID", 10),
                                               W("refNumber", 12)};
const std::vector<RecordField> kEventLog = {T("time", 0), W("eventType", 22)};
const std::vector<RecordField> kBankConfig = {W("errorEnables", 4), W("gunLdLen", 6), W("gunLdWFS", 8),
                                              W("encoderLock", 10)};

// Selecting a stage of weld_stage by weld number.
RecordReader stage(const char* name, const char* value, WORD stride, const std::vector<RecordField>& fields) {
  return {name, "weld_stage", "stage", value, {"weldNumber"}, stride, 0, fields};
}

const std::vector<RecordReader> kRecordReaders = {
    stage("GetStartSequenceState", "'start'", 64, kSequenceState),
    stage("GetStartRampSequenceState", "'startRamp'", 64, kSequenceState),
    stage("GetWeldSequenceState", "'weld'", 64, kSequenceState),
    stage("GetWeldSequenceStateA", "'weldA'", 64, kSequenceState),
    stage("GetWeldSequenceStateB", "'weldB'", 64, kSequenceState),
    stage("GetCraterRampSequenceState", "'craterRamp'", 64, kSequenceState),
    stage("GetCraterSequenceState", "'crater'", 64, kSequenceState),
    stage("GetRetractSequenceState", "'retract'", 64, kSequenceState),
    stage("GetPostflowSequenceState", "'postflow'", 64, kSequenceState),
    stage("GetPreflowEnables", "'preflow'", 10, kEnables),
    stage("GetStartEnables", "'start'", 10, kEnables),
    stage("GetStartRampEnables", "'startRamp'", 10, kEnables),
    stage("GetCraterEnables", "'crater'", 10, kEnables),
    stage("GetCraterRampEnables", "'craterRamp'", 10, kEnables),
    stage("GetRetractEnables", "'retract'", 10, kEnables),
    stage("GetPostflowEnables", "'postflow'", 10, kEnables),
    {"GetProgramTriggerDataWithPreflowTimeA", "program_trigger", "schedule", "'A'", {"weldNumber"}, 72, 0, kTrigger},
    {"GetProgramTriggerDataWithPreflowTimeB", "program_trigger", "schedule", "'B'", {"weldNumber"}, 72, 0, kTrigger},
    {"GetWeldSeqWebPageProgInfo", "weld_program", nullptr, nullptr, {"weldNumber"}, 8, 0,
     {W("sequencer", 0), W("VorT", 2), W("INDorSA", 4), W("WFSorAMPS", 6)}},
    {"GetProcessCombinations", "process_combination", "metric", "0", {"machineSize"}, 14, 0, kCombination},
    {"GetMetricProcessCombinations", "process_combination", "metric", "1", {"machineSize"}, 14, 0, kCombination},
    {"GetProcessCombinationsSubset", "process_combination", nullptr, nullptr, {"subset", "machineSize", "metric"},
     14, 0, kCombination},
    {"GetComboID", "process_combination", "metric", "0",
     {"wiretypeID", "alloyID", "wiresizeID", "gasID", "processID"}, 14, 0,
     {W("comboID", 0), W("wireweight", 2), S("uimname", 4, 10)}},
    {"GetProgramDetail", "program", nullptr, nullptr, {"comboId"}, 616, 0,
     {S("author", 0, 32), S("gas", 32, 36), S("wireSize", 68, 20), S("alloy", 88, 20), S("metal", 108, 20),
      S("longName", 128, 32), T("time", 160), S("shortName", 176, 20), U("description", 196, 200),
      S("shortCustomName", 396, 20), U("customDescription", 416, 200)}},
    {"GetProcessSetupWebPageAlloys", "alloy", nullptr, nullptr, {}, 22, 0,
     {W("alloyID", 0), W("wiretypeID", 2), W("alloyIndex", 4), S("alloy", 6, 16)}},
    {"GetProcessSetupWebPageGases", "gas", nullptr, nullptr, {}, 38, 0, {W("gasID", 0), S("gas", 2, 36)}},
    {"GetProcessSetupWebPageWireTypes", "wire_type", nullptr, nullptr, {}, 22, 0,
     {W("wiretypeID", 0), S("metal", 2, 20)}},
    {"GetProcessSetupWebPageWireSizes", "wire_size", nullptr, nullptr, {}, 22, 0,
     {W("wiresizeID", 0), S("size", 2, 20)}},
    {"GetProcessSetupWebPageProcesses", "process", nullptr, nullptr, {}, 12, 0,
     {W("processID", 0), S("process", 2, 10)}},
    {"GetProcessesEnabled", "process", nullptr, nullptr, {"enabled"}, 2, 0, {W("processID", 0)}},
    {"GetWeldOneID", "weld_stage", "stage", "'weld'", {}, 16, 0,
     {W("seq_ID", 0), W("weldNumber", 2), W("volts", 4), W("arcAdjust", 6), W("current", 8), W("WFS", 10),
      W("inductance", 12), W("arcControl", 14)}},
    {"GetWeldCombinationNumbers", "weld_combination", nullptr, nullptr, {}, 4, 0,
     {W("weld_combo_number", 0), W("weld_number", 2)}},
    {"GetBankComboAll", "bank_combo", nullptr, nullptr, {}, 32, 0,
     {W("comboBank", 0), W("comboNumber", 2), W("comboID", 4), W("comboVoltsOrTrim", 6), W("comboIndOrSA", 8),
      W("comboWfsOrAmps", 10), W("comboAlloy", 12), W("comboWireWeight", 14), W("comboRunInWFS", 16),
      W("comboAdaptiveOnOff", 18), W("comboBurnbackTime", 20), S("comboTag", 22, 10)}},
    {"GetWeldConfigIDA", "weld_config", "schedule", "'A'", {"tps", "tds", "dualSchedule", "triggerMode"}, 2, 0,
     {W("weldConfigID", 0)}},
    {"GetWeldConfigIDB", "weld_config", "schedule", "'B'", {"tps", "tds", "dualSchedule", "triggerMode"}, 2, 0,
     {W("weldConfigID", 0)}},
    {"GetAllCustomPrograms", "program", nullptr, nullptr, {"custom"}, 70, 0,
     {W("comboId", 0), S("author", 2, 32), T("time", 34), S("shortName", 50, 20)}},
    {"GetCustomProgramShortName", "program", nullptr, nullptr, {"comboId"}, 240, 0,
     {S("shortName", 0, 20), S("shortCustomName", 20, 20), U("customDescription", 40, 200)}},
    // The system log: one log for the web forms and the machine; a page shows
    // the newest 500 entries, oldest first.
    {"GetSystemLog", "system_log", nullptr, nullptr, {}, 284, 500,
     {{"", kFieldLogTime, 0, 16}, W("eventType", 22), U("description", 24, 260)}},
    {"GetSystemLogNoBlob", "system_log", nullptr, nullptr, {}, 24, 500,
     {{"", kFieldLogTime, 0, 16}, W("eventType", 22)}},
    {"GetErrorLogNoBlob", "error_log", nullptr, nullptr, {}, 24, 500, kEventLog},
    {"GetSystemLogShortTermDataReset", "short_term_reset_log", nullptr, nullptr, {}, 24, 500, kEventLog},
    {"GetSecondaryLogNoBlob", "secondary_log", nullptr, nullptr, {}, 40, 500,
     {T("time", 0), D("torchVolts", 16), D("torchResistance", 20), D("secondaryVolts", 24), D("secondaryAmps", 28),
      D("secondaryResistance", 32), D("passFail", 36)}},
    {"GetAutoCalDoneLog", "autocal_log", nullptr, nullptr, {}, 24, 500, kEventLog},
    {"GetBankConfig", "bank_config", nullptr, nullptr, {"bankConfigID"}, 12, 0, kBankConfig},
    {"GetBankConfigBankTwo", "bank_config", nullptr, nullptr, {"bankConfigID"}, 12, 0, kBankConfig},
    {"GetWeldCableConfig", "weld_cable", nullptr, nullptr, {"bankNumber"}, 38, 0,
     {W("bankNumber", 0), W("torchID", 2), W("torchResistance", 4), S("torchName", 6, 20), W("studOrSense", 26),
      W("positiveLength", 28), W("positiveSize", 30), W("negativeLength", 32), W("negativeSize", 34),
      W("secondaryResistance", 36)}},
    {"GetTorchData", "torch", nullptr, nullptr, {}, 24, 0,
     {W("torchID", 0), W("torchResistance", 2), S("torchName", 4, 20)}},
    {"GetWebSpoolData", "spool", nullptr, nullptr, {"spoolBank"}, 28, 0,
     {W("spoolID", 0), W("spoolBank", 2), W("spoolWeight", 4), W("poundsUsed", 6), W("poundsLeft", 8),
      W("warningLevel", 10), T("spoolDate", 12)}},
    {"GetBankComboWeldTag", "bank_combo", nullptr, nullptr, {"comboBank"}, 12, 0,
     {W("comboNumber", 0), S("comboTag", 2, 10)}},
    {"GetWelderInformation", "welder_information", nullptr, nullptr, {}, 58, 0,
     {S("assetNumber", 0, 10), S("physicalLocation", 10, 32), T("serviceDate", 42)}},
    {"GetI2CInformation", "i2c_information", nullptr, nullptr, {}, 6, 0,
     {W("powerSourceSize", 0), W("powerSourceType", 2), W("setupOkay", 4)}},
    {"GetAimSettingsInfo", "aim_board_settings", nullptr, nullptr, {}, 26, 0,
     {D("robotIPAddr", 0), D("robotMask", 4), D("robotGateway", 8), W("robotMAC0", 12), W("robotMAC1", 14),
      W("robotMAC2", 16), W("robotMAC3", 18), W("robotMAC4", 20), W("robotMAC5", 22), W("robotStaticDynamic", 24)}},
    {"GetWeldListNumberTag", "weld_list", nullptr, nullptr, {"bankNumber"}, 4, 0,
     {W("weldNumber", 0), W("weldFileEnableStatus", 2)}},
    {"GetWeldListTouchStart", "weld_list", nullptr, nullptr, {"bankNumber"}, 4, 0,
     {W("weldNumber", 0), W("weldFileTouchStart", 2)}},
    {"GetAutoCalVariables", "autocal_variables", nullptr, nullptr, {}, 26, 0,
     {W("minV", 0), W("maxV", 2), W("minWFS", 4), W("maxWFS", 6), W("minVCalPT", 8), W("maxVCalPT", 10),
      W("minWFSCalPT", 12), W("maxWFSCalPT", 14), W("minVStatus", 16), W("maxVStatus", 18), W("minWFSStatus", 20),
      W("maxWFSStatus", 22), W("manualCalState", 24)}},
    {"GetRegionAll", "region", nullptr, nullptr, {}, 36, 0,
     {W("regionMetric", 0), W("regionCEProgram", 2), W("regionScaling", 4), W("regionLanguage", 6),
      W("regionSelected", 8), S("regionRegion", 10, 26)}},
    {"GetRobotMfgAll", "robot_manufacturer", nullptr, nullptr, {}, 30, 0,
     {W("robotID", 0), W("robotSelected", 2), S("robotName", 4, 26)}},
    {"GetWiFiEncryption", "wifi_encryption", nullptr, nullptr, {}, 14, 0,
     {W("encryptionID", 0), W("encryptionSelected", 2), S("encryptionType", 4, 10)}},
    {"GetWiFiAuthentication", "wifi_authentication", nullptr, nullptr, {}, 24, 0,
     {W("authenticationID", 0), W("authenticationSelected", 2), S("authenticationType", 4, 20)}},
    {"GetSoftwareList", "software", nullptr, nullptr, {}, 92, 0, {S("Name", 0, 82), S("Revision", 82, 10)}},
    {"GetSoftwarePartNumber", "software_part_number", nullptr, nullptr, {}, 4, 0, {D("Number", 0)}},
    {"GetFCCIDs", "fcc_id", nullptr, nullptr, {}, 102, 0, {W("Index", 0), U("Value", 2, 100)}},
    {"GetErrorList", "error_list", nullptr, nullptr, {}, 102, 0, {W("ID", 0), U("Description", 2, 100)}},
    {"GetVeyraCoreInfo", "veyra_core_info", nullptr, nullptr, {"core"}, 802, 0, {U("Value", 2, 800)}},
    {"GetWeldListTagDescAll", "weld_list", nullptr, nullptr, {"bankNumber"}, 22, 0,
     {W("weldNumber", 0), S("shortName", 2, 20)}},
};

const char* const kLogTimeColumns[] = {"wYear", "wMonth", "wDayOfWeek", "wDay",
                                       "wHour", "wMinute", "wSecond", "wMilliseconds"};

std::string quoted(const char* column) { return std::string("\"") + column + "\""; }

bool isKey(const RecordReader& reader, const char* column) {
  for (const char* key : reader.keys) {
    if (std::strcmp(key, column) == 0) return true;
  }
  return false;
}

// The columns of the fields, in field order; `writable` leaves out the key
// columns (the keys fill them).
std::vector<std::string> columnsOf(const RecordReader& reader, bool writable) {
  std::vector<std::string> columns;
  for (const RecordField& field : reader.fields) {
    if (field.kind == kFieldLogTime) {
      for (const char* column : kLogTimeColumns) columns.push_back(quoted(column));
    } else if (!writable || !isKey(reader, field.column)) {
      columns.push_back(quoted(field.column));
    }
  }
  return columns;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (size_t k = 0; k < parts.size(); ++k) text += (k ? separator : "") + parts[k];
  return text;
}

// The statements of one reader, made once; the store caches them prepared by
// the address of their text, which therefore never moves.
struct ReaderStatements {
  std::string select;  // the fields' columns of the selected rows, in order
  std::string rowids;  // the rowids of the same rows
  std::string update;  // ?1.. the writable columns, last the rowid
  std::string insert;  // ?1.. the keys, then the writable columns
  std::string remove;  // ?1 the rowid
};

ReaderStatements makeStatements(const RecordReader& reader) {
  std::string where = "1";
  if (reader.fixedColumn != nullptr) where += " AND " + quoted(reader.fixedColumn) + " = " + reader.fixedValue;
  for (size_t k = 0; k < reader.keys.size(); ++k) {
    where += " AND " + quoted(reader.keys[k]) + " = ?" + std::to_string(k + 1);
  }
  std::string table = quoted(reader.table);
  std::string rows = "FROM " + table + " WHERE " + where;
  if (reader.newest > 0) {
    // From the newest-th newest selected row on: read in rowid order with no
    // temporary table, where "rowid IN (... LIMIT newest)" built one a call.
    rows += " AND rowid >= COALESCE((SELECT rowid " + rows + " ORDER BY rowid DESC LIMIT 1 OFFSET " +
            std::to_string(reader.newest - 1) + "), -9223372036854775807 - 1)";
  }
  ReaderStatements s;
  s.select = "SELECT " + joined(columnsOf(reader, false), ", ") + " " + rows + " ORDER BY rowid";
  s.rowids = "SELECT rowid " + rows + " ORDER BY rowid";
  std::vector<std::string> writable = columnsOf(reader, true);
  std::vector<std::string> sets;
  std::vector<std::string> insertColumns;
  std::vector<std::string> values;
  if (reader.fixedColumn != nullptr) {
    insertColumns.push_back(quoted(reader.fixedColumn));
    values.push_back(reader.fixedValue);
  }
  for (size_t k = 0; k < reader.keys.size(); ++k) {
    insertColumns.push_back(quoted(reader.keys[k]));
    values.push_back("?" + std::to_string(k + 1));
  }
  for (size_t k = 0; k < writable.size(); ++k) {
    sets.push_back(writable[k] + " = ?" + std::to_string(k + 1));
    insertColumns.push_back(writable[k]);
    values.push_back("?" + std::to_string(reader.keys.size() + k + 1));
  }
  s.update = "UPDATE " + table + " SET " + joined(sets, ", ") + " WHERE rowid = ?" + std::to_string(writable.size() + 1);
  s.insert = "INSERT INTO " + table + " (" + joined(insertColumns, ", ") + ") VALUES (" + joined(values, ", ") + ")";
  s.remove = "DELETE FROM " + table + " WHERE rowid = ?1";
  return s;
}

const ReaderStatements& statementsOf(const RecordReader& reader) {
  static std::vector<ReaderStatements> all;
  static std::once_flag made;
  std::call_once(made, [] {
    for (const RecordReader& r : kRecordReaders) all.push_back(makeStatements(r));
  });
  return all[static_cast<size_t>(&reader - kRecordReaders.data())];
}

void putWord(char* record, size_t offset, unsigned value, size_t bytes) {
  for (size_t k = 0; k < bytes; ++k) record[offset + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
}
unsigned getWord(const std::string& record, size_t offset, size_t bytes) {
  unsigned value = 0;
  for (size_t k = 0; k < bytes; ++k) value |= static_cast<unsigned>(static_cast<unsigned char>(record[offset + k])) << (8 * k);
  return value;
}

// Sakamoto's rule: 0 is Sunday.
WORD dayOfWeek(int year, int month, int day) {
  static const int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 1 || month > 12) return 0;
  if (month < 3) year -= 1;
  return static_cast<WORD>((year + year / 4 - year / 100 + year / 400 + kMonthOffsets[month - 1] + day) % 7);
}

// "2024-03-07T08:15:00.000" as the eight words of a SYSTEMTIME; text that does
// not read as a time (fewer than the six numbers to the seconds) gives zeros.
// Read by hand: sscanf took an eighth of a whole log answer.
void packTime(char* record, size_t offset, const std::string& text) {
  static const char kAfter[] = "--T::.";  // what follows each number but the last
  unsigned numbers[7] = {0, 0, 0, 0, 0, 0, 0};
  const char* at = text.c_str();
  int count = 0;
  while (count < 7 && *at >= '0' && *at <= '9') {
    for (unsigned digits = 0; *at >= '0' && *at <= '9' && digits < 9; ++at, ++digits) {
      numbers[count] = numbers[count] * 10 + static_cast<unsigned>(*at - '0');
    }
    if (++count == 7 || *at != kAfter[count - 1]) break;
    ++at;
  }
  if (count < 6) return;
  const unsigned y = numbers[0], mo = numbers[1], d = numbers[2];
  const unsigned words[] = {y, mo, dayOfWeek(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d)), d,
                            numbers[3], numbers[4], numbers[5], numbers[6]};
  for (size_t k = 0; k < 8; ++k) putWord(record, offset + 2 * k, words[k] & 0xFFFF, 2);
}

std::string columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
}

// The current row of a select, packed into `record` (stride bytes, zeroed).
void packRow(const RecordReader& reader, sqlite3_stmt* stmt, char* record) {
  int column = 0;
  for (const RecordField& field : reader.fields) {
    switch (field.kind) {
      case kFieldWord:
      case kFieldDword:
        putWord(record, field.offset, static_cast<unsigned>(sqlite3_column_int64(stmt, column++)), field.bytes);
        break;
      case kFieldText: {
        const unsigned char* text = sqlite3_column_text(stmt, column);
        size_t length = static_cast<size_t>(sqlite3_column_bytes(stmt, column++));
        if (text != nullptr) std::memcpy(record + field.offset, text, std::min<size_t>(length, field.bytes));
        break;
      }
      case kFieldWide: {
        std::u16string text = widen(columnText(stmt, column++));
        size_t chars = std::min<size_t>(text.size(), field.bytes / 2);
        for (size_t k = 0; k < chars; ++k) putWord(record, field.offset + 2 * k, text[k], 2);
        break;
      }
      case kFieldTime:
        packTime(record, field.offset, columnText(stmt, column++));
        break;
      case kFieldLogTime:
        for (size_t k = 0; k < 8; ++k) {
          putWord(record, field.offset + 2 * k, static_cast<unsigned>(sqlite3_column_int64(stmt, column++)) & 0xFFFF, 2);
        }
        break;
    }
  }
}

// The writable columns of one packed record, bound from ?first on.
void bindRecord(const RecordReader& reader, sqlite3_stmt* stmt, int first, const std::string& record) {
  int index = first;
  for (const RecordField& field : reader.fields) {
    if (field.kind != kFieldLogTime && isKey(reader, field.column)) continue;
    switch (field.kind) {
      case kFieldWord:
      case kFieldDword:
        sqlite3_bind_int64(stmt, index++, getWord(record, field.offset, field.bytes));
        break;
      case kFieldText:
      case kFieldWide: {
        std::string text = RecordTables::textAt(record, field.offset, field.bytes, field.kind == kFieldWide);
        sqlite3_bind_text(stmt, index++, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
      }
      case kFieldTime: {
        std::string text = unpackTime(record, field.offset);
        sqlite3_bind_text(stmt, index++, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
      }
      case kFieldLogTime:
        // Stored as given, but for the day of the week, which follows the date.
        for (size_t k = 0; k < 8; ++k) {
          unsigned word = getWord(record, field.offset + 2 * k, 2);
          if (k == 2) {
            word = dayOfWeek(static_cast<int>(getWord(record, field.offset, 2)),
                             static_cast<int>(getWord(record, field.offset + 2, 2)),
                             static_cast<int>(getWord(record, field.offset + 6, 2)));
          }
          sqlite3_bind_int64(stmt, index++, word);
        }
        break;
    }
  }
}

void bindKeys(sqlite3_stmt* stmt, const RecordReader& reader, const long long* keys) {
  for (size_t k = 0; k < reader.keys.size(); ++k) sqlite3_bind_int64(stmt, static_cast<int>(k + 1), keys[k]);
}

}  // namespace

std::string unpackTime(const std::string& record, size_t offset) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", getWord(record, offset, 2),
                getWord(record, offset + 2, 2), getWord(record, offset + 6, 2), getWord(record, offset + 8, 2),
                getWord(record, offset + 10, 2), getWord(record, offset + 12, 2), getWord(record, offset + 14, 2));
  return text;
}

const std::vector<RecordReader>& RecordTables::readers() { return kRecordReaders; }

std::string RecordTables::textAt(const std::string& record, size_t offset, size_t bytes, bool wide) {
  if (!wide) {
    std::string text = record.substr(offset, bytes);
    return text.substr(0, std::strlen(text.c_str()));
  }
  std::u16string text;
  for (size_t k = 0; k < bytes / 2; ++k) {
    char16_t c = static_cast<char16_t>(getWord(record, offset + 2 * k, 2));
    if (c == 0) break;
    text += c;
  }
  return narrow(text);
}

const RecordReader* RecordTables::find(const std::string& name) {
  for (const RecordReader& reader : kRecordReaders) {
    if (name == reader.name) return &reader;
  }
  return nullptr;
}

bool RecordTables::read(SettingsStore& store, const RecordReader& reader, const long long* keys,
                        std::string* records) {
  // The question: which reader, with which keys.
  size_t index = static_cast<size_t>(&reader - kRecordReaders.data());
  std::string question = "r" + std::to_string(index);
  for (size_t k = 0; k < reader.keys.size(); ++k) question += "," + std::to_string(keys[k]);
  records->clear();
  return store.recall(question, records, [&store, &reader, keys](std::string* packed) {
    StatementUse use(store.statement(statementsOf(reader).select.c_str()));
    if (use.stmt == nullptr) return false;
    bindKeys(use.stmt, reader, keys);
    for (;;) {
      int rc = store.step(use.stmt);
      if (rc == SQLITE_DONE) return true;
      if (rc != SQLITE_ROW) return store.fail(rc);
      size_t at = packed->size();
      packed->append(reader.stride, '\0');
      packRow(reader, use.stmt, &(*packed)[at]);
    }
  });
}

bool RecordTables::load(SettingsStore& store, const RecordReader& reader, const long long* keys,
                        const std::string& records, std::string* error) {
  if (records.size() % reader.stride != 0) {
    *error = "records of " + std::to_string(reader.stride) + " bytes expected";
    return false;
  }
  const ReaderStatements& sql = statementsOf(reader);
  std::vector<long long> rowids;
  auto fail = [&]() {
    *error = store.lastError();
    store.rollback();
    return false;
  };
  if (!store.begin()) return fail();
  {
    StatementUse use(store.statement(sql.rowids.c_str()));
    if (use.stmt == nullptr) return fail();
    bindKeys(use.stmt, reader, keys);
    int rc;
    while ((rc = store.step(use.stmt)) == SQLITE_ROW) rowids.push_back(sqlite3_column_int64(use.stmt, 0));
    if (rc != SQLITE_DONE) {
      store.fail(rc);
      return fail();
    }
  }
  const size_t count = records.size() / reader.stride;
  const int writable = static_cast<int>(columnsOf(reader, true).size());
  for (size_t k = 0; k < count || k < rowids.size(); ++k) {
    const bool update = k < rowids.size() && k < count;
    const char* text = k >= count ? sql.remove.c_str() : update ? sql.update.c_str() : sql.insert.c_str();
    StatementUse use(store.statement(text));
    if (use.stmt == nullptr) return fail();
    std::string record = k < count ? records.substr(k * reader.stride, reader.stride) : std::string();
    if (k >= count) {
      sqlite3_bind_int64(use.stmt, 1, rowids[k]);
    } else if (update) {
      bindRecord(reader, use.stmt, 1, record);
      sqlite3_bind_int64(use.stmt, writable + 1, rowids[k]);
    } else {
      bindKeys(use.stmt, reader, keys);
      bindRecord(reader, use.stmt, static_cast<int>(reader.keys.size()) + 1, record);
    }
    if (!store.stepDone(use.stmt)) return fail();
  }
  if (!store.commit()) return fail();
  return true;
}

}  // namespace quenta

namespace {

// One reader call: the records for the keys go to the calling thread's view
// of that name. 0 (unavailable) for no rows or any failure.
int readRecords(const char* name, std::initializer_list<long long> keys, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    const quenta::RecordReader* reader = quenta::RecordTables::find(name);
    if (reader == nullptr || viewName == nullptr || releaseHandle == nullptr) return 0;
    quenta::SettingsStore* store = sqlbridge::threadStore(sqlbridge::Use::kRead);
    if (store == nullptr) return 0;
    // Kept from call to call on this thread, so a long log does not take
    // fresh pages from the system on every request.
    thread_local std::string records;
    if (!quenta::RecordTables::read(*store, *reader, keys.begin(), &records)) {
      sqlbridge::dropIfBroken(store);
      return 0;
    }
    if (records.empty() || !sqlbridge::publishRecords(viewName, records.data(), records.size(), releaseHandle)) {
      return 0;
    }
    return static_cast<int>(records.size() / reader->stride);
  } catch (...) {
    return 0;
  }
}

}  // namespace

#define READER0(name) \
  SQLBRIDGE_API int name(LPCWSTR v, DWORD_PTR* r) { return readRecords(#name, {}, v, r); }
#define READER1(name) \
  SQLBRIDGE_API int name(int a, LPCWSTR v, DWORD_PTR* r) { return readRecords(#name, {a}, v, r); }
#define READER3(name) \
  SQLBRIDGE_API int name(int a, int b, int c, LPCWSTR v, DWORD_PTR* r) { return readRecords(#name, {a, b, c}, v, r); }
#define READER4(name)                                                          \
  SQLBRIDGE_API int name(int a, int b, int c, int d, LPCWSTR v, DWORD_PTR* r) { \
    return readRecords(#name, {a, b, c, d}, v, r);                             \
  }
#define READER5(name)                                                                 \
  SQLBRIDGE_API int name(int a, int b, int c, int d, int e, LPCWSTR v, DWORD_PTR* r) { \
    return readRecords(#name, {a, b, c, d, e}, v, r);                                 \
  }
SQLBRIDGE_READERS(READER0, READER1, READER3, READER4, READER5)
