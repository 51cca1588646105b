// The parameter-code forms: arc error limits, trigger hold, factory reset,
// jog and purge, and the alternate configuration's feature switches. They differ only in constants, so they are one class and one
// table: each row names the form path, the answer page, the fields in
// declaration order, and the writes in the order they are made. Most writes
// are single parameters whose code arrives in a hidden field of the page; the
// factory reset writes the fixed code 149, and jog and purge also writes the
// torch load of each wire feeder.
//
// apply() reads and converts every value before the first write, so a post
// that cannot be converted writes nothing. Chained forms stop at the first
// write that updates no record (the writes before it stay, with their
// events); the others make every write. Either way the answer follows the
// last write made.
#ifndef QUENTA_FORMS_PARAMETERCODEFORMS_H_
#define QUENTA_FORMS_PARAMETERCODEFORMS_H_

#include "forms/PostResponse.h"

// Torch length and load of one wire feeder (side 1 or 2), three words.
struct gun_load_struct {
  WORD side;
  WORD torchLength;
  WORD torchLoad;
};
static_assert(sizeof(gun_load_struct) == 6, "gun_load_struct is 6 bytes");

struct ParameterWrite {
  enum Kind { kParameter, kGunLoad };
  Kind kind;
  // kParameter: the field holding the parameter code, or null for `fixedKey`.
  // kGunLoad: null; `fixedKey` is the side.
  const char* keyField;
  WORD fixedKey;
  // The value: a field and its scale, or null for `fixedValue`.
  const char* valueField;
  FieldScale scale;
  WORD fixedValue;
  // kGunLoad: the field holding the torch load (the length is valueField).
  const char* loadField;
};

struct ParameterCodeFormRow {
  const char* formPath;
  const WCHAR* pageFile;
  const char* const* fields;
  DWORD fieldCount;
  const ParameterWrite* writes;
  DWORD writeCount;
  // A write that updates nothing ends the form at once.
  bool chained;
};

class ParameterCodeForm : public PostResponse {
 public:
  explicit ParameterCodeForm(const ParameterCodeFormRow& row);
  bool apply(MimePartMap& parts) override;

 private:
  const ParameterCodeFormRow& row;
};

// Factories of the form registry.
PostResponse* createArcErrorLimitsForm();
PostResponse* createJogPurgeForm();
PostResponse* createFactoryResetForm();
PostResponse* createTriggerHoldForm();
PostResponse* createAltConfigForm();

#endif  // QUENTA_FORMS_PARAMETERCODEFORMS_H_
