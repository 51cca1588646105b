#include "sqlbridge/SettingsStore.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>

#include "sqlbridge/StatementUse.h"

namespace quenta {
namespace {

// The pause before a statement that met SQLITE_BUSY without waiting is tried
// again; the retries end with the busy time-out.
const useconds_t kBusyRetryPauseUs = 10000;

// The schema. Every table is named after what it holds and every column after
// the member the system knows it by; values of 16-bit words are checked to fit.
// "first", "second" and "third" are quoted: they read like keywords.
#define WORD_COLUMN(name) #name " INTEGER NOT NULL DEFAULT 0 CHECK (" #name " BETWEEN 0 AND 65535)"
#define DWORD_COLUMN(name) #name " INTEGER NOT NULL DEFAULT 0 CHECK (" #name " BETWEEN 0 AND 4294967295)"
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS pcode (\n"
    "  code INTEGER PRIMARY KEY CHECK (code BETWEEN 0 AND 65535),\n"
    "  value INTEGER NOT NULL CHECK (value BETWEEN 0 AND 65535));\n"
    "CREATE TABLE IF NOT EXISTS bank_config (\n"
    "  bankConfigID INTEGER PRIMARY KEY CHECK (bankConfigID BETWEEN 0 AND 65535),\n"
    "  errorEnables INTEGER NOT NULL DEFAULT 0 CHECK (errorEnables BETWEEN 0 AND 65535),\n"
    "  gunLdLen INTEGER NOT NULL DEFAULT 0 CHECK (gunLdLen BETWEEN 0 AND 65535),\n"
    "  gunLdWFS INTEGER NOT NULL DEFAULT 0 CHECK (gunLdWFS BETWEEN 0 AND 65535),\n"
    "  encoderLock INTEGER NOT NULL DEFAULT 0 CHECK (encoderLock BETWEEN 0 AND 65535));\n"
    "CREATE TABLE IF NOT EXISTS system_log (\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  wYear INTEGER NOT NULL,\n"
    "  wMonth INTEGER NOT NULL,\n"
    "  wDayOfWeek INTEGER NOT NULL,\n"
    "  wDay INTEGER NOT NULL,\n"
    "  wHour INTEGER NOT NULL,\n"
    "  wMinute INTEGER NOT NULL,\n"
    "  wSecond INTEGER NOT NULL,\n"
    "  wMilliseconds INTEGER NOT NULL,\n"
    "  \"first\" INTEGER NOT NULL DEFAULT 0,\n"
    "  \"second\" INTEGER NOT NULL DEFAULT 0,\n"
    "  \"third\" INTEGER NOT NULL DEFAULT 0,\n"
    "  eventType INTEGER NOT NULL,\n"
    "  description TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS journal (\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  time TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),\n"
    "  setter TEXT NOT NULL,\n"
    "  view TEXT NOT NULL,\n"
    "  arguments TEXT NOT NULL DEFAULT '{}',\n"
    "  record TEXT NOT NULL DEFAULT '',\n"
    "  count INTEGER NOT NULL);\n"
    // The record tables of the data files. `entry` keeps each list in the
    // order it was stored; the other columns are the members of the records
    // the readers pack (docs/settings-database.md says which reader selects
    // which rows). Times are ISO 8601 local time with milliseconds.
    "CREATE TABLE IF NOT EXISTS weld_stage (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(weldNumber) ",\n"
    "  stage TEXT NOT NULL CHECK (stage IN ('preflow', 'start', 'startRamp', 'weld', 'weldA', 'weldB', 'craterRamp', 'crater', 'retract', 'postflow')),\n"
    "  " WORD_COLUMN(seq_ID) ",\n"
    "  " WORD_COLUMN(smart_enables) ",\n"
    "  " WORD_COLUMN(tbd_enables) ",\n"
    "  " WORD_COLUMN(simple_enables) ",\n"
    "  " WORD_COLUMN(manual_enables) ",\n"
    "  " WORD_COLUMN(volts) ",\n"
    "  " WORD_COLUMN(minVolts) ",\n"
    "  " WORD_COLUMN(maxVolts) ",\n"
    "  " WORD_COLUMN(arcAdjust) ",\n"
    "  " WORD_COLUMN(minArcAdjust) ",\n"
    "  " WORD_COLUMN(maxArcAdjust) ",\n"
    "  " WORD_COLUMN(current) ",\n"
    "  " WORD_COLUMN(minCurrent) ",\n"
    "  " WORD_COLUMN(maxCurrent) ",\n"
    "  " WORD_COLUMN(WFS) ",\n"
    "  " WORD_COLUMN(minWFS) ",\n"
    "  " WORD_COLUMN(maxWFS) ",\n"
    "  " WORD_COLUMN(inductance) ",\n"
    "  " WORD_COLUMN(minInductance) ",\n"
    "  " WORD_COLUMN(maxInductance) ",\n"
    "  " WORD_COLUMN(arcControl) ",\n"
    "  " WORD_COLUMN(minArcControl) ",\n"
    "  " WORD_COLUMN(maxArcControl) ",\n"
    "  " WORD_COLUMN(time) ",\n"
    "  " WORD_COLUMN(minTime) ",\n"
    "  " WORD_COLUMN(maxTime) ");\n"
    "CREATE TABLE IF NOT EXISTS program_trigger (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(weldNumber) ",\n"
    "  schedule TEXT NOT NULL CHECK (schedule IN ('A', 'B')),\n"
    "  " WORD_COLUMN(sequencer) ",\n"
    "  " WORD_COLUMN(TDS) ",\n"
    "  " WORD_COLUMN(DS) ",\n"
    "  " WORD_COLUMN(TPS) ",\n"
    "  " WORD_COLUMN(seq_ID) ",\n"
    "  " WORD_COLUMN(smart_enables) ",\n"
    "  " WORD_COLUMN(tbd_enables) ",\n"
    "  " WORD_COLUMN(simple_enables) ",\n"
    "  " WORD_COLUMN(manual_enables) ",\n"
    "  " WORD_COLUMN(time) ",\n"
    "  " WORD_COLUMN(minTime) ",\n"
    "  " WORD_COLUMN(maxTime) ");\n"
    "CREATE TABLE IF NOT EXISTS weld_program (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(weldNumber) ",\n"
    "  " WORD_COLUMN(sequencer) ",\n"
    "  " WORD_COLUMN(VorT) ",\n"
    "  " WORD_COLUMN(INDorSA) ",\n"
    "  " WORD_COLUMN(WFSorAMPS) ");\n"
    "CREATE TABLE IF NOT EXISTS process_combination (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(machineSize) ",\n"
    "  " WORD_COLUMN(metric) ",\n"
    "  " WORD_COLUMN(subset) ",\n"
    "  " WORD_COLUMN(processID) ",\n"
    "  " WORD_COLUMN(wiretypeID) ",\n"
    "  " WORD_COLUMN(alloyID) ",\n"
    "  " WORD_COLUMN(wiresizeID) ",\n"
    "  " WORD_COLUMN(gasID) ",\n"
    "  " WORD_COLUMN(comboID) ",\n"
    "  " WORD_COLUMN(refNumber) ",\n"
    "  " WORD_COLUMN(wireweight) ",\n"
    "  uimname TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS program (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(comboId) ",\n"
    "  " WORD_COLUMN(custom) ",\n"
    "  author TEXT NOT NULL DEFAULT '',\n"
    "  gas TEXT NOT NULL DEFAULT '',\n"
    "  wireSize TEXT NOT NULL DEFAULT '',\n"
    "  alloy TEXT NOT NULL DEFAULT '',\n"
    "  metal TEXT NOT NULL DEFAULT '',\n"
    "  longName TEXT NOT NULL DEFAULT '',\n"
    "  time TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000',\n"
    "  shortName TEXT NOT NULL DEFAULT '',\n"
    "  description TEXT NOT NULL DEFAULT '',\n"
    "  shortCustomName TEXT NOT NULL DEFAULT '',\n"
    "  customDescription TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS alloy (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(alloyID) ",\n"
    "  " WORD_COLUMN(wiretypeID) ",\n"
    "  " WORD_COLUMN(alloyIndex) ",\n"
    "  alloy TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS gas (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(gasID) ",\n"
    "  gas TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS wire_type (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(wiretypeID) ",\n"
    "  metal TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS wire_size (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(wiresizeID) ",\n"
    "  size TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS process (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(processID) ",\n"
    "  process TEXT NOT NULL DEFAULT '',\n"
    "  " WORD_COLUMN(enabled) ");\n"
    "CREATE TABLE IF NOT EXISTS weld_combination (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(weld_combo_number) ",\n"
    "  " WORD_COLUMN(weld_number) ");\n"
    "CREATE TABLE IF NOT EXISTS bank_combo (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(comboBank) ",\n"
    "  " WORD_COLUMN(comboNumber) ",\n"
    "  " WORD_COLUMN(comboID) ",\n"
    "  " WORD_COLUMN(comboVoltsOrTrim) ",\n"
    "  " WORD_COLUMN(comboIndOrSA) ",\n"
    "  " WORD_COLUMN(comboWfsOrAmps) ",\n"
    "  " WORD_COLUMN(comboAlloy) ",\n"
    "  " WORD_COLUMN(comboWireWeight) ",\n"
    "  " WORD_COLUMN(comboRunInWFS) ",\n"
    "  " WORD_COLUMN(comboAdaptiveOnOff) ",\n"
    "  " WORD_COLUMN(comboBurnbackTime) ",\n"
    "  comboTag TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS weld_config (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  schedule TEXT NOT NULL CHECK (schedule IN ('A', 'B')),\n"
    "  " WORD_COLUMN(tps) ",\n"
    "  " WORD_COLUMN(tds) ",\n"
    "  " WORD_COLUMN(dualSchedule) ",\n"
    "  " WORD_COLUMN(triggerMode) ",\n"
    "  " WORD_COLUMN(weldConfigID) ");\n"
    "CREATE TABLE IF NOT EXISTS error_log (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  time TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000',\n"
    "  " WORD_COLUMN(eventType) ");\n"
    "CREATE TABLE IF NOT EXISTS secondary_log (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  time TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000',\n"
    "  " DWORD_COLUMN(torchVolts) ",\n"
    "  " DWORD_COLUMN(torchResistance) ",\n"
    "  " DWORD_COLUMN(secondaryVolts) ",\n"
    "  " DWORD_COLUMN(secondaryAmps) ",\n"
    "  " DWORD_COLUMN(secondaryResistance) ",\n"
    "  " DWORD_COLUMN(passFail) ");\n"
    "CREATE TABLE IF NOT EXISTS short_term_reset_log (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  time TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000',\n"
    "  " WORD_COLUMN(eventType) ");\n"
    "CREATE TABLE IF NOT EXISTS autocal_log (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  time TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000',\n"
    "  " WORD_COLUMN(eventType) ");\n"
    "CREATE TABLE IF NOT EXISTS weld_cable (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(bankNumber) ",\n"
    "  " WORD_COLUMN(torchID) ",\n"
    "  " WORD_COLUMN(torchResistance) ",\n"
    "  torchName TEXT NOT NULL DEFAULT '',\n"
    "  " WORD_COLUMN(studOrSense) ",\n"
    "  " WORD_COLUMN(positiveLength) ",\n"
    "  " WORD_COLUMN(positiveSize) ",\n"
    "  " WORD_COLUMN(negativeLength) ",\n"
    "  " WORD_COLUMN(negativeSize) ",\n"
    "  " WORD_COLUMN(secondaryResistance) ");\n"
    "CREATE TABLE IF NOT EXISTS torch (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(torchID) ",\n"
    "  " WORD_COLUMN(torchResistance) ",\n"
    "  torchName TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS spool (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(spoolID) ",\n"
    "  " WORD_COLUMN(spoolBank) ",\n"
    "  " WORD_COLUMN(spoolWeight) ",\n"
    "  " WORD_COLUMN(poundsUsed) ",\n"
    "  " WORD_COLUMN(poundsLeft) ",\n"
    "  " WORD_COLUMN(warningLevel) ",\n"
    "  spoolDate TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000');\n"
    "CREATE TABLE IF NOT EXISTS welder_information (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  assetNumber TEXT NOT NULL DEFAULT '',\n"
    "  physicalLocation TEXT NOT NULL DEFAULT '',\n"
    "  serviceDate TEXT NOT NULL DEFAULT '2000-01-01T00:00:00.000');\n"
    "CREATE TABLE IF NOT EXISTS i2c_information (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(powerSourceSize) ",\n"
    "  " WORD_COLUMN(powerSourceType) ",\n"
    "  " WORD_COLUMN(setupOkay) ");\n"
    "CREATE TABLE IF NOT EXISTS aim_board_settings (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " DWORD_COLUMN(robotIPAddr) ",\n"
    "  " DWORD_COLUMN(robotMask) ",\n"
    "  " DWORD_COLUMN(robotGateway) ",\n"
    "  " WORD_COLUMN(robotMAC0) ",\n"
    "  " WORD_COLUMN(robotMAC1) ",\n"
    "  " WORD_COLUMN(robotMAC2) ",\n"
    "  " WORD_COLUMN(robotMAC3) ",\n"
    "  " WORD_COLUMN(robotMAC4) ",\n"
    "  " WORD_COLUMN(robotMAC5) ",\n"
    "  " WORD_COLUMN(robotStaticDynamic) ");\n"
    "CREATE TABLE IF NOT EXISTS weld_list (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(bankNumber) ",\n"
    "  " WORD_COLUMN(weldNumber) ",\n"
    "  " WORD_COLUMN(weldFileEnableStatus) ",\n"
    "  " WORD_COLUMN(weldFileTouchStart) ",\n"
    "  shortName TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS autocal_variables (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(minV) ",\n"
    "  " WORD_COLUMN(maxV) ",\n"
    "  " WORD_COLUMN(minWFS) ",\n"
    "  " WORD_COLUMN(maxWFS) ",\n"
    "  " WORD_COLUMN(minVCalPT) ",\n"
    "  " WORD_COLUMN(maxVCalPT) ",\n"
    "  " WORD_COLUMN(minWFSCalPT) ",\n"
    "  " WORD_COLUMN(maxWFSCalPT) ",\n"
    "  " WORD_COLUMN(minVStatus) ",\n"
    "  " WORD_COLUMN(maxVStatus) ",\n"
    "  " WORD_COLUMN(minWFSStatus) ",\n"
    "  " WORD_COLUMN(maxWFSStatus) ",\n"
    "  " WORD_COLUMN(manualCalState) ");\n"
    "CREATE TABLE IF NOT EXISTS region (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(regionMetric) ",\n"
    "  " WORD_COLUMN(regionCEProgram) ",\n"
    "  " WORD_COLUMN(regionScaling) ",\n"
    "  " WORD_COLUMN(regionLanguage) ",\n"
    "  " WORD_COLUMN(regionSelected) ",\n"
    "  regionRegion TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS robot_manufacturer (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(robotID) ",\n"
    "  " WORD_COLUMN(robotSelected) ",\n"
    "  robotName TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS wifi_encryption (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(encryptionID) ",\n"
    "  " WORD_COLUMN(encryptionSelected) ",\n"
    "  encryptionType TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS wifi_authentication (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(authenticationID) ",\n"
    "  " WORD_COLUMN(authenticationSelected) ",\n"
    "  authenticationType TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS software (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  Name TEXT NOT NULL DEFAULT '',\n"
    "  Revision TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS software_part_number (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " DWORD_COLUMN(Number) ");\n"
    "CREATE TABLE IF NOT EXISTS fcc_id (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  \"Index\" INTEGER NOT NULL DEFAULT 0 CHECK (\"Index\" BETWEEN 0 AND 65535),\n"
    "  Value TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS error_list (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(ID) ",\n"
    "  Description TEXT NOT NULL DEFAULT '');\n"
    "CREATE TABLE IF NOT EXISTS veyra_core_info (\n"
    "  entry INTEGER PRIMARY KEY,\n"
    "  " WORD_COLUMN(core) ",\n"
    "  Value TEXT NOT NULL DEFAULT '');\n"
    "PRAGMA user_version = 2;";

const char kBegin[] = "BEGIN IMMEDIATE";
const char kCommit[] = "COMMIT";
const char kRollback[] = "ROLLBACK";

const char kGetPCode[] = "SELECT value FROM pcode WHERE code = ?1";
const char kUpdatePCode[] = "UPDATE pcode SET value = ?2 WHERE code = ?1";
const char kReplacePCode[] =
    "INSERT INTO pcode (code, value) VALUES (?1, ?2) "
    "ON CONFLICT (code) DO UPDATE SET value = excluded.value";
const char kInsertPCode[] =
    "INSERT INTO pcode (code, value) VALUES (?1, ?2) ON CONFLICT (code) DO NOTHING";
const char kListPCodes[] = "SELECT code, value FROM pcode ORDER BY code";

const char kGetBankConfig[] =
    "SELECT errorEnables, gunLdLen, gunLdWFS, encoderLock FROM bank_config "
    "WHERE bankConfigID = ?1";
const char kUpdateGunLoad[] =
    "UPDATE bank_config SET gunLdLen = ?2, gunLdWFS = ?3 WHERE bankConfigID = ?1";
// The welder information is the table's first row, as its reader answers it.
const char kReplaceBankConfig[] =
    "INSERT INTO bank_config (bankConfigID, errorEnables, gunLdLen, gunLdWFS, encoderLock) "
    "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (bankConfigID) DO UPDATE SET "
    "errorEnables = excluded.errorEnables, gunLdLen = excluded.gunLdLen, "
    "gunLdWFS = excluded.gunLdWFS, encoderLock = excluded.encoderLock";
const char kInsertBankConfig[] =
    "INSERT INTO bank_config (bankConfigID, errorEnables, gunLdLen, gunLdWFS, encoderLock) "
    "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (bankConfigID) DO NOTHING";

const char kAppendSystemLog[] =
    "INSERT INTO system_log (wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, "
    "wMilliseconds, \"first\", \"second\", \"third\", eventType, description) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)";
const char kReadSystemLog[] =
    "SELECT id, wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds, "
    "\"first\", \"second\", \"third\", eventType, description FROM system_log ORDER BY id";

const char kAppendJournal[] =
    "INSERT INTO journal (setter, view, arguments, record, count) VALUES (?1, ?2, ?3, ?4, ?5)";
const char kReadJournal[] =
    "SELECT id, time, setter, view, arguments, record, count FROM journal ORDER BY id";

// A stored word outside 0..65535 can only come from a hand edit that dropped
// the CHECK constraints; it is reported, not truncated.
bool columnWord(sqlite3_stmt* stmt, int column, WORD* out) {
  if (sqlite3_column_type(stmt, column) != SQLITE_INTEGER) return false;
  sqlite3_int64 value = sqlite3_column_int64(stmt, column);
  if (value < 0 || value > 65535) return false;
  *out = static_cast<WORD>(value);
  return true;
}

std::string columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

void bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

SettingsStore::SettingsStore() : db(nullptr), errorCode(SQLITE_OK), broken(false), known(), answerBytes(0) {}

SettingsStore::~SettingsStore() { close(); }

std::string SettingsStore::databasePath(const std::string& root) {
  std::string path = root;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path != "/") path += '/';
  return path + "settings.db";
}

bool SettingsStore::open(const std::string& path, bool create) {
  close();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    fail(rc);
    broken = true;
    if (db != nullptr) sqlite3_close(db);
    db = nullptr;
    return false;
  }
  sqlite3_busy_handler(db, &SettingsStore::waitWhileBusy, nullptr);
  // Reading the journal mode reads the file's header, so a file that is not a
  // database fails here rather than on the first query. WAL is kept in the
  // file once set; setting it again costs nothing. The answer is the mode the
  // file is in: a file that cannot take WAL (on a read-only medium) stays in
  // its own, and then every read goes to SQLite.
  std::string mode;
  if (!execute("PRAGMA journal_mode = WAL", &mode)) {
    broken = true;
    std::string text = errorText;
    int code = errorCode;
    close();
    errorText = text;
    errorCode = code;
    return false;
  }
  // In WAL mode a first read opens the WAL index, where the watch finds the
  // header it reads.
  if (mode == "wal" && execute("PRAGMA schema_version")) watch.attach(db);
  return true;
}

void SettingsStore::close() {
  watch.detach();
  answers.clear();
  answerBytes = 0;
  for (auto& entry : statements) sqlite3_finalize(entry.second);
  statements.clear();
  if (db != nullptr) sqlite3_close(db);
  db = nullptr;
}

bool SettingsStore::fail(int code) {
  errorCode = code;
  errorText = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  int primary = code & 0xFF;
  broken = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR ||
           primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY || primary == SQLITE_PERM ||
           primary == SQLITE_NOMEM;
  return false;
}

bool SettingsStore::connectionBroken() const { return broken; }

sqlite3_stmt* SettingsStore::statement(const char* sql) {
  if (db == nullptr) {
    errorCode = SQLITE_MISUSE;
    errorText = "settings database not open";
    broken = true;
    return nullptr;
  }
  for (auto& entry : statements) {
    if (entry.first == sql) return entry.second;
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    fail(rc);
    // A statement that does not prepare means the file lacks the schema (or
    // has another one): drop the connection and look again next time.
    broken = true;
    sqlite3_finalize(stmt);
    return nullptr;
  }
  statements.emplace_back(sql, stmt);
  return stmt;
}

bool SettingsStore::execute(const char* sql, std::string* firstValue) {
  if (db == nullptr) {
    errorCode = SQLITE_MISUSE;
    errorText = "settings database not open";
    return false;
  }
  auto keepFirst = [](void* target, int columns, char** values, char**) {
    auto* text = static_cast<std::string*>(target);
    if (text->empty() && columns > 0 && values[0] != nullptr) *text = values[0];
    return 0;
  };
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql, firstValue != nullptr ? +keepFirst : nullptr, firstValue, &message);
  if (rc != SQLITE_OK) {
    fail(rc);
    if (message != nullptr) errorText = message;
    sqlite3_free(message);
    return false;
  }
  return true;
}

