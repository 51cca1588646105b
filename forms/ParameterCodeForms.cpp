// The parameter-code forms: arc error limits, trigger hold, factory reset, and
// jog and purge. Their parameter codes arrive in hidden fields of the pages,
// except the factory reset's fixed code 149; jog and purge also writes the
// torch length and load of each wire feeder. Arc error limits and jog and
// purge are chained; the trigger-hold writes are free-standing, and its answer
// follows the second.
#include "forms/TableForm.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const FormFieldSpec kArcErrorLimitsFields[] = {
    {"ase_time"},          {"arcstarterrorpcode"}, {"mwe_time"}, {"missedwelderrorpcode"},
    {"arcerrortimepcode"}, {"arcerrorvoltspcode"}, {"arcerrorampspcode"}, {"are_volts"},
    {"are_amps"},          {"are_time"},
};
const FormWrite kArcErrorLimitsWrites[] = {
    parameter(field("arcerrortimepcode"), field("are_time", kTimesThousand)),
    parameter(field("arcerrorvoltspcode"), field("are_volts", kTimesTen)),
    parameter(field("arcerrorampspcode"), field("are_amps")),
    parameter(field("arcstarterrorpcode"), field("ase_time", kTimesThousand)),
    parameter(field("missedwelderrorpcode"), field("mwe_time", kTimesTen)),
};
const FormAction kArcErrorLimitsActions[] = {SINGLE_ACTION(kArcErrorLimitsWrites)};

const FormFieldSpec kTriggerHoldFields[] = {
    {"th_delay_time_pcode"}, {"th_delay_time"}, {"th_inactive_time"}, {"th_inactive_time_pcode"},
};
const FormWrite kTriggerHoldWrites[] = {
    parameter(field("th_delay_time_pcode"), field("th_delay_time", kTimesThousand)).freeStanding(),
    parameter(field("th_inactive_time_pcode"), field("th_inactive_time", kTimesThousand)),
};
const FormAction kTriggerHoldActions[] = {SINGLE_ACTION(kTriggerHoldWrites)};

// "resetsubmit" must arrive; its value is not used. The reset itself is done
// by the process that owns the settings database when it sees code 149 = 1.
const FormFieldSpec kFactoryResetFields[] = {{"resetsubmit"}};
const FormWrite kFactoryResetWrites[] = {parameter(constant(149), constant(1))};
const FormAction kFactoryResetActions[] = {SINGLE_ACTION(kFactoryResetWrites)};

const FormFieldSpec kJogPurgeFields[] = {
    {"minjogspeedipm"},   {"maxjogspeedipm"},   {"retractminjogspeedipm"}, {"retractmaxjogspeedipm"},
    {"retractminpcode"},  {"retractmaxpcode"},  {"minjogspeedpcode"},      {"maxjogspeedpcode"},
    {"torchlength"},      {"torchload"},        {"time"},                  {"timepcode"},
    {"torchlengthright"}, {"torchloadright"},
};
// gun_load_struct: side (1 first feeder, 2 second), torch length, torch load.
const Slot kGunLoadLeft[] = {constant(1), field("torchlength"), field("torchload")};
const Slot kGunLoadRight[] = {constant(2), field("torchlengthright"), field("torchloadright")};
const FormWrite kJogPurgeWrites[] = {
    record(TEXT("SetGunLoadView"), withRecord<SetGunLoad>, "gun_load_struct", kGunLoadLeft, 4).event(4, keyWord(0), 0, 0),
    record(TEXT("SetGunLoadView"), withRecord<SetGunLoad>, "gun_load_struct", kGunLoadRight, 4).event(4, keyWord(0), 0, 0),
    parameter(field("minjogspeedpcode"), field("minjogspeedipm")),
    parameter(field("maxjogspeedpcode"), field("maxjogspeedipm")),
    parameter(field("retractminpcode"), field("retractminjogspeedipm")),
    parameter(field("retractmaxpcode"), field("retractmaxjogspeedipm")),
    parameter(field("timepcode"), field("time", kTimesThousand)),
};
const FormAction kJogPurgeActions[] = {SINGLE_ACTION(kJogPurgeWrites)};

// The alternate configuration switches, each with its parameter code from the
// page. "coolernenablevalue" is spelled so on the page.
const FormFieldSpec kAltConfigFields[] = {
    {"metricvalue"},       {"metricenablepcode"},     {"aaScalingvalue"},     {"aaScalingenablepcode"},
    {"ceprogramsvalue"},   {"ceprogramsenablepcode"}, {"slopevalue"},         {"slopeenablepcode"},
    {"synergicvalue"},     {"synergicenablepcode"},   {"globalwfsampsvalue"}, {"globalwfsampspcode"},
    {"coolernenablevalue"}, {"coolerenablepcode"},
};
const FormWrite kAltConfigWrites[] = {
    parameter(field("coolerenablepcode"), field("coolernenablevalue")),
    parameter(field("globalwfsampspcode"), field("globalwfsampsvalue")),
    parameter(field("synergicenablepcode"), field("synergicvalue")),
    parameter(field("slopeenablepcode"), field("slopevalue")),
    parameter(field("metricenablepcode"), field("metricvalue")),
    parameter(field("aaScalingenablepcode"), field("aaScalingvalue")),
    parameter(field("ceprogramsenablepcode"), field("ceprogramsvalue")),
};
const FormAction kAltConfigActions[] = {SINGLE_ACTION(kAltConfigWrites)};

}  // namespace

const FormTable kArcErrorLimitsForm = FORM_TABLE(kArcErrorLimitsFields, nullptr, kArcErrorLimitsActions);
const FormTable kTriggerHoldForm = FORM_TABLE(kTriggerHoldFields, nullptr, kTriggerHoldActions);
const FormTable kFactoryResetForm = FORM_TABLE(kFactoryResetFields, nullptr, kFactoryResetActions);
const FormTable kJogPurgeForm = FORM_TABLE(kJogPurgeFields, nullptr, kJogPurgeActions);
const FormTable kAltConfigForm = FORM_TABLE(kAltConfigFields, nullptr, kAltConfigActions);
