// TableForm: a form handler whose fields and writes are tables. Every setup
// form of the machine is one FormTable: its fields in declaration order, and
// its writes in the order they are made, each with its record (a list of
// slots saying where each word comes from), its setter and view, the record
// type its debug line names, its event, and whether a zero count ends the
// form. The few real rules of one form (a mask of checkboxes, a merged
// byte, a clamped value) are small named functions beside the form's table,
// put in a slot.
//
// apply():
// 1. The prologue's system-log text, when the form has one.
// 2. The first action whose test holds (most forms have one action that
//    always holds); none: nothing more is written and the answer is 400.
// 3. Every record of that action is built before the first write, so a post
//    whose words cannot all be read (an allocation failed) writes nothing.
// 4. The writes whose tests hold are made in order. A chained write that
//    updates no record ends the form with false; the writes before it stay,
//    with their events. System-log texts are never tested.
// 5. The answer follows the last record or parameter write made.
//
// The working records live on the request's stack, so concurrent posts to one
// form never share them.
#ifndef QUENTA_FORMS_TABLEFORM_H_
#define QUENTA_FORMS_TABLEFORM_H_

#include <cstddef>

#include "forms/PostResponse.h"

struct Slot;

// A word made by a form's own rule from the post (and the words of the record
// before it). False when a field could not be read.
typedef bool (*WordRule)(MimePartMap& parts, const Slot& slot, const BYTE* record, WORD* word);

// Where one part of a record comes from. Records are little-endian words;
// a text or an address takes several words.
struct Slot {
  enum Kind : BYTE {
    kField,     // a field's word (see FieldScale)
    kConstant,  // `value`
    kText,      // a field's text cut to `value` bytes with its terminator
    kAddress,   // a field read with toDouble, kept as an unsigned 32-bit number
    kClock,     // the device clock's SYSTEMTIME, 16 bytes
    kRule,      // `rule`
  };
  Kind kind;
  const char* field;
  FieldScale scale;
  WORD value;
  // kField: when `selector` is set and its word is not 1, `alternative` is
  // read instead of `field`.
  const char* selector;
  const char* alternative;
  WordRule rule;

  DWORD bytes() const { return kind == kText ? value : kind == kAddress ? 4 : kind == kClock ? 16 : 2; }
};

constexpr Slot field(const char* name, FieldScale scale = kAsInteger) {
  return {Slot::kField, name, scale, 0, nullptr, nullptr, nullptr};
}
constexpr Slot constant(WORD value) { return {Slot::kConstant, nullptr, kAsInteger, value, nullptr, nullptr, nullptr}; }
constexpr Slot text(const char* name, WORD bytes) {
  return {Slot::kText, name, kAsInteger, bytes, nullptr, nullptr, nullptr};
}
constexpr Slot address(const char* name) { return {Slot::kAddress, name, kAsInteger, 0, nullptr, nullptr, nullptr}; }
constexpr Slot deviceClock() { return {Slot::kClock, nullptr, kAsInteger, 0, nullptr, nullptr, nullptr}; }
constexpr Slot rule(WordRule made, const char* name = nullptr) {
  return {Slot::kRule, name, kAsInteger, 0, nullptr, nullptr, made};
}
// `whenOne` when the selector's word is 1, else `otherwise`.
constexpr Slot chosen(const char* selector, const char* whenOne, const char* otherwise,
                      FieldScale scale = kAsInteger) {
  return {Slot::kField, whenOne, scale, 0, selector, otherwise, nullptr};
}

// A number that goes with a write: a word of its record, or a constant.
struct WriteKey {
  signed char word;  // word index into the record; -1: `value`
  WORD value;
};
constexpr WriteKey keyWord(signed char index) { return {index, 0}; }
constexpr WriteKey keyValue(WORD value) { return {-1, value}; }

