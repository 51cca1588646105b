// The wire, spool and data-management forms: the weld cable page, the wire
// spool page (two wire feeders, "right" meaning the second), the data
// management page (short-term weld data and spool date resets) and the region
// page. Their "x10" is the whole number times ten.
#include "forms/TableForm.h"
#include "sqlbridge/RecordSetters.h"

namespace {

// weld_cable_config_only_struct word 1: the torch's index plus 1.
bool torchPlusOne(MimePartMap& parts, const Slot& slot, const BYTE*, WORD* word) {
  if (!PostResponse::fieldWord(parts, slot.field, kAsInteger, word)) return false;
  *word = static_cast<WORD>(*word + 1);
  return true;
}

// weld_wire_info_struct word 4: the pounds remaining, lowered to the spool's
// weight (word 2) when greater.
bool remainingAtMostWeight(MimePartMap& parts, const Slot& slot, const BYTE* record, WORD* word) {
  if (!PostResponse::fieldWord(parts, slot.field, kAsInteger, word)) return false;
  WORD weight = static_cast<WORD>(record[4] | (record[5] << 8));
  if (*word > weight) *word = weight;
  return true;
}

const FormFieldSpec kWeldCableFields[] = {
    {"torchresistance"}, {"cableresistance"}, {"positivecablesize"}, {"negativecablesize"}, {"positivelength"},
    {"negativelength"},  {"torchID"},         {"banknumber"},        {"voltsfeedbackmethod"}, {"sec_res_active"},
    {"sec_res_pcode"},   {"sec_ind_active"},  {"sec_ind_pcode"},     {"sec_tale_active"},   {"sec_tale_pcode"},
};
const Slot kWeldCable[] = {
    field("banknumber"),     rule(torchPlusOne, "torchID"), field("torchresistance"),
    field("voltsfeedbackmethod"), field("positivelength"),  field("positivecablesize"),
    field("negativelength"), field("negativecablesize"),   field("cableresistance"),
};
const FormWrite kWeldCableWrites[] = {
    parameter(field("sec_res_pcode"), field("sec_res_active")),
    parameter(field("sec_ind_pcode"), field("sec_ind_active")),
    parameter(field("sec_tale_pcode"), field("sec_tale_active")),
    record(TEXT("SetWeldCableConfigView"), withKey<SetWeldCableConfigOnly>, "weld_cable_config_only_struct", kWeldCable,
           22),
};
const FormAction kWeldCableActions[] = {SINGLE_ACTION(kWeldCableWrites)};

const FormFieldSpec kSpoolFields[] = {
    {"userwireweight"},      {"poundswarning"},      {"banknumber"},      {"remainingpounds"},
    {"resetspoolsubmit"},    {"userwireweightright"}, {"poundswarningright"}, {"banknumberright"},
    {"remainingpoundsright"},
};
// weld_wire_info_struct: feeder, bank, weight x10, warning x10, remaining.
const Slot kWireInfoLeft[] = {constant(1), field("banknumber"), field("userwireweight", kWholeTimesTen),
                              field("poundswarning", kWholeTimesTen),
                              rule(remainingAtMostWeight, "remainingpounds")};
const Slot kWireInfoRight[] = {constant(2), field("banknumberright"), field("userwireweightright", kWholeTimesTen),
                               field("poundswarningright", kWholeTimesTen),
                               rule(remainingAtMostWeight, "remainingpoundsright")};
// weld_wire_date_struct: 1, six zero bytes, the weight x10, the device clock,
// two zero bytes. The feeder goes to the setter and the debug line.
const Slot kWireDateLeft[] = {constant(1), constant(0), constant(0), constant(0),
                              field("userwireweight", kWholeTimesTen), deviceClock(), constant(0)};
const Slot kWireDateRight[] = {constant(1), constant(0), constant(0), constant(0),
                               field("userwireweightright", kWholeTimesTen), deviceClock(), constant(0)};
const FormWrite kWireInfoWrites[] = {
    record(TEXT("SetWeightSubmitView"), withRecord<SetWeldWireInfo>, "weld_wire_info_struct", kWireInfoLeft, 23),
    record(TEXT("SetWeightSubmitView"), withRecord<SetWeldWireInfo>, "weld_wire_info_struct", kWireInfoRight, 23),
};
// Shared with the data-management page.
const FormWrite kSpoolDateWrites[] = {
    record(TEXT("SetSpoolDateView"), withKey<SetWeldWireDate>, "weld_wire_date_struct", kWireDateLeft, 23, keyValue(1)),
    record(TEXT("SetSpoolDateView"), withKey<SetWeldWireDate>, "weld_wire_date_struct", kWireDateRight, 23, keyValue(2)),
};
// "resetspoolsubmit" chooses; any other value writes nothing.
const FormAction kSpoolActions[] = {
    {is("resetspoolsubmit", 0), &kWireInfoWrites[0], 1},
    {is("resetspoolsubmit", 2), &kWireInfoWrites[1], 1},
    {is("resetspoolsubmit", 1), &kSpoolDateWrites[0], 1},
    {is("resetspoolsubmit", 3), &kSpoolDateWrites[1], 1},
};

const FormFieldSpec kDataManagementFields[] = {
    {"userwireweight"}, {"userwireweightright"}, {"dualstatus"}, {"resetspoolsubmit"}, {"datasubmit"},
    {"dualdatasubmit"},
};
// The short-term weld data of the first feeder, and with "dualstatus" of the
// second, set to 0; chained.
#define RIGHT_SIDE onlyWhen(isNot("dualstatus", 0))
const FormWrite kShortTermResetWrites[] = {
    logText(kShortTermDataReset),
    parameter(constant(603), constant(0)),
    parameter(constant(604), constant(0)),
    parameter(constant(631), constant(0)),
    parameter(constant(632), constant(0)),
    parameter(constant(635), constant(0)),
    parameter(constant(636), constant(0)),
    logText(kRightSideShortTermDataReset).RIGHT_SIDE,
    parameter(constant(644), constant(0)).RIGHT_SIDE,
    parameter(constant(645), constant(0)).RIGHT_SIDE,
    parameter(constant(640), constant(0)).RIGHT_SIDE,
    parameter(constant(641), constant(0)).RIGHT_SIDE,
    parameter(constant(642), constant(0)).RIGHT_SIDE,
    parameter(constant(643), constant(0)).RIGHT_SIDE,
};
#undef RIGHT_SIDE
static_assert(COUNT_OF(kShortTermResetWrites) <= kMostWrites, "kMostWrites too small");
// "resetspoolsubmit" first, then "datasubmit"; "dualdatasubmit" is not used.
const FormAction kDataManagementActions[] = {
    {is("resetspoolsubmit", 1), &kSpoolDateWrites[0], 1},
    {is("resetspoolsubmit", 2), &kSpoolDateWrites[1], 1},
    {is("datasubmit", 1), kShortTermResetWrites, COUNT_OF(kShortTermResetWrites)},
};

const FormFieldSpec kRegionFields[] = {
    {"selectedRegion"}, {"metricvalue"}, {"metricenablepcode"}, {"ceprogramsvalue"}, {"ceprogramsenablepcode"},
    {"aaScalingvalue"}, {"aaScalingenablepcode"},
};
const Slot kRegionSelect[] = {field("selectedRegion"), constant(1)};
const FormWrite kRegionWrites[] = {
    parameter(field("metricenablepcode"), field("metricvalue")),
    parameter(field("aaScalingenablepcode"), field("aaScalingvalue")),
    parameter(field("ceprogramsenablepcode"), field("ceprogramsvalue")),
    record(TEXT("SetRegionView"), withRecord<SetRegion>, "region_select_struct", kRegionSelect, 31),
    record(TEXT("SetRegionSetView"), withRecord<SetRegionSet>, "region_select_struct", kRegionSelect, 31),
};
const FormAction kRegionActions[] = {SINGLE_ACTION(kRegionWrites)};

}  // namespace

const FormTable kWeldCableForm = FORM_TABLE(kWeldCableFields, nullptr, kWeldCableActions);
const FormTable kSpoolForm = FORM_TABLE(kSpoolFields, nullptr, kSpoolActions);
const FormTable kDataManagementForm = FORM_TABLE(kDataManagementFields, nullptr, kDataManagementActions);
const FormTable kRegionForm = FORM_TABLE(kRegionFields, nullptr, kRegionActions);
