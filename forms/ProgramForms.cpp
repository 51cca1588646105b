// The program and process forms: process selection, program naming, weld file
// setup and advanced triggers. What a weld program is: its process
// combination and wire, its name and description, its weld list number, and
// the trigger and preflow settings of guns A and B.
#include <windows.h>

#include "forms/TableForm.h"
#include "sqlbridge/RecordSetters.h"

namespace {

// wire_weight_struct word 0: programs 1 to 4 belong to the first feeder,
// every other to the second.
bool feederOfProgram(MimePartMap& parts, const Slot& slot, const BYTE*, WORD* word) {
  WORD program = 0;
  if (!PostResponse::fieldWord(parts, slot.field, kAsInteger, &program)) return false;
  *word = program >= 1 && program <= 4 ? 1 : 2;
  return true;
}

void printPastEnableSubmit(const BYTE*, int) { NKDbgPrintfW(TEXT("Past enable submit.\r\n")); }

void printWeldAndComboNumbers(const BYTE* record, int) {
  NKDbgPrintfW(TEXT("Weld Number = %i \r\n"), record[0] | (record[1] << 8));
  NKDbgPrintfW(TEXT("Combo Number = %i \r\n"), record[2] | (record[3] << 8));
}

const FormFieldSpec kProcessSelectionFields[] = {
    {"vort"},       {"indorsa"},       {"selected_program_number"}, {"comboid"},
    {"wireweight"}, {"alloyindex"},    {"uimname", 8},              {"user_selected_program_pcode"},
};
const Slot kWireWeight[] = {rule(feederOfProgram, "selected_program_number"), field("wireweight")};
// process_load_struct: 1, program, combination, vort, indorsa, alloy, wire
// weight, then the 10-byte name.
const Slot kProcessLoad[] = {constant(1),      field("selected_program_number"), field("comboid"),
                             field("vort"),    field("indorsa"),                 field("alloyindex"),
                             field("wireweight"), text("uimname", 10)};
const FormWrite kProcessSelectionWrites[] = {
    parameter(field("user_selected_program_pcode"), field("selected_program_number")).withoutEvent().freeStanding(),
    record(TEXT("SetWireWeightView"), withKey<SetWireWeight>, "wire_weight_struct", kWireWeight, 23).freeStanding(),
    record(TEXT("SetBankComboProcessInfoView"), withRecordAndSecondWord<SetBankComboProcessInfo>, "process_load_struct",
           kProcessLoad, 3),
};
const FormAction kProcessSelectionActions[] = {SINGLE_ACTION(kProcessSelectionWrites)};

const FormFieldSpec kProgramNamingFields[] = {
    {"selected_program"}, {"custom_name", 8}, {"custom_description", 50}, {"user_selected_program_pcode"},
};
// write_weld_list_tag_desc_struct: program, name (10 bytes), description (52).
const Slot kNameAndDescription[] = {field("selected_program"), text("custom_name", 10),
                                    text("custom_description", 52)};
const FormWrite kProgramNamingWrites[] = {
    parameter(field("user_selected_program_pcode"), field("selected_program")).withoutEvent().freeStanding(),
    record(TEXT("SetCustomNameDescView"), withRecord<SetCustomNameDesc>, "write_weld_list_tag_desc_struct",
           kNameAndDescription, 17)
        .event(17, keyWord(0), 1, 3),
};
const FormAction kProgramNamingActions[] = {SINGLE_ACTION(kProgramNamingWrites)};

const FormFieldSpec kWeldFileSetupFields[] = {{"weldlistcombonumber"}, {"selected_program"}};
const Slot kComboNumberChange[] = {field("selected_program"), field("weldlistcombonumber")};
const FormWrite kWeldFileSetupWrites[] = {
    parameter(constant(660), field("selected_program")).withoutEvent().freeStanding().noteAfter(printPastEnableSubmit),
    record(TEXT("SetWeldListComboNumberChangeView"), withRecord<SetWeldListComboNumberChange>,
           "weld_list_combo_number_change_struct", kComboNumberChange, 17)
        .noteBefore(printWeldAndComboNumbers),
};
const FormAction kWeldFileSetupActions[] = {SINGLE_ACTION(kWeldFileSetupWrites)};

const FormFieldSpec kAdvancedTriggersFields[] = {
    {"selectedprogramA"}, {"weldconfigidA"}, {"preflowIDA"},    {"preflowtimeA"},     {"tbdenableA"},
    {"manualenableA"},    {"smartenableA"},  {"simpleenableA"}, {"selectedprogramB"}, {"weldconfigidB"},
    {"preflowIDB"},       {"preflowtimeB"},  {"tbdenableB"},    {"manualenableB"},    {"smartenableB"},
    {"simpleenableB"},    {"ignoreweldactive"}, {"ignoreweldenablepcode"},
};
// set_weld_config_id_struct and the preflow time_only_sequence_struct of each gun.
const Slot kWeldConfigA[] = {field("weldconfigidA"), field("selectedprogramA")};
const Slot kWeldConfigB[] = {field("weldconfigidB"), field("selectedprogramB")};
const Slot kPreflowA[] = {field("preflowIDA"),    field("preflowtimeA", kTimesHundred), field("tbdenableA"),
                          field("manualenableA"), field("smartenableA"),                field("simpleenableA")};
const Slot kPreflowB[] = {field("preflowIDB"),    field("preflowtimeB", kTimesHundred), field("tbdenableB"),
                          field("manualenableB"), field("smartenableB"),                field("simpleenableB")};
// Only the first write ends the form; the answer follows gun B's preflow.
const FormWrite kAdvancedTriggersWrites[] = {
    parameter(field("ignoreweldenablepcode"), field("ignoreweldactive")),
    record(TEXT("SetTriggerEnablesView"), withRecord<SetTriggerEnables>, "set_weld_config_id_struct", kWeldConfigA, 17)
        .freeStanding(),
    record(TEXT("SetPreflowView"), withRecord<SetPreflow>, "time_only_sequence_struct", kPreflowA, 11)
        .event(11, keyWord(0), 4, 0)
        .freeStanding(),
    record(TEXT("SetTriggerEnablesView"), withRecord<SetTriggerEnables>, "set_weld_config_id_struct", kWeldConfigB, 17)
        .freeStanding(),
    record(TEXT("SetPreflowView"), withRecord<SetPreflow>, "time_only_sequence_struct", kPreflowB, 11)
        .event(11, keyWord(0), 4, 0),
};
const FormAction kAdvancedTriggersActions[] = {SINGLE_ACTION(kAdvancedTriggersWrites)};

}  // namespace

const FormTable kProcessSelectionForm = FORM_TABLE(kProcessSelectionFields, nullptr, kProcessSelectionActions);
const FormTable kProgramNamingForm = FORM_TABLE(kProgramNamingFields, nullptr, kProgramNamingActions);
const FormTable kWeldFileSetupForm = FORM_TABLE(kWeldFileSetupFields, nullptr, kWeldFileSetupActions);
const FormTable kAdvancedTriggersForm = FORM_TABLE(kAdvancedTriggersFields, nullptr, kAdvancedTriggersActions);
