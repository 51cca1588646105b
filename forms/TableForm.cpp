#include "forms/TableForm.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

void putWord(BYTE* record, DWORD offset, WORD word) {
  record[offset] = static_cast<BYTE>(word & 0xFF);
  record[offset + 1] = static_cast<BYTE>(word >> 8);
}

// A 32-bit address written as one decimal number: its low 32 bits, truncated
// toward zero (NaN and infinities give 0).
DWORD lowDword(double number) {
  if (!std::isfinite(number)) return 0;
  double remainder = std::fmod(std::trunc(number), 4294967296.0);
  if (remainder < 0) remainder += 4294967296.0;
  return static_cast<DWORD>(remainder);
}

MimePart* partOf(MimePartMap& parts, const char* name) { return parts.lookup(SafeCString(name)); }

// One slot into the record at `offset`.
bool fill(MimePartMap& parts, const Slot& slot, BYTE* record, DWORD offset) {
  WORD word = 0;
  switch (slot.kind) {
    case Slot::kConstant:
      putWord(record, offset, slot.value);
      return true;
    case Slot::kField: {
      const char* name = slot.field;
      if (slot.selector != nullptr) {
        WORD selector = 0;
        if (!PostResponse::fieldWord(parts, slot.selector, kAsInteger, &selector)) return false;
        if (selector != 1) name = slot.alternative;
      }
      if (!PostResponse::fieldWord(parts, name, slot.scale, &word)) return false;
      putWord(record, offset, word);
      return true;
    }
    case Slot::kText: {
      MimePart* part = partOf(parts, slot.field);
      if (part == nullptr) return false;
      // Cut to the field with its terminator; an empty text copies nothing.
      if (part->value.getLength() > 0) {
        part->value.copyOut(reinterpret_cast<char*>(record + offset), slot.value, slot.value - 1);
      }
      return true;
    }
    case Slot::kAddress: {
      MimePart* part = partOf(parts, slot.field);
      if (part == nullptr) return false;
      DWORD value = lowDword(part->value.toDouble());
      putWord(record, offset, static_cast<WORD>(value & 0xFFFF));
      putWord(record, offset + 2, static_cast<WORD>(value >> 16));
      return true;
    }
    case Slot::kClock: {
      SYSTEMTIME now;
      GetLocalTime(&now);
      const WORD words[] = {now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                            now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
      for (DWORD k = 0; k < 8; ++k) putWord(record, offset + 2 * k, words[k]);
      return true;
    }
    case Slot::kRule:
      if (!slot.rule(parts, slot, record, &word)) return false;
      putWord(record, offset, word);
      return true;
  }
  return false;
}

WORD keyOf(const WriteKey& key, const BYTE* record) {
  if (key.word < 0) return key.value;
  return static_cast<WORD>(record[2 * key.word] | (record[2 * key.word + 1] << 8));
}

// A write with its record built and its tests decided.
struct PreparedWrite {
  const FormWrite* write;
  bool made;
  DWORD size;
  BYTE record[kMostRecordBytes];
};

bool prepare(MimePartMap& parts, const FormWrite& write, PreparedWrite* prepared) {
  prepared->write = &write;
  prepared->size = 0;
  std::memset(prepared->record, 0, sizeof prepared->record);
  bool first = false;
  bool second = false;
  if (!TableForm::holds(parts, write.when, &first) || !TableForm::holds(parts, write.alsoWhen, &second)) {
    return false;
  }
  prepared->made = first && second;
  if (!prepared->made) return true;
  if (write.kind == FormWrite::kParameter) {
    // pcode_only_struct: the value, then the code.
    prepared->size = 4;
    return fill(parts, write.value, prepared->record, 0) && fill(parts, write.code, prepared->record, 2);
  }
  for (DWORD k = 0; k < write.slotCount; ++k) {
    if (!fill(parts, write.slots[k], prepared->record, prepared->size)) return false;
    prepared->size += write.slots[k].bytes();
  }
  return true;
}

}  // namespace

