// The tables of the record setters whose records no data file reads, and the
// generic statement the record setters run.
#include <sqlite3.h>

#include "sqlbridge/SettingsStore.h"

namespace quenta {
namespace {

// Every machine has two wire feeders, a region and a robot maker taken up.
// The weld configuration of each program and the retract-start switch of each
// retract stage get their rows from seedSetterTables().
const char kSetterSchema[] =
    "CREATE TABLE IF NOT EXISTS feeder_wire_weight (\n"
    "  feeder INTEGER PRIMARY KEY CHECK (feeder BETWEEN 0 AND 65535),\n"
    "  wireWeight INTEGER NOT NULL DEFAULT 0 CHECK (wireWeight BETWEEN 0 AND 65535));\n"
    "CREATE TABLE IF NOT EXISTS program_weld_config (\n"
    "  weldNumber INTEGER PRIMARY KEY CHECK (weldNumber BETWEEN 0 AND 65535),\n"
    "  weldConfigID INTEGER NOT NULL DEFAULT 0 CHECK (weldConfigID BETWEEN 0 AND 65535));\n"
    "CREATE TABLE IF NOT EXISTS retract_start_enable (\n"
    "  seq_ID INTEGER PRIMARY KEY CHECK (seq_ID BETWEEN 0 AND 65535),\n"
    "  enable INTEGER NOT NULL DEFAULT 0 CHECK (enable BETWEEN 0 AND 65535));\n"
    "CREATE TABLE IF NOT EXISTS applied_selection (\n"
    "  name TEXT PRIMARY KEY,\n"
    "  selection INTEGER NOT NULL DEFAULT 0 CHECK (selection BETWEEN 0 AND 65535));\n"
    "INSERT OR IGNORE INTO feeder_wire_weight (feeder) VALUES (1), (2);\n"
    "INSERT OR IGNORE INTO applied_selection (name) VALUES ('region'), ('robotManufacturer');\n";

// A machine that lists its processes has the nine that the process-enables
// page switches, by the numbers of their bits in parameter 732.
const char kSeedSetterTables[] =
    "INSERT OR IGNORE INTO program_weld_config (weldNumber) SELECT DISTINCT weldNumber FROM weld_list;\n"
    "INSERT OR IGNORE INTO retract_start_enable (seq_ID) "
    "SELECT DISTINCT seq_ID FROM weld_stage WHERE stage = 'retract';\n"
    "INSERT INTO process (processID, process, enabled) "
    "SELECT v.column1, v.column2, 0 FROM (VALUES (0, 'MIG'), (1, 'Solvane'), (2, 'Brev'), (3, 'Pulse'), "
    "(5, 'Stick'), (6, 'CAC'), (8, 'Torvane'), (11, 'Brev S'), (15, 'Lindrel')) AS v "
    "WHERE EXISTS (SELECT 1 FROM process) AND NOT EXISTS (SELECT 1 FROM process WHERE processID = v.column1);\n";

}  // namespace

bool SettingsStore::createSetterTables() { return execute(kSetterSchema); }

bool SettingsStore::seedSetterTables() {
  if (!begin()) return false;
  if (!execute(kSeedSetterTables)) {
    rollback();
    return false;
  }
  return commit();
}

int SettingsStore::updateRows(const char* sql, const std::vector<BoundValue>& values) {
  sqlite3_stmt* stmt = statement(sql);
  if (stmt == nullptr) return -1;
  int index = 1;
  for (const BoundValue& value : values) {
    if (value.isText) {
      sqlite3_bind_text(stmt, index++, value.text.data(), static_cast<int>(value.text.size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(stmt, index++, value.number);
    }
  }
  bool done = stepDone(stmt);
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return done ? sqlite3_changes(db) : -1;
}

}  // namespace quenta
