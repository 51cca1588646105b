// A device root with the card's pages and a settings database holding the
// parameters the forms write; the journal and unread mailbox events as text.
#ifndef QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_
#define QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_

#include <stdlib.h>

#include <QuentaPlatform.h>

#include <string>
#include <vector>

#include "forms/PostResponse.h"
#include "frame/Registry.h"
#include "links/DbLogMailbox.h"
#include "sqlbridge/SettingsStore.h"
#include "tests/support/FakeEcb.h"
#include "tests/support/TestRoot.h"

namespace formtest {

// The handler the registry makes for a form path; null when it serves none.
inline PostResponse* formFor(const std::string& path) {
  for (const FormEntry& entry : kForms) {
    if (path == entry.path) return createForm(entry);
  }
  return nullptr;
}

// The card page a form answers with, relative to the web root, as the registry names it.
inline std::string pageOf(const std::string& path) {
  const std::u16string prefix = u"\\MMCMemory\\www\\wwwpub\\";
  for (const FormEntry& entry : kForms) {
    SafeWString file = formPageFile(entry);
    if (path != entry.path || file.c_str() == nullptr) continue;
    std::string page;
    for (char16_t c : std::u16string(file.c_str()).substr(prefix.size())) page += c == u'\\' ? '/' : char(c);
    return page;
  }
  return "";
}

// The answer's text to `body` posted to `form`, read `readSize` bytes at a time.
inline std::string postBody(PostResponse* form, const std::string& contentType, const std::string& body,
                            DWORD readSize) {
  FakeEcb fake("POST", "/form");
  fake.setBody(contentType, body, 0, readSize);
  SafeCString* answer = form->post(fake.ecb());
  return answer != nullptr && answer->c_str() != nullptr ? std::string(answer->c_str(), answer->getLength()) : "";
}

class FormRoot {
 public:
  // withBanks false: no bank configuration rows, so gun-load writes update nothing.
  explicit FormRoot(bool withBanks = true) {
    setenv("QUENTA_ROOT", root.path().c_str(), 1);
    quenta::SettingsStore store;
    ready = store.open(quenta::SettingsStore::databasePath(root.path()), true) && store.createSchema();
    // The parameter codes the four forms write, with the values a demo machine has.
    const std::pair<WORD, WORD> codes[] = {{118, 250}, {149, 0},   {190, 2000}, {390, 1500}, {391, 227},
                                           {392, 350}, {615, 3000}, {624, 50},   {625, 700},  {626, 25},
                                           {627, 300}, {628, 2500}, {650, 35}};
    for (const auto& code : codes) ready = ready && store.putPCode(code.first, code.second, true);
    for (WORD bank = 1; withBanks && bank <= 2; ++bank) {
      quenta::BankConfigRow row;
      row.bankConfigID = bank;
      row.gunLdLen = 10;
      row.gunLdWFS = 20;
      ready = ready && store.putBankConfig(row, true);
    }
    // The records the other forms change: weld program 1 with stages 10 to 18,
    // gun B's preflow 20, programs 1 and 2 of bank 1, three weld files, the
    // nine processes, two spools, two regions, two robot makers.
    const char* const records[] = {
        "INSERT INTO pcode (code, value) VALUES (101, 0), (117, 0), (125, 0), (136, 1), (139, 1), (603, 9), "
        "(604, 9), (631, 9), (632, 9), (635, 9), (636, 9), (638, 0), (639, 0), (640, 9), (641, 9), (642, 9), "
        "(643, 9), (644, 9), (645, 9), (651, 1), (652, 0), (653, 0), (654, 0), (655, 0), (656, 1), (657, 5), "
        "(660, 1), (665, 0), (732, 0)",
        "INSERT INTO weld_stage (weldNumber, stage, seq_ID) VALUES (1, 'preflow', 10), (1, 'start', 11), "
        "(1, 'startRamp', 12), (1, 'weld', 13), (1, 'retract', 17), (1, 'postflow', 18)",
        "INSERT INTO program_trigger (weldNumber, schedule, seq_ID) VALUES (1, 'A', 10), (1, 'B', 20)",
        "INSERT INTO bank_combo (comboBank, comboNumber) VALUES (1, 1), (1, 2)",
        "INSERT INTO weld_program (weldNumber) VALUES (1), (2)",
        "INSERT INTO weld_list (bankNumber, weldNumber) VALUES (1, 1), (1, 2), (1, 3)",
        "INSERT INTO program (comboId) VALUES (1)",
        "INSERT INTO weld_combination (weld_combo_number, weld_number) VALUES (1, 1)",
        "INSERT INTO process (processID) VALUES (0), (1), (2), (3), (5), (6), (8), (11), (15)",
        "INSERT INTO weld_cable (bankNumber) VALUES (1)",
        "INSERT INTO spool (spoolBank) VALUES (1), (2)",
        "INSERT INTO region (entry, regionRegion) VALUES (1, 'North America'), (2, 'Europe')",
        "INSERT INTO robot_manufacturer (robotID, robotName) VALUES (1, 'Fanuc'), (2, 'Motoman')",
        "INSERT INTO aim_board_settings (robotIPAddr) VALUES (0)",
        "INSERT INTO autocal_variables (minV) VALUES (0)",
    };
    for (const char* sql : records) ready = ready && store.updateRows(sql, {}) > 0;
    ready = ready && store.seedSetterTables();
  }
  ~FormRoot() { unsetenv("QUENTA_ROOT"); }

