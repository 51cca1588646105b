#include "js_vars/RecordValues.h"

#include <cstring>
#include <new>

#include "sqlbridge/SqlBridge.h"

namespace {

// The readers of SqlBridge.h by their key count.
typedef int (*Reader0)(LPCWSTR, DWORD_PTR*);
typedef int (*Reader1)(int, LPCWSTR, DWORD_PTR*);
typedef int (*Reader3)(int, int, int, LPCWSTR, DWORD_PTR*);
typedef int (*Reader4)(int, int, int, int, LPCWSTR, DWORD_PTR*);
typedef int (*Reader5)(int, int, int, int, int, LPCWSTR, DWORD_PTR*);

template <typename Reader>
RecordReaderCall readerCall(Reader reader, BYTE keyCount, const char* name) {
  return {reinterpret_cast<void (*)()>(reader), keyCount, name};
}
RecordReaderCall readerOf(Reader0 r, const char* name) { return readerCall(r, 0, name); }
RecordReaderCall readerOf(Reader1 r, const char* name) { return readerCall(r, 1, name); }
RecordReaderCall readerOf(Reader3 r, const char* name) { return readerCall(r, 3, name); }
RecordReaderCall readerOf(Reader4 r, const char* name) { return readerCall(r, 4, name); }
RecordReaderCall readerOf(Reader5 r, const char* name) { return readerCall(r, 5, name); }
#define READER(name) readerOf(name, #name)

// The sequence state record: the members of the stage variables, in their
// output orders. The ramp, postflow, retract and trigger variables spell the
// time limits min_time and max_time.
const std::vector<RecordMember> kFullList = {
    {"time", kMemberWord, 58},          {"minTime", kMemberWord, 60},        {"maxTime", kMemberWord, 62},
    {"volts", kMemberWord, 12},         {"minVolts", kMemberWord, 14},       {"maxVolts", kMemberWord, 16},
    {"WFS", kMemberWord, 30},           {"minWFS", kMemberWord, 32},         {"maxWFS", kMemberWord, 34},
    {"arcAdjust", kMemberWord, 18},     {"minArcAdjust", kMemberWord, 20},   {"maxArcAdjust", kMemberWord, 22},
    {"inductance", kMemberWord, 36},    {"minInductance", kMemberWord, 38},  {"maxInductance", kMemberWord, 40},
    {"arcControl", kMemberWord, 42},    {"minArcControl", kMemberWord, 44},  {"maxArcControl", kMemberWord, 46},
    {"current", kMemberWord, 24},       {"minCurrent", kMemberWord, 26},     {"maxCurrent", kMemberWord, 28},
    {"seq_ID", kMemberWord, 0},         {"smart_enables", kMemberWord, 4},   {"tbd_enables", kMemberWord, 6},
    {"simple_enables", kMemberWord, 8}, {"manual_enables", kMemberWord, 10}};
const std::vector<RecordMember> kWeldList(kFullList.begin(), kFullList.end() - 4);
const std::vector<RecordMember> kStartRampList = {
    {"time", kMemberWord, 58},           {"min_time", kMemberWord, 60},    {"max_time", kMemberWord, 62},
    {"smart_enables", kMemberWord, 4},   {"tbd_enables", kMemberWord, 6},  {"simple_enables", kMemberWord, 8},
    {"manual_enables", kMemberWord, 10}, {"seq_ID", kMemberWord, 0}};
const std::vector<RecordMember> kRampList = {
    {"time", kMemberWord, 58},          {"seq_ID", kMemberWord, 0},       {"min_time", kMemberWord, 60},
    {"max_time", kMemberWord, 62},      {"smart_enables", kMemberWord, 4}, {"tbd_enables", kMemberWord, 6},
    {"simple_enables", kMemberWord, 8}, {"manual_enables", kMemberWord, 10}};
const std::vector<RecordMember> kRetractList = {
    {"time", kMemberWord, 58}, {"min_time", kMemberWord, 60}, {"max_time", kMemberWord, 62}, {"WFS", kMemberWord, 30},
    {"minWFS", kMemberWord, 32}, {"maxWFS", kMemberWord, 34}, {"seq_ID", kMemberWord, 0}};
// The trigger record: four trigger words, then a sequence state record at 8.
const std::vector<RecordMember> kTriggerList = {
    {"sequencer", kMemberWord, 0},       {"TDS", kMemberWord, 2},           {"DS", kMemberWord, 4},
    {"TPS", kMemberWord, 6},             {"time", kMemberWord, 66},         {"seq_ID", kMemberWord, 8},
    {"min_time", kMemberWord, 68},       {"max_time", kMemberWord, 70},     {"smart_enables", kMemberWord, 12},
    {"tbd_enables", kMemberWord, 14},    {"simple_enables", kMemberWord, 16}, {"manual_enables", kMemberWord, 18}};
const std::vector<RecordMember> kEnablesList = {{"seq_ID", kMemberWord, 0},         {"smart_enables", kMemberWord, 2},
                                                {"tbd_enables", kMemberWord, 4},    {"simple_enables", kMemberWord, 6},
                                                {"manual_enables", kMemberWord, 8}};
const std::vector<RecordMember> kCombinationList = {
    {"wiretypeIDs", kMemberWord, 2}, {"alloyIDs", kMemberWord, 4},  {"wiresizeIDs", kMemberWord, 6},
    {"gasIDs", kMemberWord, 8},      {"processIDs", kMemberWord, 0}, {"comboIDs", kMemberWord, 10},
    {"refNumber", kMemberWord, 12}};
// bankConfigID is printed as 1 in both bank files: the key only selects.
const std::vector<RecordMember> kBankConfigList = {{"errorEnables", kMemberWord, 4}, {"gunLdLen", kMemberWord, 6},
                                                   {"gunLdWFS", kMemberWord, 8},     {"encoderLock", kMemberWord, 10},
                                                   {"bankConfigID", kMemberOne, 0}};
// WeldConfigIDA/B: tps, tds, dualschedule (0 when absent) and the trigger mode.
const std::vector<RecordKey> kTriggerKeys = {
    {"tps", 0, kKeyInt}, {"tds", 0, kKeyInt}, {"dualschedule", 0, kKeyInt}, {nullptr, 0, kKeyTriggerMode}};

const WCHAR kTime[] = TEXT("H':'mm':'ss");
// Programs: the time with a trailing blank, then the two-digit-year date.
const RecordStamp kProgramStamp = {true, TEXT("H':'mm':'ss "), TEXT("M'/'dd'/'yy"), 10, ""};
// The system log and the short-term reset log: two blanks between, one from
// the picture.
const RecordStamp kSystemLogStamp = {false, kTime, TEXT("M'/'dd'/'yyyy "), 12, " "};
const RecordStamp kErrorLogStamp = {false, kTime, TEXT("M'/'dd'/'yyyy "), 12, ""};
const RecordStamp kShortDateStamp = {false, kTime, TEXT("M'/'dd'/'yy"), 10, " "};
const RecordStamp kLongDateStamp = {false, kTime, TEXT("M'/'dd'/'yyyy"), 12, " "};

}  // namespace

