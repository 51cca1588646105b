// The record readers of the settings database: one row of kRecordReaders per
// reader (GetStartSequenceState, GetSystemLog, ...), saying which table it
// reads, which rows its keys select and where each column goes in the packed
// record. The C entry points of SqlBridge.h, `quenta-machine settings
// dump/load` and the tests all work from that one table.
//
// A reader answers the rows of its table that match its fixed selection and
// its keys, in the order they were stored (optionally only the newest n), each
// packed little-endian at its stride and zero-filled. Loading is the reverse:
// the packed records are unpacked into columns and made the rows the reader
// selects, in one transaction (rows already there are updated in place, so
// columns other readers of the table carry are kept).
//
// Functions take the store to use; they are as thread-safe as the store (one
// thread at a time).
#ifndef QUENTA_SQLBRIDGE_RECORDREADERS_H_
#define QUENTA_SQLBRIDGE_RECORDREADERS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "sqlbridge/SettingsStore.h"

namespace quenta {

enum RecordFieldKind {
  kFieldWord,     // u16 column
  kFieldDword,    // u32 column
  kFieldText,     // UTF-8 column packed as 8-bit text, cut to `bytes`
  kFieldWide,     // UTF-8 column packed as UTF-16LE, cut to `bytes`
  kFieldTime,     // ISO text column packed as a 16-byte SYSTEMTIME
  kFieldLogTime,  // the eight SYSTEMTIME columns of system_log (wYear ...)
};

struct RecordField {
  const char* column;
  RecordFieldKind kind;
  WORD offset;
  WORD bytes;  // texts: the field's size; others: their own size
};

struct RecordReader {
  const char* name;   // "GetStartSequenceState"
  const char* table;  // "weld_stage"
  // A column every selected row has, and its value as an SQL literal
  // ("stage", "'start'"); null when the reader has none.
  const char* fixedColumn;
  const char* fixedValue;
  std::vector<const char*> keys;  // key columns, in call order
  WORD stride;
  int newest;  // only the newest rows (0: all of them)
  std::vector<RecordField> fields;
};

class SETTINGS_STORE_API RecordTables {
 public:
  static const std::vector<RecordReader>& readers();
  static const RecordReader* find(const std::string& name);
  // A text field of a packed record as UTF-8: up to its terminator or the
  // field's end; a wide field converted from UTF-16LE.
  static std::string textAt(const std::string& record, size_t offset, size_t bytes, bool wide);

  // The records the reader answers for `keys` (as many as it has keys),
  // packed back to back.
  static bool read(SettingsStore& store, const RecordReader& reader, const long long* keys, std::string* records);
  // Makes the reader answer exactly `records` (a whole number of strides) for
  // `keys`. Key columns take the keys, whatever the records hold. False with
  // the reason in *error; nothing is changed then.
  static bool load(SettingsStore& store, const RecordReader& reader, const long long* keys,
                   const std::string& records, std::string* error);

  // Demo records (DemoRecords.cpp) in every record table that is empty; run
  // inside the caller's transaction.
  static bool storeDemo(SettingsStore& store);
};

// The 16-byte SYSTEMTIME at `offset` of a packed record as local ISO text
// with milliseconds ("2024-03-07T08:15:00.000"), as the tables keep times.
std::string unpackTime(const std::string& record, size_t offset);

}  // namespace quenta

#endif  // QUENTA_SQLBRIDGE_RECORDREADERS_H_
