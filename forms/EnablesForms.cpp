// The enables and locks forms: the error-detection enables of a bank, the
// welding processes the operator may select, and the weld-file enables and
// locks. Checkbox fields carry 0 or 1; a larger value spills into the
// neighbouring bits of a mask, since values are shifted and not masked.
#include "forms/TableForm.h"
#include "sqlbridge/RecordSetters.h"

namespace {

// The error-enables mask: each error field shifted to its bit; the bits of no
// field (mask 0xCD81) are kept from "errorsenabled".
struct ErrorBit {
  const char* field;
  int bit;
};
const ErrorBit kErrorBits[] = {
    {"motorovercurrenterror", 1}, {"wirefeedspeederror", 2}, {"arcstarterror", 3},
    {"arcruntimeerror", 4},       {"gasflowerror", 5},       {"coolantflowerror", 6},
    {"wirestuckerror", 9},        {"wirewarningerror", 12},  {"missedwelderror", 13},
};
const WORD kKeptErrorBits = 0xCD81;

bool errorEnablesMask(MimePartMap& parts, const Slot&, const BYTE*, WORD* word) {
  WORD mask = 0;
  if (!PostResponse::fieldWord(parts, "errorsenabled", kAsInteger, &mask)) return false;
  mask &= kKeptErrorBits;
  for (const ErrorBit& error : kErrorBits) {
    WORD value = 0;
    if (!PostResponse::fieldWord(parts, error.field, kAsInteger, &value)) return false;
    mask = static_cast<WORD>(mask | (value << error.bit));
  }
  *word = mask;
  return true;
}

const FormFieldSpec kErrorEnablesFields[] = {
    {"arcstarterror"},    {"missedwelderror"},  {"arcruntimeerror"}, {"wirestuckerror"},
    {"wirefeedspeederror"}, {"motorovercurrenterror"}, {"coolantflowerror"}, {"wirewarningerror"},
    {"gasflowerror"},     {"bankconfigID"},     {"errorsenabled"},
};
const Slot kErrorEnables[] = {field("bankconfigID"), rule(errorEnablesMask)};
const FormWrite kErrorEnablesWrites[] = {
    record(TEXT("SetErrorEnablesView"), withRecord<SetErrorEnables>, "all_error_enables_struct", kErrorEnables, 4)
        .event(4, keyWord(0), 0, 0),
};
const FormAction kErrorEnablesActions[] = {SINGLE_ACTION(kErrorEnablesWrites)};

// process_enables_struct of each process, in the order they are written: the
// process number (also its bit in the mask of parameter 732), its checkbox.
const Slot kProcesses[][2] = {
    {constant(0), field("migactive")},     {constant(3), field("pulseactive")}, {constant(8), field("torvaneactive")},
    {constant(15), field("lindrelactive")}, {constant(6), field("cacactive")},  {constant(5), field("stickactive")},
    {constant(2), field("brevactive")},    {constant(11), field("brevsactive")}, {constant(1), field("solvaneactive")},
};

bool processEnableMask(MimePartMap& parts, const Slot&, const BYTE*, WORD* word) {
  WORD mask = 0;
  for (const auto& process : kProcesses) {
    WORD value = 0;
    if (!PostResponse::fieldWord(parts, process[1].field, kAsInteger, &value)) return false;
    mask = static_cast<WORD>(mask | (value << process[0].value));
  }
  *word = mask;
  return true;
}

const FormFieldSpec kProcessEnablesFields[] = {
    {"migactive"}, {"pulseactive"}, {"torvaneactive"}, {"lindrelactive"}, {"cacactive"},
    {"stickactive"}, {"brevactive"}, {"brevsactive"}, {"solvaneactive"},
};
#define PROCESS_ENABLE(k) \
  record(TEXT("SetProcessEnableView"), withRecord<SetProcessEnables>, "process_enables_struct", kProcesses[k], 0)
const FormWrite kProcessEnablesWrites[] = {
    PROCESS_ENABLE(0), PROCESS_ENABLE(1), PROCESS_ENABLE(2), PROCESS_ENABLE(3), PROCESS_ENABLE(4),
    PROCESS_ENABLE(5), PROCESS_ENABLE(6), PROCESS_ENABLE(7), PROCESS_ENABLE(8),
    parameter(constant(732), rule(processEnableMask)),
};
#undef PROCESS_ENABLE
static_assert(COUNT_OF(kProcessEnablesWrites) == COUNT_OF(kProcesses) + 1, "one write per process, then the mask");
const FormAction kProcessEnablesActions[] = {SINGLE_ACTION(kProcessEnablesWrites)};

const FormFieldSpec kEnablesLocksFields[] = {
    {"enableallweldfilesubmit"}, {"disableallweldfilesubmit"}, {"activeweldfile"}, {"seqlockactive"},
    {"seqlock_pcode"},           {"triggerfuncactive"},        {"triggerfunc_pcode"}, {"globallockactive"},
    {"bank_id"},                 {"locksubmit"},               {"weldfilelockstate"}, {"selected_program"},
    {"enablesubmit"},            {"dualfeeder"},               {"dualnonactiveweldfile"},
};
// all_weld_file_enable_struct: 1, the active weld file, all on (1) or off (0);
// the two-feeder form has the other feeder's weld file and a zero word.
const Slot kEnableAll[] = {constant(1), field("activeweldfile"), constant(1)};
const Slot kDisableAll[] = {constant(1), field("activeweldfile"), constant(0)};
const Slot kDualDisableAll[] = {constant(1), field("activeweldfile"), field("dualnonactiveweldfile"), constant(0)};
const Slot kWeldFileEnable[] = {field("selected_program"), field("weldfilelockstate")};
const Slot kEncoderLock[] = {field("bank_id"), field("globallockactive")};

const FormWrite kEnableAllWrites[] = {
    record(TEXT("SetAllEnablesView"), withRecord<SetAllEnables>, "all_weld_file_enable_struct", kEnableAll, 17)
        .event(17, keyWord(0), 1, 2),
};
const FormWrite kDisableAllWrites[] = {
    record(TEXT("SetDualAllEnablesView"), withRecord<SetDualAllEnables>, "all_weld_file_enable_struct", kDualDisableAll,
           17)
        .event(17, keyWord(0), 1, 1)
        .onlyWhen(isNot("dualfeeder", 0)),
    record(TEXT("SetAllEnablesView"), withRecord<SetAllEnables>, "all_weld_file_enable_struct", kDisableAll, 17)
        .event(17, keyWord(0), 1, 1)
        .onlyWhen(is("dualfeeder", 0)),
};
const FormWrite kWeldFileEnableWrites[] = {
    record(TEXT("SetWeldFileEnableView"), withRecord<SetWeldFileEnable>, "weld_file_enable_struct", kWeldFileEnable, 17)
        .noteAfter(printRecordStatus),
};
// The encoder lock ends the form when it updates nothing; the two parameters
// after the log text are both made and the second gives the answer.
const FormWrite kLockWrites[] = {
    record(TEXT("SetEncoderLockView"), withRecord<SetEncoderLock>, "encoder_lock_struct", kEncoderLock, 4),
    logText(kLocksChanged),
    parameter(field("triggerfunc_pcode"), field("triggerfuncactive")).freeStanding(),
    parameter(field("seqlock_pcode"), field("seqlockactive")),
};
// The first submit field that is not 0 chooses; none: nothing is written.
const FormAction kEnablesLocksActions[] = {
    {isNot("enableallweldfilesubmit", 0), kEnableAllWrites, COUNT_OF(kEnableAllWrites)},
    {isNot("disableallweldfilesubmit", 0), kDisableAllWrites, COUNT_OF(kDisableAllWrites)},
    {isNot("enablesubmit", 0), kWeldFileEnableWrites, COUNT_OF(kWeldFileEnableWrites)},
    {isNot("locksubmit", 0), kLockWrites, COUNT_OF(kLockWrites)},
};

}  // namespace

const FormTable kErrorEnablesForm = FORM_TABLE(kErrorEnablesFields, nullptr, kErrorEnablesActions);
const FormTable kProcessEnablesForm = FORM_TABLE(kProcessEnablesFields, &kProcessEnablesChanged, kProcessEnablesActions);
const FormTable kEnablesLocksForm = FORM_TABLE(kEnablesLocksFields, &kProgramLocksChanged, kEnablesLocksActions);