// slot, path, variable, reader, keys in call order, stride (0: one record as
// an object), members in output order, stamp, text when unavailable.
const std::vector<RecordRow> kRecordRows = {
    {9, "/program-setup/StartSequenceState.js", "StartSequenceState", READER(GetStartSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kFullList, nullptr,
     "'START SEQUENCE STATE UNAVAILABLE'"},
    {10, "/program-setup/StartRampSequenceState.js", "StartRampSequenceState", READER(GetStartRampSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kStartRampList, nullptr,
     "'START RAMP SEQUENCE STATE UNAVAILABLE'"},
    {11, "/program-setup/WeldSequenceState.js", "WeldSequenceState", READER(GetWeldSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kWeldList, nullptr,
     "'WELD SEQUENCE STATE UNAVAILABLE'"},
    {44, "/program-setup/WeldSequenceStateA.js", "WeldSequenceStateA", READER(GetWeldSequenceStateA), {{"weldNumber", 1, kKeyInt}}, 0, kWeldList, nullptr,
     "'WELD SEQUENCE STATE A UNAVAILABLE'"},
    {45, "/program-setup/WeldSequenceStateB.js", "WeldSequenceStateB", READER(GetWeldSequenceStateB), {{"weldNumber", 1, kKeyInt}}, 0, kWeldList, nullptr,
     "'WELD SEQUENCE STATE B UNAVAILABLE'"},
    {12, "/program-setup/CraterRampSequenceState.js", "CraterRampSequenceState", READER(GetCraterRampSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kRampList, nullptr,
     "'CRATER RAMP SEQUENCE STATE UNAVAILABLE'"},
    {13, "/program-setup/CraterSequenceState.js", "CraterSequenceState", READER(GetCraterSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kFullList, nullptr,
     "'CRATER SEQUENCE STATE UNAVAILABLE'"},
    {14, "/program-setup/RetractSequenceState.js", "RetractSequenceState", READER(GetRetractSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kRetractList, nullptr,
     "'RETRACT SEQUENCE STATE UNAVAILABLE'"},
    {15, "/program-setup/PostflowSequenceState.js", "PostflowSequenceState", READER(GetPostflowSequenceState), {{"weldNumber", 1, kKeyInt}}, 0, kRampList, nullptr,
     "'POSTFLOW SEQUENCE STATE UNAVAILABLE'"},
    {40, "/program-setup/ProgramTriggerDataWithPreflowTimeA.js", "ProgramTriggerDataWithPreflowTimeA", READER(GetProgramTriggerDataWithPreflowTimeA), {{"weld_number", 1, kKeyInt}}, 0, kTriggerList, nullptr,
     "'PROGRAM TRIGGER DATA WITH PREFLOW TIME A UNAVAILABLE'"},
    {41, "/program-setup/ProgramTriggerDataWithPreflowTimeB.js", "ProgramTriggerDataWithPreflowTimeB", READER(GetProgramTriggerDataWithPreflowTimeB), {{"weld_number", 1, kKeyInt}}, 0, kTriggerList, nullptr,
     "'PROGRAM TRIGGER DATA WITH PREFLOW TIME B UNAVAILABLE'"},
    {31, "/welder-config/WeldSeqWebPageProgInfo.js", "WeldSeqWebPageProgInfo", READER(GetWeldSeqWebPageProgInfo), {{"weld_number", 1, kKeyInt}}, 0, {{"sequencer", kMemberWord, 0}, {"VorT", kMemberWord, 2}, {"INDorSA", kMemberWord, 4}, {"WFSorAMPS", kMemberWord, 6}}, nullptr,
     "'WELD SEQ WEB PAGE PROG INFO UNAVAILABLE'"},
    {104, "/program-setup/PreflowEnables.js", "PreflowEnables", READER(GetPreflowEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'PREFLOW ENABLES UNAVAILABLE'"},
    {105, "/program-setup/StartEnables.js", "StartEnables", READER(GetStartEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'START ENABLES UNAVAILABLE'"},
    {106, "/program-setup/StartRampEnables.js", "StartRampEnables", READER(GetStartRampEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'START RAMP ENABLES UNAVAILABLE'"},
    {108, "/program-setup/CraterEnables.js", "CraterEnables", READER(GetCraterEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'CRATER ENABLES UNAVAILABLE'"},
    {109, "/program-setup/CraterRampEnables.js", "CraterRampEnables", READER(GetCraterRampEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'CRATER RAMP ENABLES UNAVAILABLE'"},
    {110, "/program-setup/RetractEnables.js", "RetractEnables", READER(GetRetractEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'RETRACT ENABLES UNAVAILABLE'"},
    {111, "/program-setup/PostflowEnables.js", "PostflowEnables", READER(GetPostflowEnables), {{"weldNumber", 1, kKeyInt}}, 0, kEnablesList, nullptr,
     "'POSTFLOW ENABLES UNAVAILABLE'"},

    {16, "/program-setup/ProcessCombinations.js", "ProcessCombinations", READER(GetProcessCombinations), {{nullptr, 1, kKeyConstant}}, 14, kCombinationList, nullptr,
     "'PROCESS COMBINATIONS UNAVAILABLE'"},
    {88, "/program-setup/MetricProcessCombinations.js", "MetricProcessCombinations", READER(GetMetricProcessCombinations), {{nullptr, 1, kKeyConstant}}, 14, kCombinationList, nullptr,
     "'METRIC PROCESS COMBINATIONS UNAVAILABLE'"},
    {122, "/program-setup/ProcessCombinationsSubset.js", "ProcessCombinationsSubset", READER(GetProcessCombinationsSubset), {{nullptr, 1, kKeyConstant}, {"machineSize", 1, kKeyInt}, {"metricEnable", 1, kKeyInt}}, 14, kCombinationList, nullptr,
     "'PROCESS COMBINATIONS SUBSET UNAVAILABLE'"},
    {18, "/program-setup/ComboID.js", "ComboID", READER(GetComboID), {{"wireTypeId", 1, kKeyInt}, {"wireAlloyId", 1, kKeyInt}, {"wireSizeId", 1, kKeyInt}, {"gasId", 1, kKeyInt}, {"processId", 1, kKeyInt}}, 14, {{"comboId", kMemberWord, 0}, {"wireweight", kMemberWord, 2}, {"uimname", kMemberText, 4, 10}}, nullptr,
     "'COMBO ID UNAVAILABLE'"},
    {7, "/program-setup/ProgramDetail.js", "ProgramDetail", READER(GetProgramDetail), {{"ProcessProgram", 1, kKeyWord}}, 616, {{"authors", kMemberText, 0, 32}, {"gases", kMemberText, 32, 36}, {"wiresizes", kMemberText, 68, 20}, {"alloys", kMemberText, 88, 20}, {"metals", kMemberText, 108, 20}, {"longnames", kMemberText, 128, 32}, {"shortNames", kMemberText, 176, 20}, {"programDescription", kMemberWideText, 196, 200}, {"shortCustomNames", kMemberText, 396, 20}, {"programCustomDescription", kMemberWideText, 416, 200}, {"times", kMemberStamp, 160}}, &kProgramStamp,
     "'PROGRAM DETAIL UNAVAILABLE'"},
    {59, "/program-setup/ProcessSetupWebPageAlloys.js", "ProcessSetupWebPageAlloys", READER(GetProcessSetupWebPageAlloys), {}, 22, {{"wiretypeIDs", kMemberWord, 2}, {"alloyIDs", kMemberWord, 0}, {"alloyindexes", kMemberWord, 4}, {"alloys", kMemberText, 6, 16}}, nullptr,
     "'PROCESS SETUP WEB PAGE ALLOYS UNAVAILABLE'"},
    {60, "/program-setup/ProcessSetupWebPageGases.js", "ProcessSetupWebPageGases", READER(GetProcessSetupWebPageGases), {}, 38, {{"gasIDs", kMemberWord, 0}, {"gases", kMemberText, 2, 36}}, nullptr,
     "'PROCESS SETUP WEB PAGE GASES UNAVAILABLE'"},
    {61, "/program-setup/ProcessSetupWebPageWireTypes.js", "ProcessSetupWebPageWireTypes", READER(GetProcessSetupWebPageWireTypes), {}, 22, {{"wiretypeIDs", kMemberWord, 0}, {"metals", kMemberText, 2, 20}}, nullptr,
     "'PROCESS SETUP WEB PAGE WIRE TYPES UNAVAILABLE'"},
    {62, "/program-setup/ProcessSetupWebPageWireSizes.js", "ProcessSetupWebPageWireSizes", READER(GetProcessSetupWebPageWireSizes), {}, 22, {{"wiresizeIDs", kMemberWord, 0}, {"sizes", kMemberText, 2, 20}}, nullptr,
     "'PROCESS SETUP WEB PAGE WIRE SIZES UNAVAILABLE'"},
    {63, "/program-setup/ProcessSetupWebPageProcesses.js", "ProcessSetupWebPageProcesses", READER(GetProcessSetupWebPageProcesses), {}, 12, {{"processIDs", kMemberWord, 0}, {"processes", kMemberText, 2, 10}}, nullptr,
     "'PROCESS SETUP WEB PAGE PROCESSES UNAVAILABLE'"},
    {64, "/more/ProcessesEnabled.js", "ProcessesEnabled", READER(GetProcessesEnabled), {{nullptr, 1, kKeyConstant}}, 2, {{"processId", kMemberWord, 0}}, nullptr,
     "'PROCESSES ENABLED UNAVAILABLE'"},
    {71, "/program-setup/WeldOneID.js", "WeldOneID", READER(GetWeldOneID), {}, 16, {{"weld1ID", kMemberWord, 0}, {"weldNumber", kMemberWord, 2}, {"volts", kMemberWord, 4}, {"WFS", kMemberWord, 10}, {"arcAdjust", kMemberWord, 6}, {"inductance", kMemberWord, 12}, {"arcControl", kMemberWord, 14}, {"current", kMemberWord, 8}}, nullptr,
     "'WELD ONE ID UNAVAILABLE'"},
    {72, "/program-setup/WeldCombinationNumbers.js", "WeldCombinationNumbers", READER(GetWeldCombinationNumbers), {}, 4, {{"weld_combo_number", kMemberWord, 0}, {"weld_number", kMemberWord, 2}}, nullptr,
     "'WELD COMBO NUMBERS UNAVAILABLE'"},
    {73, "/program-setup/BankComboAll.js", "BankComboAll", READER(GetBankComboAll), {}, 32, {{"comboTag", kMemberText, 22, 10}, {"comboBank", kMemberWord, 0}, {"comboVoltsOrTrim", kMemberWord, 6}, {"comboIndOrSA", kMemberWord, 8}, {"comboWfsOrAmps", kMemberWord, 10}, {"comboAlloy", kMemberWord, 12}, {"comboWireWeight", kMemberWord, 14}, {"comboID", kMemberWord, 4}, {"comboRunInWFS", kMemberWord, 16}, {"comboBurnbackTime", kMemberWord, 20}, {"comboAdaptiveOnOff", kMemberWord, 18}, {"comboNumber", kMemberWord, 2}}, nullptr,
     "'BANK COMBO ALL UNAVAILABLE'"},
    {42, "/program-setup/WeldConfigIDA.js", "WeldConfigIDA", READER(GetWeldConfigIDA), kTriggerKeys, 2, {{"weldConfigID", kMemberWord, 0}}, nullptr,
     "'WELD CONFIG ID A UNAVAILABLE'"},
    {43, "/program-setup/WeldConfigIDB.js", "WeldConfigIDB", READER(GetWeldConfigIDB), kTriggerKeys, 2, {{"weldConfigID", kMemberWord, 0}}, nullptr,
     "'WELD CONFIG ID B UNAVAILABLE'"},
    {132, "/program-setup/AllCustomPrograms.js", "AllCustomPrograms", READER(GetAllCustomPrograms), {{nullptr, 1, kKeyConstant}}, 70, {{"comboId", kMemberWord, 0}, {"authors", kMemberText, 2, 32}, {"shortNames", kMemberText, 50, 20}, {"times", kMemberStamp, 34}}, &kProgramStamp,
     "'ALL CUSTOM PROGRAMS UNAVAILABLE'"},
    {103, "/program-setup/CustomProgramShortName.js", "CustomProgramShortName", READER(GetCustomProgramShortName), {{"ProcessProgram", 1, kKeyWord}}, 240, {{"shortCustomNames", kMemberText, 20, 20}, {"programCustomDescription", kMemberWideText, 40, 200}, {"shortNames", kMemberText, 0, 20}}, nullptr,
     "'CUSTOM PROGRAM SHORT NAME UNAVAILABLE'"},

    {26, "/logs/HaldenSystemLog.js", "HaldenSystemLog", READER(GetSystemLog), {}, 284, {{"types", kMemberWord, 22}, {"times", kMemberStamp, 0}, {"systemDescription", kMemberWideText, 24, 260}}, &kSystemLogStamp,
     "'HALDEN SYSTEM LOG UNAVAILABLE'"},
    {47, "/logs/HaldenSystemLogNoBlob.js", "HaldenSystemLogNoBlob", READER(GetSystemLogNoBlob), {}, 24, {{"types", kMemberWord, 22}, {"times", kMemberStamp, 0}}, &kShortDateStamp,
     "'HALDEN SYSTEM LOG NO BLOB UNAVAILABLE'"},
    {46, "/diagnostics/ErrorLogNoBlob.js", "ErrorLogNoBlob", READER(GetErrorLogNoBlob), {}, 24, {{"types", kMemberWord, 22}, {"times", kMemberStamp, 0}}, &kErrorLogStamp,
     "'ERROR LOG NO BLOB UNAVAILABLE'"},
    {50, "/logs/SystemLogShortTermDataReset.js", "SystemLogShortTermDataReset", READER(GetSystemLogShortTermDataReset), {}, 24, {{"types", kMemberWord, 22}, {"times", kMemberStamp, 0}}, &kSystemLogStamp,
     "'SYSTEM LOG SHORT TERM DATA RESET UNAVAILABLE'"},
    {51, "/logs/SecondaryLogNoBlob.js", "SecondaryLogNoBlob", READER(GetSecondaryLogNoBlob), {}, 40, {{"measuredTorchVolts", kMemberFloat, 16}, {"measuredTorchResist", kMemberFloat, 20}, {"measuredSecVolts", kMemberFloat, 24}, {"measuredSecAmps", kMemberFloat, 28}, {"measuredSecResist", kMemberFloat, 32}, {"measuredPassFail", kMemberFloat, 36}, {"times", kMemberStamp, 0}}, &kLongDateStamp,
     "'SECONDARY LOG NO BLOB UNAVAILABLE'"},
    {141, "/logs/AutoCalDoneLog.js", "AutoCalDoneLog", READER(GetAutoCalDoneLog), {}, 24, {{"types", kMemberWord, 22}, {"times", kMemberStamp, 0}}, &kShortDateStamp,
     "'AUTO CAL DONE LOG UNAVAILABLE'"},

    {2, "/welder-config/bankconfig.js", "BankConfig", READER(GetBankConfig), {{"BankConfigID", 1, kKeyWord}}, 0, kBankConfigList, nullptr,
     "'BANK CONFIG UNAVAILABLE'"},
    {123, "/welder-config/bankconfigbanktwo.js", "BankConfigBankTwo", READER(GetBankConfigBankTwo), {{"BankConfigID", 2, kKeyWord}}, 0, kBankConfigList, nullptr,
     "'BANK CONFIG BANK TWO UNAVAILABLE'"},
    {52, "/welder-config/WeldCableConfig.js", "WeldCableConfig", READER(GetWeldCableConfig), {{"BankNumber", 1, kKeyWord}}, 0, {{"bankNumber", kMemberWord, 0}, {"torchID", kMemberWord, 2}, {"torchResistance", kMemberWord, 4}, {"torchName", kMemberText, 6, 20}, {"studOrSense", kMemberWord, 26}, {"positiveLength", kMemberWord, 28}, {"positiveSize", kMemberWord, 30}, {"negativeLength", kMemberWord, 32}, {"negativeSize", kMemberWord, 34}, {"secondaryResistance", kMemberWord, 36}}, nullptr,
     "'WELD CABLE CONFIG UNAVAILABLE'"},
    {53, "/welder-config/TorchData.js", "TorchData", READER(GetTorchData), {}, 24, {{"torchName", kMemberText, 4, 20}, {"torchID", kMemberWord, 0}, {"torchResistance", kMemberWord, 2}}, nullptr,
     "'TORCH DATA UNAVAILABLE'"},
    {54, "/logs/SpoolData.js", "SpoolData", READER(GetWebSpoolData), {{"BankNumber", 1, kKeyWord}}, 28, {{"spoolWeight", kMemberWord, 4}, {"spoolBank", kMemberWord, 2}, {"spoolID", kMemberWord, 0}, {"poundsUsed", kMemberWord, 6}, {"poundsLeft", kMemberWord, 8}, {"warningLevel", kMemberWord, 10}, {"spoolDate", kMemberStamp, 12}}, &kLongDateStamp,
     "'WEB SPOOL DATA UNAVAILABLE'"},
    {55, "/welder-config/BankComboWeldTag.js", "BankComboWeldTag", READER(GetBankComboWeldTag), {{"BankNumber", 1, kKeyInt}}, 12, {{"comboTag", kMemberText, 2, 10}, {"comboNumber", kMemberWord, 0}}, nullptr,
     "'BANK COMBO WELD TAG UNAVAILABLE'"},
    {56, "/more/WelderInformation.js", "WelderInformation", READER(GetWelderInformation), {}, 0, {{"assetNumber", kMemberText, 0, 10}, {"physicalLocation", kMemberText, 10, 32}, {"serviceDate", kMemberStamp, 42}}, &kLongDateStamp,
     "'WELDER INFORMATION UNAVAILABLE'"},
    {69, "/I2CInformation.js", "I2CInformation", READER(GetI2CInformation), {}, 0, {{"powerSourceSize", kMemberWord, 0}, {"powerSourceType", kMemberWord, 2}, {"setupOkay", kMemberWord, 4}}, nullptr,
     "'I2C UNAVAILABLE'"},
    {125, "/AIMBoardSettings.js", "AIMBoardSettings", READER(GetAimSettingsInfo), {}, 0, {{"robotIPAddr", kMemberFloat, 0}, {"robotMask", kMemberFloat, 4}, {"robotGateway", kMemberFloat, 8}, {"robotMAC0", kMemberWord, 12}, {"robotMAC1", kMemberWord, 14}, {"robotMAC2", kMemberWord, 16}, {"robotMAC3", kMemberWord, 18}, {"robotMAC4", kMemberWord, 20}, {"robotMAC5", kMemberWord, 22}, {"robotStaticDynamic", kMemberWord, 24}}, nullptr,
     "'AIM BOARD SETTINGS UNAVAILABLE'"},
    {6, "/welder-config/WeldListNumberTag.js", "WeldListNumberTag", READER(GetWeldListNumberTag), {{"BankNumber", 1, kKeyInt}}, 4, {{"weldNumber", kMemberWord, 0}, {"weldFileEnableStatus", kMemberWord, 2}}, nullptr,
     "'WELD LIST NUMBER TAG UNAVAILABLE'"},
    {147, "/program-setup/WeldListTouchStart.js", "WeldListTouchStart", READER(GetWeldListTouchStart), {{"BankNumber", 1, kKeyInt}}, 4, {{"weldNumber", kMemberWord, 0}, {"weldFileTouchStart", kMemberWord, 2}}, nullptr,
     "'WELD LIST TOUCH START UNAVAILABLE'"},
    {140, "/robot-config/AutoCalVariables.js", "AutoCalVariables", READER(GetAutoCalVariables), {}, 0, {{"minV", kMemberWord, 0}, {"maxV", kMemberWord, 2}, {"minWFS", kMemberWord, 4}, {"maxWFS", kMemberWord, 6}, {"minVCalPT", kMemberWord, 8}, {"maxVCalPT", kMemberWord, 10}, {"minWFSCalPT", kMemberWord, 12}, {"maxWFSCalPT", kMemberWord, 14}, {"minVStatus", kMemberWord, 16}, {"maxVStatus", kMemberWord, 18}, {"minWFSStatus", kMemberWord, 20}, {"maxWFSStatus", kMemberWord, 22}, {"manualCalState", kMemberWord, 24}}, nullptr,
     "'AUTO CAL VARIABLES UNAVAILABLE'"},

    {93, "/RegionAll.js", "RegionAll", READER(GetRegionAll), {}, 36, {{"regionRegion", kMemberText, 10, 26}, {"regionMetric", kMemberWord, 0}, {"regionCEProgram", kMemberWord, 2}, {"regionScaling", kMemberWord, 4}, {"regionLanguage", kMemberWord, 6}, {"regionSelected", kMemberWord, 8}}, nullptr,
     "'REGION ALL UNAVAILABLE'"},
    {100, "/robot-config/RobotMfgAll.js", "RobotMfgAll", READER(GetRobotMfgAll), {}, 30, {{"robotName", kMemberText, 4, 26}, {"robotID", kMemberWord, 0}, {"robotSelected", kMemberWord, 2}}, nullptr,
     "'ROBOT MFG ALL UNAVAILABLE'"},
    {118, "/WiFiEncryption.js", "WiFiEncryption", READER(GetWiFiEncryption), {}, 14, {{"encryptionType", kMemberText, 4, 10}, {"encryptionID", kMemberWord, 0}, {"encryptionSelected", kMemberWord, 2}}, nullptr,
     "'WIFI ENCRYPTION UNAVAILABLE'"},
    {119, "/WiFiAuthentication.js", "WiFiAuthentication", READER(GetWiFiAuthentication), {}, 24, {{"authenticationType", kMemberText, 4, 20}, {"authenticationID", kMemberWord, 0}, {"authenticationSelected", kMemberWord, 2}}, nullptr,
     "'WIFI AUTHENTICATION UNAVAILABLE'"},
    {115, "/SoftwareList.js", "SoftwareList", READER(GetSoftwareList), {}, 92, {{"Name", kMemberText, 0, 82}, {"Revision", kMemberText, 82, 10}}, nullptr,
     "'SOFTWARE LIST UNAVAILABLE'"},
    {116, "/SoftwarePartNumber.js", "SoftwarePartNumber", READER(GetSoftwarePartNumber), {}, 4, {{"Number", kMemberSigned, 0}}, nullptr,
     "'SOFTWARE PART NUMBER UNAVAILABLE'"},
    {117, "/FCCIDs.js", "FCCIDs", READER(GetFCCIDs), {}, 102, {{"Index", kMemberWord, 0}, {"Value", kMemberWideText, 2, 100}}, nullptr,
     "'FCC IDS UNAVAILABLE'"},
    {113, "/ErrorList.js", "ErrorList", READER(GetErrorList), {}, 102, {{"ID", kMemberWord, 0}, {"Description", kMemberWideText, 2, 100}}, nullptr,
     "'ERROR LIST UNAVAILABLE'"},
    {120, "/VeyraCoreInfo.js", "VeyraCoreInfo", READER(GetVeyraCoreInfo), {{nullptr, 1, kKeyConstant}}, 802, {{"Value", kMemberWideText, 2, 800}}, nullptr,
     "'VEYRA CORE INFO UNAVAILABLE'"},
    {102, "/program-setup/WeldListTagDescAll.js", "WeldListTagDescAll", READER(GetWeldListTagDescAll), {{nullptr, 1, kKeyConstant}}, 22, {{"shortNames", kMemberText, 2, 20}, {"weldNumber", kMemberWord, 0}}, nullptr,
     "'WELD LIST TAG DESC ALL UNAVAILABLE'"},
};

namespace {

const char kViewPrefix[] = "WebQuentaISAPI_";
const char kViewSuffix[] = "_View";

WORD wordAt(const BYTE* bytes) { return static_cast<WORD>(bytes[0] | (bytes[1] << 8)); }
DWORD dwordAt(const BYTE* bytes) { return wordAt(bytes) | (static_cast<DWORD>(wordAt(bytes + 2)) << 16); }

}  // namespace

// The value text as it is built: a buffer that doubles as it fills (a log of
// 500 entries is tens of kilobytes, built from thousands of pieces), handed
// to the SafeCString that is returned. After a failed allocation it takes
// nothing more and gives no text.
class RecordText {
 public:
  RecordText() : buffer(nullptr), length(0), capacity(0), failed(false) {}
  ~RecordText() { delete[] buffer; }

  void append(const char* text, DWORD count) {
    if (failed || count == 0) return;
    if (length + count + 1 > capacity) {
      DWORD size = capacity == 0 ? 512 : capacity;
      while (size < length + count + 1) size *= 2;
      char* fresh = new (std::nothrow) char[size];
      if (fresh == nullptr) {
        failed = true;
        return;
      }
      if (length != 0) std::memcpy(fresh, buffer, length);
      delete[] buffer;
      buffer = fresh;
      capacity = size;
    }
    std::memcpy(buffer + length, text, count);
    length += count;
  }
  void append(const char* text) { append(text, static_cast<DWORD>(std::strlen(text))); }
  void append(const SafeCString& text) { append(text.c_str(), text.getLength()); }
  // The decimal digits of `value`, with a minus sign before them when
  // `negative`: what "%u" and "%i" print, without the cost of a format.
  void appendDecimal(DWORD value, bool negative) {
    char digits[11];
    int count = 0;
    do {
      digits[sizeof digits - 1 - count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) digits[sizeof digits - 1 - count++] = '-';
    append(digits + sizeof digits - count, static_cast<DWORD>(count));
  }

  // The text as a new SafeCString that owns the buffer; null when anything failed.
  SafeCString* release() {
    if (failed || buffer == nullptr) return nullptr;
    buffer[length] = 0;
    SafeCString* text = new (std::nothrow) SafeCString(buffer, length + 1, true);
    if (text != nullptr) buffer = nullptr;
    return text;
  }

 private:
  char* buffer;
  DWORD length;
  DWORD capacity;
  bool failed;
};

namespace {

void appendAscii(RecordText* text, const WCHAR* ascii) {
  char narrow[16];
  DWORD count = 0;
  while (ascii[count] != 0 && count < sizeof narrow) {
    narrow[count] = static_cast<char>(ascii[count]);
    ++count;
  }
  text->append(narrow, count);
}

}  // namespace

RecordValue::RecordValue(const RecordRow& row)
    : JSVariable(SafeCString(row.variable)),
      result(0),
      mapHandle(SQLBRIDGE_NO_VIEW),
      recordAddress(SQLBRIDGE_NO_VIEW),
      releaseHandle(SQLBRIDGE_NO_RELEASE),
      cursor(0),
      row(row),
      viewName(SafeCString(kViewPrefix) + SafeCString(row.variable) + SafeCString(kViewSuffix)),
      fallback(row.fallback),
      timeBuffer(),
      dateBuffer(),
      wideField(),
      utf8() {}

int RecordValue::readRecords() {
  int keys[5] = {};
  for (size_t k = 0; k < row.keys.size() && k < 5; ++k) {
    const RecordKey& key = row.keys[k];
    SafeCString value;
    switch (key.rule) {
      case kKeyInt:
      case kKeyWord:
        keys[k] = getParameter(SafeCString(key.parameter), &value) ? value.toInt() : key.fallback;
        if (key.rule == kKeyWord) keys[k] &= 0xFFFF;
        break;
      case kKeyConstant:
        keys[k] = key.fallback;
        break;
      case kKeyTriggerMode: {
        int th = getParameter(SafeCString("th"), &value) ? value.toInt() : 0;
        int fourt = getParameter(SafeCString("fourt"), &value) ? value.toInt() : 0;
        keys[k] = th == 1 ? 1 : fourt == 1 ? 2 : 0;
        break;
      }
    }
  }
  const LPCWSTR view = viewName.c_str();
  switch (row.reader.keyCount) {
    case 0:
      return reinterpret_cast<Reader0>(row.reader.function)(view, &releaseHandle);
    case 1:
      return reinterpret_cast<Reader1>(row.reader.function)(keys[0], view, &releaseHandle);
    case 3:
      return reinterpret_cast<Reader3>(row.reader.function)(keys[0], keys[1], keys[2], view, &releaseHandle);
    case 4:
      return reinterpret_cast<Reader4>(row.reader.function)(keys[0], keys[1], keys[2], keys[3], view, &releaseHandle);
    default:
      return reinterpret_cast<Reader5>(row.reader.function)(keys[0], keys[1], keys[2], keys[3], keys[4], view,
                                                            &releaseHandle);
  }
}

// A wide field as UTF-8, up to its NUL or its end; a text cut inside a
// surrogate pair still converts (the lone half becomes U+FFFD).
void RecordValue::appendWide(RecordText* text, const BYTE* field, WORD bytes) {
  int chars = 0;
  while (chars < bytes / 2 && chars < 400) {
    WCHAR c = wordAt(field + 2 * chars);
    if (c == 0) break;
    wideField[chars++] = c;
  }
  int length = chars == 0 ? 0
                          : WideCharToMultiByte(CP_UTF8, 0, wideField, chars, utf8, static_cast<int>(sizeof utf8),
                                                nullptr, nullptr);
  text->append(JS_QUOTE);
  if (length > 0) text->append(utf8, static_cast<DWORD>(length));
  text->append(JS_QUOTE);
}

void RecordValue::appendElement(RecordText* text, const RecordMember& member, const BYTE* record) {
  const BYTE* field = record + member.offset;
  switch (member.kind) {
    case kMemberWord:
      text->appendDecimal(wordAt(field), false);
      break;
    case kMemberFloat:
      // "%f" of the double the 32-bit count converts to: a whole number, so
      // its six decimals are always zeros.
      text->appendDecimal(dwordAt(field), false);
      text->append(".000000", 7);
      break;
    case kMemberSigned: {
      // "%i" of the 32-bit value; its magnitude is taken in unsigned
      // arithmetic, where INT_MIN has one.
      DWORD bits = dwordAt(field);
      bool negative = (bits & 0x80000000u) != 0;
      text->appendDecimal(negative ? 0u - bits : bits, negative);
      break;
    }
    case kMemberText: {
      // Bounded: a text that fills its field has no terminator.
      const char* start = reinterpret_cast<const char*>(field);
      text->append(JS_QUOTE);
      text->append(start, static_cast<DWORD>(strnlen(start, member.size)));
      text->append(JS_QUOTE);
      break;
    }
    case kMemberWideText:
      appendWide(text, field, member.size);
      break;
    case kMemberStamp: {
      SYSTEMTIME time;
      std::memcpy(&time, field, sizeof time);
      const RecordStamp& stamp = *row.stamp;
      // A time the platform refuses (a zero-filled record) leaves its text empty.
      if (GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &time, stamp.timePicture, timeBuffer, 10) == 0) {
        timeBuffer[0] = 0;
      }
      if (GetDateFormatW(LOCALE_USER_DEFAULT, 0, &time, stamp.datePicture, dateBuffer, stamp.dateChars) == 0) {
        dateBuffer[0] = 0;
      }
      // Both texts are digits, blanks, colons and slashes: one byte each.
      text->append(JS_QUOTE);
      appendAscii(text, stamp.timeFirst ? timeBuffer : dateBuffer);
      text->append(stamp.between);
      appendAscii(text, stamp.timeFirst ? dateBuffer : timeBuffer);
      text->append(JS_QUOTE);
      break;
    }
    case kMemberOne:
      text->append(JS_ONE);
      break;
  }
}

SafeCString* RecordValue::getValue() {
  mapHandle = SQLBRIDGE_NO_VIEW;
  recordAddress = SQLBRIDGE_NO_VIEW;
  releaseHandle = SQLBRIDGE_NO_RELEASE;
  result = readRecords();
  LPVOID records = result > 0 ? CreateView(viewName.c_str(), &mapHandle) : nullptr;
  SafeCString* text;
  if (records == nullptr) {
    // No records (a count that is not positive), or no view of them: the
    // same for the page.
    text = new (std::nothrow) SafeCString(fallback);
  } else {
    recordAddress = reinterpret_cast<DWORD_PTR>(records);
    cursor = recordAddress;
    RecordText value;
    value.append(JS_OPEN_BRACE);
    // A single-record file reads the first record only, whatever the count.
    for (size_t m = 0; m < row.members.size(); ++m) {
      const RecordMember& member = row.members[m];
      if (m > 0) value.append(JS_COMMA);
      value.append(member.name);
      value.append(JS_COLON);
      if (row.stride == 0) {
        appendElement(&value, member, reinterpret_cast<const BYTE*>(cursor));
        continue;
      }
      value.append("[", 1);
      for (int k = 0; k < result; ++k) {
        if (k > 0) value.append(JS_COMMA);
        appendElement(&value, member, reinterpret_cast<const BYTE*>(cursor + static_cast<DWORD_PTR>(k) * row.stride));
      }
      value.append("]", 1);
    }
    value.append(JS_CLOSE_BRACE);
    text = value.release();
  }
  ReleaseView(releaseHandle);
  CleanupView(recordAddress, mapHandle);
  return text;
}

JSVariable* createRecordValue(const void* row) {
  return new (std::nothrow) RecordValue(*static_cast<const RecordRow*>(row));
}