// SQLite in WAL mode can answer SQLITE_BUSY at once, without waiting in its
// busy handler (seen here about once in 10,000 writes from four threads and
// another connection: a writer meeting the log being restarted by another).
// A statement that is its own transaction, or that begins one, is then tried
// again until the busy time-out has passed since its first step, so a lock
// held longer than that still ends the call after one wait. Inside an open
// transaction the answer stands: the transaction has to be rolled back.
// SQLite's own busy time-out sleeps in growing steps up to 100 ms, so a
// connection waiting beside writers that take the lock for microseconds at a
// time can miss every free moment for the whole time-out. Short, even pauses
// give it a fair chance.
int SettingsStore::waitWhileBusy(void*, int calls) {
  if (calls >= kBusyTimeoutMs) return 0;
  usleep(1000);
  return 1;
}

int SettingsStore::step(sqlite3_stmt* stmt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_step(stmt);
    if ((rc & 0xFF) != SQLITE_BUSY || !sqlite3_get_autocommit(db) ||
        std::chrono::steady_clock::now() >= deadline) {
      return rc;
    }
    sqlite3_reset(stmt);
    usleep(kBusyRetryPauseUs);
  }
}

bool SettingsStore::stepDone(sqlite3_stmt* stmt) {
  int rc = step(stmt);
  if (rc != SQLITE_DONE) return fail(rc);
  return true;
}