const LogText kShortTermDataReset = {TEXT("SetSystemLogShortTermDataResetView"), 1, 1, 7, TEXT("Short Term Weld Data Reset.")};
const LogText kRightSideShortTermDataReset = {TEXT("SetSystemLogRightSideShortTermDataResetView"), 1, 1, 16,
                                              TEXT("Right Side Short Term Weld Data Reset.")};
const LogText kProcessEnablesChanged = {TEXT("SetSystemLogProcessEnableWebChangeView"), 0, 0, 13,
                                        TEXT("Process enables changed from webpage.")};
const LogText kProgramLocksChanged = {TEXT("SetSystemLogProgramLockWebChangeView"), 0, 0, 8,
                                      TEXT("Program locks changed from webpage.")};
const LogText kLocksChanged = {TEXT("SetSystemLogWebChangeView"), 0, 0, 9, TEXT("Locks changed from webpage.")};

void printRecordStatus(const BYTE*, int count) { NKDbgPrintfW(TEXT("Record status %i \r\n"), count); }

TableForm::TableForm(const SafeCString& formPath, const SafeWString& pageFile, const FormTable& formTable)
    : PostResponse(formPath, pageFile), table(formTable) {
  for (DWORD k = 0; k < table.fieldCount; ++k) declareField(table.fields[k].name, table.fields[k].maxLength);
}

bool TableForm::holds(MimePartMap& parts, const FieldTest& test, bool* result) {
  if (test.op == FieldTest::kAlways) {
    *result = true;
    return true;
  }
  WORD word = 0;
  if (!fieldWord(parts, test.field, kAsInteger, &word)) return false;
  *result = (word == test.value) == (test.op == FieldTest::kIs);
  return true;
}

bool TableForm::apply(MimePartMap& parts) {
  if (table.prologue != nullptr) {
    writeSystemLogText(table.prologue->view, table.prologue->first, table.prologue->second, table.prologue->kind,
                       table.prologue->text);
  }
  const FormAction* action = nullptr;
  for (DWORD k = 0; k < table.actionCount && action == nullptr; ++k) {
    bool chosen = false;
    if (!holds(parts, table.actions[k].when, &chosen)) return false;
    if (chosen) action = &table.actions[k];
  }
  if (action == nullptr) return false;

  // Every record first: nothing is written unless all of them could be made.
  PreparedWrite prepared[kMostWrites];
  for (DWORD k = 0; k < action->writeCount; ++k) {
    if (!prepare(parts, action->writes[k], &prepared[k])) return false;
  }
  bool wrote = false;
  int count = 0;
  for (DWORD k = 0; k < action->writeCount; ++k) {
    const FormWrite& write = *prepared[k].write;
    const BYTE* record = prepared[k].record;
    if (!prepared[k].made) continue;
    if (write.before != nullptr) write.before(record, 0);
    if (write.kind == FormWrite::kLogText) {
      // Its count is never tested.
      writeSystemLogText(write.logText->view, write.logText->first, write.logText->second, write.logText->kind,
                         write.logText->text);
      continue;
    }
    if (write.kind == FormWrite::kParameter) {
      count = writePCode(keyOf(keyWord(1), record), keyOf(keyWord(0), record), write.eventCode != 0);
      if (write.after != nullptr) write.after(record, count);
    } else {
      count = writeRecord(write.view, record, prepared[k].size, write.call, write.recordType,
                          keyOf(write.key, record), write.eventCode, keyOf(write.eventKey, record), write.arg2,
                          write.arg3, write.after);
    }
    wrote = true;
    if (count == 0 && write.chained) return false;
  }
  return wrote && count != 0;
}

PostResponse* createTableForm(const char* formPath, const SafeWString& pageFile, const FormTable& table) {
  TableForm* form = new (std::nothrow) TableForm(SafeCString(formPath), pageFile, table);
  if (form != nullptr && !form->isComplete()) {
    delete form;
    form = nullptr;
  }
  return form;
}
