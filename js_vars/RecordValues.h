// RecordValue: the data files built from records of the settings database
// (sequence states, programs and processes, logs, welder configuration,
// lists). One class serves all of them; each file is one row of kRecordRows:
// its path, variable, reader and keys, whether it shows one record as an
// object or every record as arrays, its members in output order with their
// kind and offset, and its text when the reader has nothing.
//
// A generation: work out the keys from the query (absent: the row's default;
// 16-bit keys masked), call the reader, and on a nonzero count format the
// records in the reader's view; ReleaseView and CleanupView always follow, with
// the no-view values when no view was made. An object is {name:value,...}; a
// list is {name:[v,v,...],...} with one element per record, read at the row's
// stride. Words print as unsigned decimals, texts in single quotes (not
// escaped), cut to their field.
//
// Not safe for concurrent use; its JSFile serialises the requests for its path.
#ifndef QUENTA_JS_VARS_RECORDVALUES_H_
#define QUENTA_JS_VARS_RECORDVALUES_H_

#include <windows.h>

#include <vector>

#include "core/JSVariable.h"

enum RecordMemberKind : BYTE {
  kMemberWord,      // u16, "%i"
  kMemberFloat,     // u32 as a double, "%f"
  kMemberSigned,    // 32-bit, "%i" (signed)
  kMemberText,      // 8-bit text of `size` bytes, quoted
  kMemberWideText,  // wide text of `size` bytes, as UTF-8, quoted
  kMemberStamp,     // 16-byte SYSTEMTIME, as the row's stamp says, quoted
  kMemberOne,       // always 1, whatever the record (bankConfigID)
};

struct RecordMember {
  const char* name;
  RecordMemberKind kind;
  WORD offset;
  WORD size = 0;  // texts only
};

enum RecordKeyRule : BYTE {
  kKeyInt,          // the query value through toInt, else the default
  kKeyWord,         // the same, cut to its low 16 bits
  kKeyConstant,     // always the default; no query parameter
  kKeyTriggerMode,  // 1 when "th" is 1, else 2 when "fourt" is 1, else 0
};

struct RecordKey {
  const char* parameter;  // query parameter; null for the last two rules
  int fallback;
  RecordKeyRule rule;
};

// How a record's system time is written: the time ("H':'mm':'ss", 24-hour)
// and the date, in the order and with the pictures and buffers of the page.
struct RecordStamp {
  bool timeFirst;
  LPCWSTR timePicture;
  LPCWSTR datePicture;
  int dateChars;        // the date buffer: 10, or 12 for four-digit years
  const char* between;  // between the two texts
};

// A reader of SqlBridge.h, with its key count and name.
struct RecordReaderCall {
  void (*function)();
  BYTE keyCount;
  const char* name;
};

struct RecordRow {
  int slot;  // its place in the data-file registry (1-based)
  const char* path;
  const char* variable;
  RecordReaderCall reader;
  std::vector<RecordKey> keys;  // in the reader's call order
  WORD stride;                  // list rows: the record stride; 0: one record, as an object
  std::vector<RecordMember> members;
  const RecordStamp* stamp;  // for kMemberStamp members
  const char* fallback;      // single quotes included
};

extern const std::vector<RecordRow> kRecordRows;

class RecordText;

class RecordValue : public JSVariable {
 public:
  explicit RecordValue(const RecordRow& row);
  SafeCString* getValue() override;

 private:
  int readRecords();
  void appendElement(RecordText* text, const RecordMember& member, const BYTE* record);
  void appendWide(RecordText* text, const BYTE* field, WORD bytes);

  int result;               // the reader's count
  DWORD_PTR mapHandle;      // from CreateView, for CleanupView
  DWORD_PTR recordAddress;  // from CreateView
  DWORD_PTR releaseHandle;  // from the reader, for ReleaseView
  DWORD_PTR cursor;         // the record being formatted

  const RecordRow& row;
  SafeWString viewName;  // "WebQuentaISAPI_" + variable + "_View"
  SafeCString fallback;
  WCHAR timeBuffer[10];
  WCHAR dateBuffer[12];  // 10 characters for the two-digit-year pictures
  // A wide text field (at most 400 characters, VeyraCoreInfo's) copied out of
  // the record, and as UTF-8: 3 bytes a character and the terminator.
  WCHAR wideField[400];
  char utf8[1201];
};

// Registry factory: `row` is a RecordRow.
JSVariable* createRecordValue(const void* row);

#endif  // QUENTA_JS_VARS_RECORDVALUES_H_