bool SettingsStore::createSchema() {
  if (!begin()) return false;
  if (!execute(kSchema) || !createSetterTables()) {
    rollback();
    return false;
  }
  return commit();
}

bool SettingsStore::recall(const std::string& question, std::string* answer,
                           const std::function<bool(std::string*)>& read) {
  // The mark is read before the file, so a commit while reading makes the
  // next mark differ. Inside this connection's own transaction the header
  // does not show its writes yet: no answer is kept or given there.
  ChangeWatch::Mark now;
  bool marked = db != nullptr && sqlite3_get_autocommit(db) && watch.read(&now);
  if (marked) {
    if (!(now == known)) {
      answers.clear();
      answerBytes = 0;
      known = now;
    }
    auto entry = answers.find(question);
    if (entry != answers.end()) {
      *answer = entry->second;
      return true;
    }
  }
  if (!read(answer)) return false;
  if (marked) {
    if (answerBytes + question.size() + answer->size() > kKnownBytes) {
      answers.clear();
      answerBytes = 0;
    }
    if (question.size() + answer->size() <= kKnownBytes) {
      answers.emplace(question, *answer);
      answerBytes += question.size() + answer->size();
    }
  }
  return true;
}

SettingsStore::Result SettingsStore::getPCode(WORD code, WORD* value) {
  // The answer is the value's two bytes, or none when the code is missing.
  const char question[] = {'p', static_cast<char>(code & 0xFF), static_cast<char>(code >> 8)};
  std::string answer;
  bool read = recall(std::string(question, sizeof question), &answer, [this, code](std::string* text) {
    WORD word = 0;
    Result result = readPCode(code, &word);
    if (result == kFailed) return false;
    if (result == kFound) text->assign({static_cast<char>(word & 0xFF), static_cast<char>(word >> 8)});
    return true;
  });
  if (!read) return kFailed;
  if (answer.empty()) return kMissing;
  *value = static_cast<WORD>(static_cast<unsigned char>(answer[0]) | static_cast<unsigned char>(answer[1]) << 8);
  return kFound;
}

