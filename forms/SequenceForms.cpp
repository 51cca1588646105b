// The sequence adjust forms: the time page, the retract page and the full
// stage editor. In all three the first write never ends the form (a zero count
// only loses its event); the answer follows the second. Sequence records post
// event 11 (key, 1, 0).
#include "forms/TableForm.h"
#include "sqlbridge/RecordSetters.h"

namespace {

// Word 13 of the full stage editor: the slope's high byte merged over the
// inductance value ("inductance" OR ("weld_ind_slope" AND 0xFF00)).
bool inductanceWithSlope(MimePartMap& parts, const Slot&, const BYTE*, WORD* word) {
  WORD inductance = 0;
  WORD slope = 0;
  if (!PostResponse::fieldWord(parts, "inductance", kAsInteger, &inductance) ||
      !PostResponse::fieldWord(parts, "weld_ind_slope", kAsInteger, &slope)) {
    return false;
  }
  *word = static_cast<WORD>(inductance | (slope & 0xFF00));
  return true;
}

const FormFieldSpec kTimeFields[] = {{"seq_time"}, {"seq_id"}, {"seq_enable"}, {"selected_sequence"}};
// enables_only_sequence_struct: the stage, then four enables set.
const Slot kStageEnables[] = {field("selected_sequence"), constant(1), constant(1), constant(1), constant(1)};
// time_only_sequence_struct: the stage, its time in hundredths, four enables.
const Slot kStageTime[] = {field("seq_id"),     field("seq_time", kTimesHundred), field("seq_enable"),
                           field("seq_enable"), field("seq_enable"),              field("seq_enable")};
const FormWrite kTimeWrites[] = {
    record(TEXT("SetTimeView"), withRecord<SetSeqEnables>, "enables_only_sequence_struct", kStageEnables, 11)
        .onlyWhen(is("seq_enable", 1), isNot("selected_sequence", 0))
        .freeStanding(),
    record(TEXT("SetTimeView"), withRecord<SetPreflow>, "time_only_sequence_struct", kStageTime, 11),
};
const FormAction kTimeActions[] = {SINGLE_ACTION(kTimeWrites)};

const FormFieldSpec kRetractFields[] = {
    {"seq_time"}, {"seq_wfs"}, {"seq_id"}, {"timedelay"}, {"retract_delay_pcode"},
};
// retract_sequence_struct: sequence ID, wire feed speed, time in hundredths.
const Slot kRetractRecord[] = {field("seq_id"), field("seq_wfs"), field("seq_time", kTimesHundred)};
const FormWrite kRetractWrites[] = {
    parameter(field("retract_delay_pcode"), field("timedelay", kTimesTen)).freeStanding(),
    record(TEXT("SetRetractView"), withRecord<SetRetract>, "retract_sequence_struct", kRetractRecord, 11),
};
const FormAction kRetractActions[] = {SINGLE_ACTION(kRetractWrites)};

const FormFieldSpec kFullFields[] = {
    {"seq_id"},   {"volts_or_fendral"}, {"wfs_or_amps"},   {"inductance_or_arccontrol"},
    {"volts"},    {"min_volts"},        {"max_volts"},     {"trim"},
    {"min_trim"}, {"max_trim"},         {"amps"},          {"min_amps"},
    {"max_amps"}, {"wfs"},              {"min_wfs"},       {"max_wfs"},
    {"inductance"}, {"min_inductance"}, {"max_inductance"}, {"fendral"},
    {"min_fendral"}, {"max_fendral"},   {"seq_aa"},        {"limits_seq_aa_low"},
    {"limits_seq_aa_high"}, {"seq_wfs"}, {"limits_seq_wfs_low"}, {"limits_seq_wfs_high"},
    {"seq_ac"},   {"limits_seq_ac_low"}, {"limits_seq_ac_high"}, {"seq_time"},
    {"limits_seq_time_low"}, {"limits_seq_time_high"}, {"seqenable"}, {"weld_ind_slope"},
    {"selected_sequence"}, {"ramp_seq_time"},
};
// The ramp's time_only_sequence_struct: the selected stage and its time as
// given (not scaled); the enables stay 0.
const Slot kRampTime[] = {field("selected_sequence"), field("ramp_seq_time"), constant(0), constant(0),
                          constant(0),                constant(0)};
// webpage_sequence_struct, 26 words; the three selectors choose between the
// alternatives of words 4 to 12 and 16 to 18.
const Slot kStage[] = {
    field("seq_id"),
    field("volts"),
    field("min_volts"),
    field("max_volts"),
    chosen("volts_or_fendral", "trim", "seq_aa"),
    chosen("volts_or_fendral", "min_trim", "limits_seq_aa_low"),
    chosen("volts_or_fendral", "max_trim", "limits_seq_aa_high"),
    chosen("wfs_or_amps", "amps", "seq_wfs"),
    chosen("wfs_or_amps", "min_amps", "limits_seq_wfs_low"),
    chosen("wfs_or_amps", "max_amps", "limits_seq_wfs_high"),
    chosen("wfs_or_amps", "seq_wfs", "wfs"),
    chosen("wfs_or_amps", "limits_seq_wfs_low", "min_wfs"),
    chosen("wfs_or_amps", "limits_seq_wfs_high", "max_wfs"),
    rule(inductanceWithSlope),
    field("min_inductance"),
    field("max_inductance"),
    chosen("inductance_or_arccontrol", "fendral", "seq_ac"),
    chosen("inductance_or_arccontrol", "min_fendral", "limits_seq_ac_low"),
    chosen("inductance_or_arccontrol", "max_fendral", "limits_seq_ac_high"),
    field("seq_time", kTimesHundred),
    field("limits_seq_time_low", kTimesHundred),
    field("limits_seq_time_high", kTimesHundred),
    field("seqenable"),
    field("seqenable"),
    field("seqenable"),
    field("seqenable"),
};
const FormWrite kFullWrites[] = {
    record(TEXT("SetTimeView"), withRecord<SetPreflow>, "time_only_sequence_struct", kRampTime, 11)
        .onlyWhen(is("seqenable", 0), isNot("selected_sequence", 0))
        .freeStanding(),
    record(TEXT("SetSeqView"), withRecord<SetStart>, "webpage_sequence_struct", kStage, 11),
};
const FormAction kFullActions[] = {SINGLE_ACTION(kFullWrites)};

}  // namespace

const FormTable kTimeSequenceForm = FORM_TABLE(kTimeFields, nullptr, kTimeActions);
const FormTable kRetractSequenceForm = FORM_TABLE(kRetractFields, nullptr, kRetractActions);
const FormTable kFullSequenceForm = FORM_TABLE(kFullFields, nullptr, kFullActions);
