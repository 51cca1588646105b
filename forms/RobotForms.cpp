// The robot and calibration forms: robot options (the robot interface board's
// settings, or the robot maker, program selection, communication method and
// set-value switch), dry run, run-in, burnback, custom process, the manual
// calibration and the retract-start switch. Every write is chained.
#include "forms/TableForm.h"
#include "sqlbridge/RecordSetters.h"

namespace {

const FormFieldSpec kRobotOptionsFields[] = {
    {"robotcommselected"}, {"robot_comm_pcode"}, {"rpsSetting"}, {"robot_program_select_pcode"},
    {"RobotMfgSelected"},  {"RobotMfgPCode"},    {"setvaluevalue"}, {"setvalueenablepcode"},
    {"iptype1"},           {"ipaddress"},        {"subnetmask"}, {"gateway"},
    {"ethernetsave", 4},   {"mac0"},             {"mac1"},       {"mac2"},
    {"mac3"},              {"mac4"},             {"mac5"},
};
// aim_settings_for_web_struct: three 32-bit addresses, the six MAC bytes one
// word each, the address type, two zero bytes. Its debug line prints the
// count and the board's record 1, the number its event carries.
const Slot kBoardSettings[] = {address("ipaddress"), address("subnetmask"), address("gateway"), field("mac0"),
                               field("mac1"),        field("mac2"),         field("mac3"),    field("mac4"),
                               field("mac5"),        field("iptype1"),      constant(0)};
const Slot kRobotMaker[] = {field("RobotMfgSelected"), constant(1)};
const FormWrite kBoardWrites[] = {
    record(TEXT("SetAimSettingsInfoView"), viewOnly<SetAimSettingsInfo>, "aim_settings_for_web_struct", kBoardSettings, 37,
           keyValue(1)),
};
const FormWrite kRobotWrites[] = {
    parameter(field("setvalueenablepcode"), field("setvaluevalue")),
    parameter(field("RobotMfgPCode"), field("RobotMfgSelected")),
    parameter(field("robot_program_select_pcode"), field("rpsSetting")),
    record(TEXT("SetRobotMfgView"), withRecord<SetRobotMfg>, "robot_mfg_select_struct", kRobotMaker, 33),
    record(TEXT("SetRobotMfgSetView"), withRecord<SetRobotMfgSet>, "robot_mfg_select_struct", kRobotMaker, 33),
    parameter(field("robot_comm_pcode"), field("robotcommselected")),
};
const FormAction kRobotOptionsActions[] = {
    {is("ethernetsave", 1), kBoardWrites, COUNT_OF(kBoardWrites)},
    SINGLE_ACTION(kRobotWrites),
};

const FormFieldSpec kDryRunFields[] = {{"dryrunSetting"}, {"dry_run_pcode"}};
const FormWrite kDryRunWrites[] = {parameter(field("dry_run_pcode"), field("dryrunSetting"))};
const FormAction kDryRunActions[] = {SINGLE_ACTION(kDryRunWrites)};

// runin_struct and burnback_struct: record 1, the sequence, its value; the
// event names the sequence and which of the two it was.
const FormFieldSpec kRuninFields[] = {{"runin_wfs"}, {"runin_id"}};
const Slot kRunin[] = {constant(1), field("runin_id"), field("runin_wfs")};
const FormWrite kRuninWrites[] = {
    record(TEXT("SetRuninWFSView"), withRecordAndSecondWord<SetRuninWFS>, "runin_struct", kRunin, 3)
        .event(3, keyWord(1), 1, 9998),
};
const FormAction kRuninActions[] = {SINGLE_ACTION(kRuninWrites)};

const FormFieldSpec kBurnbackFields[] = {{"bb_time"}, {"bb_id"}};
const Slot kBurnback[] = {constant(1), field("bb_id"), field("bb_time")};
const FormWrite kBurnbackWrites[] = {
    record(TEXT("SetBurnBackTimeView"), withRecordAndSecondWord<SetBurnBackTime>, "burnback_struct", kBurnback, 3)
        .event(3, keyWord(1), 1, 9997),
};
const FormAction kBurnbackActions[] = {SINGLE_ACTION(kBurnbackWrites)};

const FormFieldSpec kCustomProcessFields[] = {
    {"selected_program_number"}, {"comboid"}, {"uimname", 8}, {"user_selected_program_pcode"},
};
// custom_process_load_struct: record 1, program, combination, 10-byte name.
const Slot kCustomProcess[] = {constant(1), field("selected_program_number"), field("comboid"), text("uimname", 10)};
const FormWrite kCustomProcessWrites[] = {
    parameter(field("user_selected_program_pcode"), field("selected_program_number")).withoutEvent(),
    record(TEXT("SetBankComboCustomProcessInfoView"), withRecordAndSecondWord<SetBankComboCustomProcessInfo>,
           "custom_process_load_struct", kCustomProcess, 3)
        .event(3, keyWord(1), 1, 0),
};
const FormAction kCustomProcessActions[] = {SINGLE_ACTION(kCustomProcessWrites)};

// manual_cal_struct: the six values in field order. Its debug line prints the
// count and "manualcalstatus", the number its event carries.
const FormFieldSpec kCalibrationFields[] = {
    {"MaxWFSSelected"}, {"MinVoltsCalPt"}, {"MaxVoltsCalPt"}, {"MinWFSCalPt"}, {"MaxWFSCalPt"}, {"manualcalstatus"},
};
const Slot kManualCal[] = {field("MaxWFSSelected"), field("MinVoltsCalPt"), field("MaxVoltsCalPt"),
                           field("MinWFSCalPt"),    field("MaxWFSCalPt"),   field("manualcalstatus")};
const FormWrite kCalibrationWrites[] = {
    record(TEXT("SetManualCalView"), viewOnly<SetManualCal>, "manual_cal_struct", kManualCal, 26, keyWord(5)),
};
const FormAction kCalibrationActions[] = {SINGLE_ACTION(kCalibrationWrites)};

const FormFieldSpec kRetractStartFields[] = {{"seq_id"}, {"retract_enable"}};
const Slot kRetractStart[] = {field("seq_id"), field("retract_enable")};
const FormWrite kRetractStartWrites[] = {
    record(TEXT("SetRetractStartEnableView"), withRecord<SetRetractStartEnable>, "weld_file_enable_struct", kRetractStart,
           17)
        .event(17, keyWord(0), 1, 4)
        .noteAfter(printRecordStatus),
};
const FormAction kRetractStartActions[] = {SINGLE_ACTION(kRetractStartWrites)};

}  // namespace

const FormTable kRobotOptionsForm = FORM_TABLE(kRobotOptionsFields, nullptr, kRobotOptionsActions);
const FormTable kDryRunForm = FORM_TABLE(kDryRunFields, nullptr, kDryRunActions);
const FormTable kRuninForm = FORM_TABLE(kRuninFields, nullptr, kRuninActions);
const FormTable kBurnbackForm = FORM_TABLE(kBurnbackFields, nullptr, kBurnbackActions);
const FormTable kCustomProcessForm = FORM_TABLE(kCustomProcessFields, nullptr, kCustomProcessActions);
const FormTable kCalibrationForm = FORM_TABLE(kCalibrationFields, nullptr, kCalibrationActions);
const FormTable kRetractStartForm = FORM_TABLE(kRetractStartFields, nullptr, kRetractStartActions);