  bool ok() const { return ready; }
  std::string page(const std::string& relative) const { return root.readFile("MMCMemory/www/wwwpub/" + relative); }

  // "setter view arguments record count", oldest first. The device clock in a
  // record is written "{time}"; a system-log text record as "log".
  std::vector<std::string> journal() const {
    std::vector<quenta::JournalRow> rows;
    std::vector<std::string> lines;
    if (open(&store)) store.readJournal(&rows);
    for (quenta::JournalRow& row : rows) {
      if (row.setter == "SetSystemLog") row.record = "log";
      if (row.setter == "SetWeldWireDate" && row.record.size() == 56) row.record.replace(20, 32, "{time}");
      lines.push_back(row.setter + " " + row.view + " " + row.arguments + " " + row.record + " " +
                      std::to_string(row.count));
    }
    return lines;
  }
  WORD pcode(WORD code) const {
    WORD value = 0;
    if (open(&store)) store.getPCode(code, &value);
    return value;
  }
  quenta::BankConfigRow bank(WORD id) const {
    quenta::BankConfigRow row;
    if (open(&store)) store.getBankConfig(id, &row);
    return row;
  }
  std::vector<quenta::SystemLogRow> systemLog() const {
    std::vector<quenta::SystemLogRow> rows;
    if (open(&store)) store.readSystemLog(&rows);
    return rows;
  }

  // The mailbox's unread events as "code,arg1,arg2,arg3", oldest first; none is taken out.
  std::vector<std::string> events() const {
    std::vector<std::string> unread;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                        DB_LOG_BLOCK_SIZE, DB_LOG_MAPPING);
    if (mapping == nullptr) return unread;
    BYTE* block = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (block != nullptr) {
      WORD head = dbLogWord(block, DB_LOG_HEAD_OFFSET);
      for (WORD slot = dbLogWord(block, DB_LOG_TAIL_OFFSET); slot != head; slot = (slot + 1) & 63) {
        std::string event;
        for (DWORD offset : {DB_LOG_CODE_OFFSET, DB_LOG_ARG1_OFFSET, DB_LOG_ARG2_OFFSET, DB_LOG_ARG3_OFFSET}) {
          event += (event.empty() ? "" : ",") + std::to_string(dbLogWord(block, offset + 2 * slot));
        }
        unread.push_back(event);
      }
      UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
    return unread;
  }

 private:
  // A fresh connection per read, as each one sees what the forms committed.
  bool open(quenta::SettingsStore* into) const {
    into->close();
    return into->open(quenta::SettingsStore::databasePath(root.path()), false);
  }
  TestRoot root;
  mutable quenta::SettingsStore store;
  bool ready = false;
};

// The journal row of one parameter write; the record is the little-endian
// value then code.
inline std::string pcodeRow(WORD code, WORD value, int count = 1) {
  char record[9];
  snprintf(record, sizeof record, "%02x%02x%02x%02x", value & 0xFF, value >> 8, code & 0xFF, code >> 8);
  return "SetPCode SetPCodeView {\"pcode\":" + std::to_string(code) + ",\"value\":" + std::to_string(value) + "} " +
         record + " " + std::to_string(count);
}

inline std::string gunLoadRow(WORD side, WORD length, WORD load, int count = 1) {
  char record[13];
  snprintf(record, sizeof record, "%02x%02x%02x%02x%02x%02x", side & 0xFF, side >> 8, length & 0xFF, length >> 8,
           load & 0xFF, load >> 8);
  return "SetGunLoad SetGunLoadView {\"side\":" + std::to_string(side) + "} " + record + " " + std::to_string(count);
}

}  // namespace formtest

#endif  // QUENTA_TESTS_FORMS_FORMTESTSUPPORT_H_