SettingsStore::Result SettingsStore::readPCode(WORD code, WORD* value) {
  StatementUse use(statement(kGetPCode));
  if (use.stmt == nullptr) return kFailed;
  sqlite3_bind_int(use.stmt, 1, code);
  int rc = step(use.stmt);
  if (rc == SQLITE_DONE) return kMissing;
  if (rc != SQLITE_ROW) {
    fail(rc);
    return kFailed;
  }
  WORD word = 0;
  if (!columnWord(use.stmt, 0, &word)) {
    errorCode = SQLITE_MISMATCH;
    errorText = "stored value is not a 16-bit word";
    broken = false;
    return kFailed;
  }
  *value = word;
  return kFound;
}

int SettingsStore::updatePCode(WORD code, WORD value) {
  StatementUse use(statement(kUpdatePCode));
  if (use.stmt == nullptr) return -1;
  sqlite3_bind_int(use.stmt, 1, code);
  sqlite3_bind_int(use.stmt, 2, value);
  if (!stepDone(use.stmt)) return -1;
  return sqlite3_changes(db);
}

bool SettingsStore::putPCode(WORD code, WORD value, bool overwrite) {
  StatementUse use(statement(overwrite ? kReplacePCode : kInsertPCode));
  if (use.stmt == nullptr) return false;
  sqlite3_bind_int(use.stmt, 1, code);
  sqlite3_bind_int(use.stmt, 2, value);
  return stepDone(use.stmt);
}

