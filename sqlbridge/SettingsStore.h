// SettingsStore: one connection to the settings database, <root>/settings.db,
// with the typed operations that the bridge and the tools need. All SQL of the
// settings database lives behind this class; callers never write their own.
//
// A store is used by one thread at a time (the bridge keeps one per request
// thread). Several stores, in this and other processes, may use the same file
// at once: the database runs in WAL mode, so readers never wait for a writer,
// and writers wait up to kBusyTimeoutMs for each other before giving up.
//
// Nothing is thrown. Operations report failure by their result; lastError()
// and lastErrorCode() then hold SQLite's text and result code, and
// connectionBroken() tells whether the connection should be dropped and opened
// again (the file was replaced, became corrupt or could not be read).
#ifndef QUENTA_SQLBRIDGE_SETTINGSSTORE_H_
#define QUENTA_SQLBRIDGE_SETTINGSSTORE_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sqlbridge/ChangeWatch.h"

struct sqlite3;
struct sqlite3_stmt;

#define SETTINGS_STORE_API __attribute__((visibility("default")))

namespace quenta {

// One row of `bank_config`: the configuration of wire-feed bank 1 or 2.
struct BankConfigRow {
  WORD bankConfigID = 0;
  WORD errorEnables = 0;
  WORD gunLdLen = 0;
  WORD gunLdWFS = 0;
  WORD encoderLock = 0;
};

// One row of `system_log`. `id` is assigned by the database when appended.
struct SystemLogRow {
  int64_t id = 0;
  SYSTEMTIME time = {};
  WORD first = 0;
  WORD second = 0;
  WORD third = 0;
  WORD eventType = 0;
  std::string description;  // UTF-8
};

// One row of `journal`: a setter call of the bridge. `id` and `time` are
// assigned by the database when appended.
struct JournalRow {
  int64_t id = 0;
  std::string time;       // ISO 8601, UTC, milliseconds: 2024-03-07T08:15:00.123Z
  std::string setter;     // "SetPCode"
  std::string view;       // "SetPCodeView"
  std::string arguments;  // a JSON object of the key arguments: {"pcode":602,"value":1234}
  std::string record;     // the record read from the view, lower-case hex
  int count = 0;          // records updated, as returned to the caller
};

// A value bound to a record setter's statement: a number or a UTF-8 text.
struct BoundValue {
  bool isText = false;
  int64_t number = 0;
  std::string text;
};

class SETTINGS_STORE_API SettingsStore {
 public:
  enum Result { kFound, kMissing, kFailed };

  static constexpr int kBusyTimeoutMs = 2000;
  // Answers a connection keeps for reading again (questions and answers, in
  // bytes; all of them are dropped when the next would pass it). Every record
  // file's answer fits but the full system log's (500 entries of 284 bytes),
  // which is read afresh; 16 request threads keep at most 1 MiB.
  static constexpr size_t kKnownBytes = 64 * 1024;
  static constexpr int kSchemaVersion = 2;

  SettingsStore();
  ~SettingsStore();

  // "<root>/settings.db".
  static std::string databasePath(const std::string& root);

  // Opens the database file. Without create a missing file is a failure:
  // a device without its database is one whose settings are unavailable.
  // The file is checked on open (a file that is not a database fails here).
  bool open(const std::string& path, bool create);
  void close();
  bool isOpen() const { return db != nullptr; }

  // Creates every table that is missing, in one transaction. Idempotent.
  bool createSchema();

  // Parameter codes.
  Result getPCode(WORD code, WORD* value);
  // Changes an existing row only: 1 when it was there, 0 when not, -1 on failure.
  int updatePCode(WORD code, WORD value);
  // Inserts or, with overwrite, replaces a row. Without overwrite an existing
  // value is kept (and that is a success).
  bool putPCode(WORD code, WORD value, bool overwrite);
  bool listPCodes(std::vector<std::pair<WORD, WORD>>* rows);

  // Bank configuration.
  Result getBankConfig(WORD bankConfigID, BankConfigRow* row);
  // Torch length and load of one bank: rows changed (0 or 1), -1 on failure.
  int updateGunLoad(WORD bankConfigID, WORD gunLdLen, WORD gunLdWFS);
  bool putBankConfig(const BankConfigRow& row, bool overwrite);

  // The system log, oldest first.
  bool appendSystemLog(const SystemLogRow& row);
  bool readSystemLog(std::vector<SystemLogRow>* rows);

  // One statement of a record setter (its SQL lives with the setter, in
  // RecordSetters.cpp), values bound as ?1, ?2, ...: rows changed, -1 on failure.
  int updateRows(const char* sql, const std::vector<BoundValue>& values);
  // The tables of the record setters that no data file reads (SetterTables.cpp):
  // created with the schema, their fixed rows with it; seedSetterTables() adds
  // a row for each weld program and retract stage stored, keeping what is there.
  bool createSetterTables();
  bool seedSetterTables();

  // The setter journal, oldest first.
  bool appendJournal(const JournalRow& row);
  bool readJournal(std::vector<JournalRow>* rows);

  // One write transaction: BEGIN IMMEDIATE takes the write lock at once (or
  // waits for it up to the busy time-out).
  bool begin();
  bool commit();
  void rollback();

  const std::string& lastError() const { return errorText; }
  int lastErrorCode() const { return errorCode; }
  // The last failure means this connection can no longer be trusted.
  bool connectionBroken() const;

 private:
  // The record readers (RecordReaders.cpp) run their own statements.
  friend class RecordTables;
  // So do the Wi-Fi and Veyra core setters (NetworkSetters.cpp).
  friend class NetworkSettings;

  sqlite3_stmt* statement(const char* sql);
  // A read that may be answered from memory: `question` names what is read
  // (which statement, with which arguments) and `read` reads it from the
  // file. While nothing was committed to the file since the same question
  // was last read, its answer is given again without asking SQLite.
  bool recall(const std::string& question, std::string* answer, const std::function<bool(std::string*)>& read);
  Result readPCode(WORD code, WORD* value);
  // Runs every statement of `sql`; with firstValue, keeps the first column of
  // the first row that any of them gives.
  bool execute(const char* sql, std::string* firstValue = nullptr);
  bool fail(int code);
  static int waitWhileBusy(void* unused, int calls);
  int step(sqlite3_stmt* stmt);
  bool stepDone(sqlite3_stmt* stmt);

  sqlite3* db;
  // Prepared statements of this connection, keyed by the address of their
  // (static) SQL text.
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements;
  std::string errorText;
  int errorCode;
  bool broken;

  // Answers read while the WAL index header read `known` (see ChangeWatch),
  // and their size in bytes, held to kKnownBytes.
  ChangeWatch watch;
  ChangeWatch::Mark known;
  std::unordered_map<std::string, std::string> answers;
  size_t answerBytes;

  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;
};

}  // namespace quenta

#endif  // QUENTA_SQLBRIDGE_SETTINGSSTORE_H_