// A condition on one field's word. kAlways holds without reading anything.
struct FieldTest {
  enum Op : BYTE { kAlways, kIs, kIsNot };
  Op op;
  const char* field;
  WORD value;
};
constexpr FieldTest always() { return {FieldTest::kAlways, nullptr, 0}; }
constexpr FieldTest is(const char* name, WORD value) { return {FieldTest::kIs, name, value}; }
constexpr FieldTest isNot(const char* name, WORD value) { return {FieldTest::kIsNot, name, value}; }

// One system-log text entry (the frame's writeSystemLogText).
struct LogText {
  const WCHAR* view;
  WORD first;
  WORD second;
  WORD kind;
  const WCHAR* text;
};
extern const LogText kShortTermDataReset;
extern const LogText kRightSideShortTermDataReset;
extern const LogText kProcessEnablesChanged;
extern const LogText kProgramLocksChanged;
extern const LogText kLocksChanged;

// Each setter's own signature is adapted to SetterCall by one of these.

template <int (*Setter)(LPVOID, LPCWSTR, DWORD_PTR*)>
int withRecord(LPVOID view, WORD, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return Setter(view, viewName, releaseHandle);
}
template <int (*Setter)(WORD, LPCWSTR, DWORD_PTR*)>
int withKey(LPVOID, WORD key, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return Setter(key, viewName, releaseHandle);
}
// The record, and the address of its second word.
template <int (*Setter)(LPVOID, LPVOID, LPCWSTR, DWORD_PTR*)>
int withRecordAndSecondWord(LPVOID view, WORD, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return Setter(view, static_cast<BYTE*>(view) + 2, viewName, releaseHandle);
}
template <int (*Setter)(LPCWSTR, DWORD_PTR*)>
int viewOnly(LPVOID, WORD, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return Setter(viewName, releaseHandle);
}

// A debug line of a form beside its write: before it with the record, or
// after it with the count.
typedef void (*WriteNote)(const BYTE* record, int count);
// "Record status %i \r\n" with the count.
void printRecordStatus(const BYTE* record, int count);

struct FormWrite {
  enum Kind : BYTE { kRecord, kParameter, kLogText };
  Kind kind;
  // kRecord: the record's slots.
  const Slot* slots;
  BYTE slotCount;
  // kParameter: the parameter code and its value.
  Slot code;
  Slot value;
  // kRecord.
  const WCHAR* view;
  SetterCall call;
  const char* recordType;
  WriteKey key;  // passed to the setter and printed as the recordID
  // The event posted when a record was updated; code 0: none.
  WORD eventCode;
  WriteKey eventKey;
  WORD arg2;
  WORD arg3;
  // kLogText.
  const LogText* logText;
  // The write is made only when both hold.
  FieldTest when;
  FieldTest alsoWhen;
  // A zero count ends the form at once with false.
  bool chained;
  WriteNote before;
  WriteNote after;

  constexpr FormWrite onlyWhen(FieldTest test, FieldTest also = always()) const {
    FormWrite copy = *this;
    copy.when = test;
    copy.alsoWhen = also;
    return copy;
  }
  constexpr FormWrite freeStanding() const {
    FormWrite copy = *this;
    copy.chained = false;
    return copy;
  }
  constexpr FormWrite withoutEvent() const {
    FormWrite copy = *this;
    copy.eventCode = 0;
    return copy;
  }
  constexpr FormWrite event(WORD code, WriteKey arg1, WORD second, WORD third) const {
    FormWrite copy = *this;
    copy.eventCode = code;
    copy.eventKey = arg1;
    copy.arg2 = second;
    copy.arg3 = third;
    return copy;
  }
  constexpr FormWrite noteBefore(WriteNote note) const {
    FormWrite copy = *this;
    copy.before = note;
    return copy;
  }
  constexpr FormWrite noteAfter(WriteNote note) const {
    FormWrite copy = *this;
    copy.after = note;
    return copy;
  }
};

