#include "forms/ParameterCodeForms.h"

#include <new>

#include "sqlbridge/SqlBridge.h"

namespace {

const WCHAR kGunLoadView[] = u"SetGunLoadView";
const WORD kGunLoadEvent = 4;
const DWORD kMostWrites = 8;

#define COUNT_OF(table) static_cast<DWORD>(sizeof(table) / sizeof((table)[0]))

// Writes: kind, code field, fixed code or side, value field, scale, fixed
// value, torch load field.

const char* const kArcErrorLimitsFields[] = {
    "ase_time",          "arcstarterrorpcode", "mwe_time", "missedwelderrorpcode", "arcerrortimepcode",
    "arcerrorvoltspcode", "arcerrorampspcode", "are_volts", "are_amps",            "are_time",
};
const ParameterWrite kArcErrorLimitsWrites[] = {
    {ParameterWrite::kParameter, "arcerrortimepcode", 0, "are_time", kTimesThousand, 0, nullptr},
    {ParameterWrite::kParameter, "arcerrorvoltspcode", 0, "are_volts", kTimesTen, 0, nullptr},
    {ParameterWrite::kParameter, "arcerrorampspcode", 0, "are_amps", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "arcstarterrorpcode", 0, "ase_time", kTimesThousand, 0, nullptr},
    {ParameterWrite::kParameter, "missedwelderrorpcode", 0, "mwe_time", kTimesTen, 0, nullptr},
};

const char* const kTriggerHoldFields[] = {
    "th_delay_time_pcode", "th_delay_time", "th_inactive_time", "th_inactive_time_pcode",
};
const ParameterWrite kTriggerHoldWrites[] = {
    {ParameterWrite::kParameter, "th_delay_time_pcode", 0, "th_delay_time", kTimesThousand, 0, nullptr},
    {ParameterWrite::kParameter, "th_inactive_time_pcode", 0, "th_inactive_time", kTimesThousand, 0, nullptr},
};

// "resetsubmit" must arrive; its value is not used. The reset itself is done
// by the process that owns the settings database when it sees code 149 = 1.
const char* const kFactoryResetFields[] = {"resetsubmit"};
const ParameterWrite kFactoryResetWrites[] = {
    {ParameterWrite::kParameter, nullptr, 149, nullptr, kAsInteger, 1, nullptr},
};

const char* const kJogPurgeFields[] = {
    "minjogspeedipm",   "maxjogspeedipm",  "retractminjogspeedipm", "retractmaxjogspeedipm", "retractminpcode",
    "retractmaxpcode",  "minjogspeedpcode", "maxjogspeedpcode",     "torchlength",           "torchload",
    "time",             "timepcode",        "torchlengthright",     "torchloadright",
};
const ParameterWrite kJogPurgeWrites[] = {
    {ParameterWrite::kGunLoad, nullptr, 1, "torchlength", kAsInteger, 0, "torchload"},
    {ParameterWrite::kGunLoad, nullptr, 2, "torchlengthright", kAsInteger, 0, "torchloadright"},
    {ParameterWrite::kParameter, "minjogspeedpcode", 0, "minjogspeedipm", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "maxjogspeedpcode", 0, "maxjogspeedipm", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "retractminpcode", 0, "retractminjogspeedipm", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "retractmaxpcode", 0, "retractmaxjogspeedipm", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "timepcode", 0, "time", kTimesThousand, 0, nullptr},
};

const char* const kAltConfigFields[] = {
    "metricvalue",        "metricenablepcode",  "aaScalingvalue",     "aaScalingenablepcode", "ceprogramsvalue",
    "ceprogramsenablepcode", "slopevalue",      "slopeenablepcode",   "synergicvalue",        "synergicenablepcode",
    "globalwfsampsvalue", "globalwfsampspcode", "coolernenablevalue", "coolerenablepcode",
};
// "coolernenablevalue" is spelled so on the page.
const ParameterWrite kAltConfigWrites[] = {
    {ParameterWrite::kParameter, "coolerenablepcode", 0, "coolernenablevalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "globalwfsampspcode", 0, "globalwfsampsvalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "synergicenablepcode", 0, "synergicvalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "slopeenablepcode", 0, "slopevalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "metricenablepcode", 0, "metricvalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "aaScalingenablepcode", 0, "aaScalingvalue", kAsInteger, 0, nullptr},
    {ParameterWrite::kParameter, "ceprogramsenablepcode", 0, "ceprogramsvalue", kAsInteger, 0, nullptr},
};

// Form path, page file, fields, writes, chained.
const ParameterCodeFormRow kArcErrorLimits = {
    "/setup/error_edit.min.html", u"\\MMCMemory\\www\\wwwpub\\setup\\error_edit.min.html",
    kArcErrorLimitsFields, COUNT_OF(kArcErrorLimitsFields), kArcErrorLimitsWrites,
    COUNT_OF(kArcErrorLimitsWrites), true};
const ParameterCodeFormRow kJogPurge = {
    "/setup/jog_purge.min.html", u"\\MMCMemory\\www\\wwwpub\\setup\\jog_purge.min.html",
    kJogPurgeFields, COUNT_OF(kJogPurgeFields), kJogPurgeWrites, COUNT_OF(kJogPurgeWrites), true};
const ParameterCodeFormRow kFactoryReset = {
    "/data_management/factory_reset.min.html", u"\\MMCMemory\\www\\wwwpub\\data_management\\factory_reset.min.html",
    kFactoryResetFields, COUNT_OF(kFactoryResetFields), kFactoryResetWrites, COUNT_OF(kFactoryResetWrites),
    true};
const ParameterCodeFormRow kTriggerHold = {
    "/arc_management/trigger_hold_edit.min.html",
    u"\\MMCMemory\\www\\wwwpub\\arc_management\\trigger_hold_edit.min.html",
    kTriggerHoldFields, COUNT_OF(kTriggerHoldFields), kTriggerHoldWrites, COUNT_OF(kTriggerHoldWrites), false};

const ParameterCodeFormRow kAltConfig = {
    "/setup/alt_config.min.html", u"\\MMCMemory\\www\\wwwpub\\setup\\alt_config.min.html",
    kAltConfigFields, COUNT_OF(kAltConfigFields), kAltConfigWrites, COUNT_OF(kAltConfigWrites), true};

static_assert(COUNT_OF(kJogPurgeWrites) <= kMostWrites, "kMostWrites too small");
static_assert(COUNT_OF(kAltConfigWrites) <= kMostWrites, "kMostWrites too small");
static_assert(COUNT_OF(kArcErrorLimitsWrites) <= kMostWrites, "kMostWrites too small");

// A write with its words read from the post.
struct ResolvedWrite {
  WORD key;
  WORD value;
  WORD load;
};

PostResponse* create(const ParameterCodeFormRow& row) {
  ParameterCodeForm* form = new (std::nothrow) ParameterCodeForm(row);
  if (form != nullptr && !form->isComplete()) {
    delete form;
    form = nullptr;
  }
  return form;
}

}  // namespace

ParameterCodeForm::ParameterCodeForm(const ParameterCodeFormRow& formRow)
    : PostResponse(SafeCString(formRow.formPath), SafeWString(formRow.pageFile)), row(formRow) {
  for (DWORD k = 0; k < row.fieldCount; ++k) declareField(row.fields[k]);
}

bool ParameterCodeForm::apply(MimePartMap& parts) {
  // Every word first: nothing is written unless all of them could be read.
  ResolvedWrite resolved[kMostWrites];
  for (DWORD k = 0; k < row.writeCount; ++k) {
    const ParameterWrite& write = row.writes[k];
    resolved[k].key = write.fixedKey;
    resolved[k].value = write.fixedValue;
    resolved[k].load = 0;
    if (write.keyField != nullptr && !fieldWord(parts, write.keyField, kAsInteger, &resolved[k].key)) return false;
    if (write.valueField != nullptr && !fieldWord(parts, write.valueField, write.scale, &resolved[k].value)) {
      return false;
    }
    if (write.loadField != nullptr && !fieldWord(parts, write.loadField, kAsInteger, &resolved[k].load)) {
      return false;
    }
  }
  int count = 0;
  for (DWORD k = 0; k < row.writeCount; ++k) {
    if (row.writes[k].kind == ParameterWrite::kGunLoad) {
      // The working record lives on this request's stack only.
      gun_load_struct record = {resolved[k].key, resolved[k].value, resolved[k].load};
      count = writeRecord(kGunLoadView, &record, sizeof record, SetGunLoad, "gun_load_struct", resolved[k].key,
                          kGunLoadEvent, 0, 0);
    } else {
      count = writePCode(resolved[k].key, resolved[k].value);
    }
    if (count == 0 && row.chained) return false;
  }
  return count != 0;
}

PostResponse* createArcErrorLimitsForm() { return create(kArcErrorLimits); }
PostResponse* createJogPurgeForm() { return create(kJogPurge); }
PostResponse* createFactoryResetForm() { return create(kFactoryReset); }
PostResponse* createTriggerHoldForm() { return create(kTriggerHold); }
PostResponse* createAltConfigForm() { return create(kAltConfig); }