bool SettingsStore::listPCodes(std::vector<std::pair<WORD, WORD>>* rows) {
  rows->clear();
  StatementUse use(statement(kListPCodes));
  if (use.stmt == nullptr) return false;
  for (;;) {
    int rc = step(use.stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return fail(rc);
    WORD code = 0;
    WORD value = 0;
    if (columnWord(use.stmt, 0, &code) && columnWord(use.stmt, 1, &value)) {
      rows->emplace_back(code, value);
    }
  }
}

SettingsStore::Result SettingsStore::getBankConfig(WORD bankConfigID, BankConfigRow* row) {
  StatementUse use(statement(kGetBankConfig));
  if (use.stmt == nullptr) return kFailed;
  sqlite3_bind_int(use.stmt, 1, bankConfigID);
  int rc = step(use.stmt);
  if (rc == SQLITE_DONE) return kMissing;
  if (rc != SQLITE_ROW) {
    fail(rc);
    return kFailed;
  }
  BankConfigRow read;
  read.bankConfigID = bankConfigID;
  if (!columnWord(use.stmt, 0, &read.errorEnables) || !columnWord(use.stmt, 1, &read.gunLdLen) ||
      !columnWord(use.stmt, 2, &read.gunLdWFS) || !columnWord(use.stmt, 3, &read.encoderLock)) {
    errorCode = SQLITE_MISMATCH;
    errorText = "stored value is not a 16-bit word";
    broken = false;
    return kFailed;
  }
  *row = read;
  return kFound;
}

int SettingsStore::updateGunLoad(WORD bankConfigID, WORD gunLdLen, WORD gunLdWFS) {
  StatementUse use(statement(kUpdateGunLoad));
  if (use.stmt == nullptr) return -1;
  sqlite3_bind_int(use.stmt, 1, bankConfigID);
  sqlite3_bind_int(use.stmt, 2, gunLdLen);
  sqlite3_bind_int(use.stmt, 3, gunLdWFS);
  if (!stepDone(use.stmt)) return -1;
  return sqlite3_changes(db);
}

bool SettingsStore::putBankConfig(const BankConfigRow& row, bool overwrite) {
  StatementUse use(statement(overwrite ? kReplaceBankConfig : kInsertBankConfig));
  if (use.stmt == nullptr) return false;
  sqlite3_bind_int(use.stmt, 1, row.bankConfigID);
  sqlite3_bind_int(use.stmt, 2, row.errorEnables);
  sqlite3_bind_int(use.stmt, 3, row.gunLdLen);
  sqlite3_bind_int(use.stmt, 4, row.gunLdWFS);
  sqlite3_bind_int(use.stmt, 5, row.encoderLock);
  return stepDone(use.stmt);
}

bool SettingsStore::appendSystemLog(const SystemLogRow& row) {
  StatementUse use(statement(kAppendSystemLog));
  if (use.stmt == nullptr) return false;
  const SYSTEMTIME& t = row.time;
  const WORD words[] = {t.wYear,   t.wMonth,  t.wDayOfWeek,    t.wDay,
                        t.wHour,   t.wMinute, t.wSecond,       t.wMilliseconds,
                        row.first, row.second, row.third,      row.eventType};
  for (int k = 0; k < 12; ++k) sqlite3_bind_int(use.stmt, k + 1, words[k]);
  bindText(use.stmt, 13, row.description);
  return stepDone(use.stmt);
}

bool SettingsStore::readSystemLog(std::vector<SystemLogRow>* rows) {
  rows->clear();
  StatementUse use(statement(kReadSystemLog));
  if (use.stmt == nullptr) return false;
  for (;;) {
    int rc = step(use.stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return fail(rc);
    SystemLogRow row;
    row.id = sqlite3_column_int64(use.stmt, 0);
    WORD* words[] = {&row.time.wYear,   &row.time.wMonth,  &row.time.wDayOfWeek,
                     &row.time.wDay,    &row.time.wHour,   &row.time.wMinute,
                     &row.time.wSecond, &row.time.wMilliseconds, &row.first,
                     &row.second,       &row.third,        &row.eventType};
    for (int k = 0; k < 12; ++k) columnWord(use.stmt, k + 1, words[k]);
    row.description = columnText(use.stmt, 13);
    rows->push_back(row);
  }
}

bool SettingsStore::appendJournal(const JournalRow& row) {
  StatementUse use(statement(kAppendJournal));
  if (use.stmt == nullptr) return false;
  bindText(use.stmt, 1, row.setter);
  bindText(use.stmt, 2, row.view);
  bindText(use.stmt, 3, row.arguments.empty() ? std::string("{}") : row.arguments);
  bindText(use.stmt, 4, row.record);
  sqlite3_bind_int(use.stmt, 5, row.count);
  return stepDone(use.stmt);
}

bool SettingsStore::readJournal(std::vector<JournalRow>* rows) {
  rows->clear();
  StatementUse use(statement(kReadJournal));
  if (use.stmt == nullptr) return false;
  for (;;) {
    int rc = step(use.stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return fail(rc);
    JournalRow row;
    row.id = sqlite3_column_int64(use.stmt, 0);
    row.time = columnText(use.stmt, 1);
    row.setter = columnText(use.stmt, 2);
    row.view = columnText(use.stmt, 3);
    row.arguments = columnText(use.stmt, 4);
    row.record = columnText(use.stmt, 5);
    row.count = sqlite3_column_int(use.stmt, 6);
    rows->push_back(row);
  }
}

bool SettingsStore::begin() {
  StatementUse use(statement(kBegin));
  if (use.stmt == nullptr) return false;
  return stepDone(use.stmt);
}

bool SettingsStore::commit() {
  StatementUse use(statement(kCommit));
  if (use.stmt == nullptr) return false;
  return stepDone(use.stmt);
}

void SettingsStore::rollback() {
  if (db == nullptr || sqlite3_get_autocommit(db)) return;
  StatementUse use(statement(kRollback));
  if (use.stmt != nullptr) step(use.stmt);
}

}  // namespace quenta