// A record through its setter, chained, with event (code, key, 1, 0); the
// record's key is its first word unless given.
template <size_t N>
constexpr FormWrite record(const WCHAR* view, SetterCall call, const char* recordType, const Slot (&slots)[N],
                           WORD eventCode, WriteKey key = keyWord(0)) {
  return {FormWrite::kRecord, slots, static_cast<BYTE>(N), constant(0), constant(0), view, call, recordType, key,
          eventCode, key, 1, 0, nullptr, always(), always(), true, nullptr, nullptr};
}
// One parameter through "SetPCodeView" (the frame's writePCode), chained, with
// event 8 (code, 1, 0).
constexpr FormWrite parameter(Slot code, Slot value) {
  return {FormWrite::kParameter, nullptr, 0, code, value, nullptr, nullptr, "pcode_only_struct", keyValue(0), 8,
          keyValue(0), 1, 0, nullptr, always(), always(), true, nullptr, nullptr};
}
constexpr FormWrite logText(const LogText& entry) {
  return {FormWrite::kLogText, nullptr, 0, constant(0), constant(0), nullptr, nullptr, nullptr, keyValue(0), 0,
          keyValue(0), 0, 0, &entry, always(), always(), false, nullptr, nullptr};
}

// The writes of one action of a form, chosen by a test of the post.
struct FormAction {
  FieldTest when;
  const FormWrite* writes;
  DWORD writeCount;
};

struct FormFieldSpec {
  const char* name;
  DWORD maxLength = kDefaultFieldLength;
};

struct FormTable {
  const FormFieldSpec* fields;
  DWORD fieldCount;
  // Written for every post before an action is chosen; may be null.
  const LogText* prologue;
  const FormAction* actions;
  DWORD actionCount;
};

#define COUNT_OF(table) static_cast<DWORD>(sizeof(table) / sizeof((table)[0]))
#define FORM_TABLE(fields, prologue, actions) \
  { fields, COUNT_OF(fields), prologue, actions, COUNT_OF(actions) }
// A form of one action that always holds.
#define SINGLE_ACTION(writes) \
  { always(), writes, COUNT_OF(writes) }

class TableForm : public PostResponse {
 public:
  TableForm(const SafeCString& formPath, const SafeWString& pageFile, const FormTable& table);
  bool apply(MimePartMap& parts) override;

  // The word a test compares, and whether the test holds.
  static bool holds(MimePartMap& parts, const FieldTest& test, bool* result);

 private:
  const FormTable& table;
};

// The most words any record of a form has (write_weld_list_tag_desc_struct).
const DWORD kMostRecordBytes = 64;
// The most writes any action makes (the data-management resets).
const DWORD kMostWrites = 16;

// Makes a handler for a form path; null when it could not be made whole.
PostResponse* createTableForm(const char* formPath, const SafeWString& pageFile, const FormTable& table);

// The forms, one table each (their tables live beside their rules).
extern const FormTable kErrorEnablesForm;
extern const FormTable kArcErrorLimitsForm;
extern const FormTable kJogPurgeForm;
extern const FormTable kAltConfigForm;
extern const FormTable kWeldCableForm;
extern const FormTable kSpoolForm;
extern const FormTable kRegionForm;
extern const FormTable kDataManagementForm;
extern const FormTable kFactoryResetForm;
extern const FormTable kProcessEnablesForm;
extern const FormTable kTriggerHoldForm;
extern const FormTable kAdvancedTriggersForm;
extern const FormTable kProgramNamingForm;
extern const FormTable kEnablesLocksForm;
extern const FormTable kProcessSelectionForm;
extern const FormTable kWeldFileSetupForm;
extern const FormTable kTimeSequenceForm;
extern const FormTable kRetractSequenceForm;
extern const FormTable kFullSequenceForm;
extern const FormTable kRobotOptionsForm;
extern const FormTable kDryRunForm;
extern const FormTable kRuninForm;
extern const FormTable kCustomProcessForm;
extern const FormTable kCalibrationForm;
extern const FormTable kBurnbackForm;
extern const FormTable kRetractStartForm;

#endif  // QUENTA_FORMS_TABLEFORM_H_
