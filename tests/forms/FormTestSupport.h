// Helpers for the form handler tests: a device root with the card's pages, a
// settings database holding the parameters the forms write, the journal of
// setter calls, and the events in the system-log mailbox.
#ifndef QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_
#define QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_

#include <stdlib.h>

#include <QuentaPlatform.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "links/DbLogMailbox.h"
#include "sqlbridge/SettingsStore.h"

namespace formtest {

struct Event {
  WORD code;
  WORD arg1;
  WORD arg2;
  WORD arg3;
  bool operator==(const Event& other) const {
    return code == other.code && arg1 == other.arg1 && arg2 == other.arg2 && arg3 == other.arg3;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Event& event) {
  return out << "(" << event.code << "," << event.arg1 << "," << event.arg2 << "," << event.arg3 << ")";
}

struct JournalEntry {
  std::string setter;
  std::string view;
  std::string arguments;
  std::string record;
  int count;
  bool operator==(const JournalEntry& other) const {
    return setter == other.setter && view == other.view && arguments == other.arguments && record == other.record &&
           count == other.count;
  }
};

inline std::ostream& operator<<(std::ostream& out, const JournalEntry& row) {
  return out << row.setter << " " << row.view << " " << row.arguments << " " << row.record << " " << row.count;
}

// The parameter codes the four forms write, with the values a demo machine has.
const std::pair<WORD, WORD> kFormPCodes[] = {
    {118, 250}, {149, 0},   {190, 2000}, {390, 1500}, {391, 227}, {392, 350}, {615, 3000},
    {624, 50},  {625, 700}, {626, 25},   {627, 300},  {628, 2500}, {650, 35},
};

class FormRoot {
 public:
  // withBanks false: the bank configuration rows are missing, so gun-load
  // writes update nothing.
  explicit FormRoot(bool withBanks = true) {
    char pattern[] = "/tmp/quenta-forms-XXXXXX";
    if (mkdtemp(pattern) != nullptr) rootPath = pattern;
    std::error_code ignored;
    std::filesystem::create_directories(webRoot(), ignored);
    std::filesystem::copy(QUENTA_SOURCE_DIR "/card", webRoot(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing,
                          ignored);
    std::filesystem::create_directories(rootPath + "/Temp", ignored);
    setenv("QUENTA_ROOT", rootPath.c_str(), 1);
    quenta::SettingsStore store;
    ready = store.open(quenta::SettingsStore::databasePath(rootPath), true) && store.createSchema();
    for (const auto& code : kFormPCodes) ready = ready && store.putPCode(code.first, code.second, true);
    for (WORD bank = 1; withBanks && bank <= 2; ++bank) {
      quenta::BankConfigRow row;
      row.bankConfigID = bank;
      row.gunLdLen = 10;
      row.gunLdWFS = 20;
      ready = ready && store.putBankConfig(row, true);
    }
  }
  ~FormRoot() {
    quenta::removeNamedObjects(nullptr);
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    if (!rootPath.empty()) std::filesystem::remove_all(rootPath, ignored);
  }

  bool ok() const { return ready; }
  const std::string& path() const { return rootPath; }
  std::string webRoot() const { return rootPath + "/MMCMemory/www/wwwpub"; }

  std::string page(const std::string& relative) const {
    std::ifstream in(webRoot() + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<JournalEntry> journal() const {
    quenta::SettingsStore store;
    std::vector<quenta::JournalRow> rows;
    std::vector<JournalEntry> entries;
    if (!store.open(quenta::SettingsStore::databasePath(rootPath), false) || !store.readJournal(&rows)) return entries;
    for (const quenta::JournalRow& row : rows) {
      entries.push_back({row.setter, row.view, row.arguments, row.record, row.count});
    }
    return entries;
  }

  WORD pcode(WORD code) const {
    quenta::SettingsStore store;
    WORD value = 0;
    if (store.open(quenta::SettingsStore::databasePath(rootPath), false)) store.getPCode(code, &value);
    return value;
  }

  quenta::BankConfigRow bank(WORD id) const {
    quenta::SettingsStore store;
    quenta::BankConfigRow row;
    if (store.open(quenta::SettingsStore::databasePath(rootPath), false)) store.getBankConfig(id, &row);
    return row;
  }

  std::vector<quenta::SystemLogRow> systemLog() const {
    quenta::SettingsStore store;
    std::vector<quenta::SystemLogRow> rows;
    if (store.open(quenta::SettingsStore::databasePath(rootPath), false)) store.readSystemLog(&rows);
    return rows;
  }

  // The unread events of the mailbox, oldest first (nothing is taken out).
  std::vector<Event> events() const {
    std::vector<Event> unread;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                       DB_LOG_BLOCK_SIZE, DB_LOG_MAPPING);
    if (mapping == nullptr) return unread;
    BYTE* block = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (block != nullptr) {
      WORD head = dbLogWord(block, DB_LOG_HEAD_OFFSET);
      for (WORD slot = dbLogWord(block, DB_LOG_TAIL_OFFSET); slot != head; slot = (slot + 1) & 63) {
        unread.push_back({dbLogWord(block, DB_LOG_CODE_OFFSET + 2 * slot),
                          dbLogWord(block, DB_LOG_ARG1_OFFSET + 2 * slot),
                          dbLogWord(block, DB_LOG_ARG2_OFFSET + 2 * slot),
                          dbLogWord(block, DB_LOG_ARG3_OFFSET + 2 * slot)});
      }
      UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
    return unread;
  }

 private:
  std::string rootPath;
  bool ready = false;
};

// The journal row of one parameter write that found its code.
inline JournalEntry pcodeRow(WORD code, WORD value, int count = 1) {
  char record[9];
  snprintf(record, sizeof record, "%02x%02x%02x%02x", value & 0xFF, value >> 8, code & 0xFF, code >> 8);
  return {"SetPCode", "SetPCodeView",
          "{\"pcode\":" + std::to_string(code) + ",\"value\":" + std::to_string(value) + "}", record, count};
}

inline JournalEntry gunLoadRow(WORD side, WORD length, WORD load, int count = 1) {
  char record[13];
  snprintf(record, sizeof record, "%02x%02x%02x%02x%02x%02x", side & 0xFF, side >> 8, length & 0xFF, length >> 8,
           load & 0xFF, load >> 8);
  return {"SetGunLoad", "SetGunLoadView", "{\"side\":" + std::to_string(side) + "}", record, count};
}

}  // namespace formtest

#endif  // QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_
