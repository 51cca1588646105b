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

const char kSeedSetterTables[] =
    "INSERT OR IGNORE INTO program_weld_config (weldNumber) SELECT DISTINCT weldNumber FROM weld_list;\n"
    "INSERT OR IGNORE INTO retract_start_enable (seq_ID) "
    "SELECT DISTINCT seq_ID FROM weld_stage WHERE stage = 'retract';\n";

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
