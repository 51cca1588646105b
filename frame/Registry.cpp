#include "frame/Registry.h"

#include <new>

#include "forms/ParameterCodeForms.h"
#include "forms/PostResponse.h"
#include "forms/WelderInfoForm.h"
#include "js_vars/CurrentTime.h"
#include "js_vars/DIOCommunication.h"
#include "js_vars/PCodeValues.h"
#include "js_vars/QueryEcho.h"
#include "links/CurrentStatus.h"

// Data files in registry order. Entries 106 and 107 carry the same path on
// purpose: both generators are built and deleted, entry 107 is never served.
const DataFileEntry kDataFiles[JS_FILE_COUNT] = {
    {"/current_status.js", createCurrentStatus},  // 1
    {"/welder-config/bankconfig.js", nullptr},  // 2
    {"/welder-config/WFSUnits.js", createPCodeValue},  // 3
    {"/software/MsbPCM.js", createPCodeValue},  // 4
    {"/software/LsbPCM.js", createPCodeValue},  // 5
    {"/welder-config/WeldListNumberTag.js", nullptr},  // 6
    {"/program-setup/ProgramDetail.js", nullptr},  // 7
    {"/querytest.js", createQueryEcho},  // 8
    {"/program-setup/StartSequenceState.js", nullptr},  // 9
    {"/program-setup/StartRampSequenceState.js", nullptr},  // 10
    {"/program-setup/WeldSequenceState.js", nullptr},  // 11
    {"/program-setup/CraterRampSequenceState.js", nullptr},  // 12
    {"/program-setup/CraterSequenceState.js", nullptr},  // 13
    {"/program-setup/RetractSequenceState.js", nullptr},  // 14
    {"/program-setup/PostflowSequenceState.js", nullptr},  // 15
    {"/program-setup/ProcessCombinations.js", nullptr},  // 16
    {"/WIN_IP_info.js", nullptr},  // 17
    {"/program-setup/ComboID.js", nullptr},  // 18
    {"/logs/TotalArcSeconds.js", createPCodeValue},  // 19
    {"/logs/TotalArcMinutes.js", createPCodeValue},  // 20
    {"/logs/TotalArcHours.js", createPCodeValue},  // 21
    {"/logs/TotalArcStartsLS.js", createPCodeValue},  // 22
    {"/logs/TotalArcStartsMS.js", createPCodeValue},  // 23
    {"/logs/TotalWireUsedLS.js", createPCodeValue},  // 24
    {"/logs/TotalWireUsedMS.js", createPCodeValue},  // 25
    {"/logs/HaldenSystemLog.js", nullptr},  // 26
    {"/logs/ShortTermArcHours.js", createPCodeValue},  // 27
    {"/logs/ShortTermArcMinutes.js", createPCodeValue},  // 28
    {"/welder-config/OtherTorchInductance.js", createPCodeValue},  // 29
    {"/welder-config/OtherTorchLength.js", createPCodeValue},  // 30
    {"/welder-config/WeldSeqWebPageProgInfo.js", nullptr},  // 31
    {"/CurrentTime.js", createCurrentTime},  // 32
    {"/welder-config/TriggerHoldDelayTime.js", createPCodeValue},  // 33
    {"/welder-config/ArcStartErrorTime.js", createPCodeValue},  // 34
    {"/welder-config/JogSpeedMin.js", createPCodeValue},  // 35
    {"/welder-config/JogSpeedMax.js", createPCodeValue},  // 36
    {"/welder-config/RetractMin.js", createPCodeValue},  // 37
    {"/welder-config/RetractMax.js", createPCodeValue},  // 38
    {"/welder-config/PurgeTime.js", createPCodeValue},  // 39
    {"/program-setup/ProgramTriggerDataWithPreflowTimeA.js", nullptr},  // 40
    {"/program-setup/ProgramTriggerDataWithPreflowTimeB.js", nullptr},  // 41
    {"/program-setup/WeldConfigIDA.js", nullptr},  // 42
    {"/program-setup/WeldConfigIDB.js", nullptr},  // 43
    {"/program-setup/WeldSequenceStateA.js", nullptr},  // 44
    {"/program-setup/WeldSequenceStateB.js", nullptr},  // 45
    {"/diagnostics/ErrorLogNoBlob.js", nullptr},  // 46
    {"/logs/HaldenSystemLogNoBlob.js", nullptr},  // 47
    {"/logs/ShortTermWireUsedLS.js", createPCodeValue},  // 48
    {"/logs/ShortTermWireUsedMS.js", createPCodeValue},  // 49
    {"/logs/SystemLogShortTermDataReset.js", nullptr},  // 50
    {"/logs/SecondaryLogNoBlob.js", nullptr},  // 51
    {"/welder-config/WeldCableConfig.js", nullptr},  // 52
    {"/welder-config/TorchData.js", nullptr},  // 53
    {"/logs/SpoolData.js", nullptr},  // 54
    {"/welder-config/BankComboWeldTag.js", nullptr},  // 55
    {"/more/WelderInformation.js", nullptr},  // 56
    {"/welder-config/OtherTorchResistance.js", createPCodeValue},  // 57
    {"/welder-config/TriggerHoldInactiveTime.js", createPCodeValue},  // 58
    {"/program-setup/ProcessSetupWebPageAlloys.js", nullptr},  // 59
    {"/program-setup/ProcessSetupWebPageGases.js", nullptr},  // 60
    {"/program-setup/ProcessSetupWebPageWireTypes.js", nullptr},  // 61
    {"/program-setup/ProcessSetupWebPageWireSizes.js", nullptr},  // 62
    {"/program-setup/ProcessSetupWebPageProcesses.js", nullptr},  // 63
    {"/more/ProcessesEnabled.js", nullptr},  // 64
    {"/logs/TotalPoundsUsedLS.js", createPCodeValue},  // 65
    {"/logs/TotalPoundsUsedMS.js", createPCodeValue},  // 66
    {"/logs/ShortTermPoundsUsedLS.js", createPCodeValue},  // 67
    {"/logs/ShortTermPoundsUsedMS.js", createPCodeValue},  // 68
    {"/I2CInformation.js", nullptr},  // 69
    {"/welder-config/IgnoreWeldEnable.js", createPCodeValue},  // 70
    {"/program-setup/WeldOneID.js", nullptr},  // 71
    {"/program-setup/WeldCombinationNumbers.js", nullptr},  // 72
    {"/program-setup/BankComboAll.js", nullptr},  // 73
    {"/welder-config/DualFeederCheck.js", createPCodeValue},  // 74
    {"/robot-config/RobotProgramSelect.js", createPCodeValue},  // 75
    {"/robot-config/DryRunStatus.js", createPCodeValue},  // 76
    {"/robot-config/RobotCommMethod.js", createPCodeValue},  // 77
    {"/welder-config/ArcErrorTime.js", createPCodeValue},  // 78
    {"/welder-config/ArcErrorVolts.js", createPCodeValue},  // 79
    {"/logs/DualShortTermArcHours.js", createPCodeValue},  // 80
    {"/logs/DualShortTermArcMinutes.js", createPCodeValue},  // 81
    {"/logs/DualShortTermPoundsUsedLS.js", createPCodeValue},  // 82
    {"/logs/DualShortTermPoundsUsedMS.js", createPCodeValue},  // 83
    {"/logs/DualShortTermWireUsedLS.js", createPCodeValue},  // 84
    {"/logs/DualShortTermWireUsedMS.js", createPCodeValue},  // 85
    {"/WeldFileEnableCheck.js", createPCodeValue},  // 86
    {"/MetricEnableCheck.js", createPCodeValue},  // 87
    {"/program-setup/MetricProcessCombinations.js", nullptr},  // 88
    {"/welder-config/ArcErrorAmps.js", createPCodeValue},  // 89
    {"/DIOCommunication.js", createDIOCommunication},  // 90
    {"/welder-config/MissedWeldErrorTime.js", createPCodeValue},  // 91
    {"/CEProgramsEnableCheck.js", createPCodeValue},  // 92
    {"/RegionAll.js", nullptr},  // 93
    {"/ArcAdjustScalingCheck.js", createPCodeValue},  // 94
    {"/program-setup/TriggerFunctionLocks.js", createPCodeValue},  // 95
    {"/program-setup/SequencerLocks.js", createPCodeValue},  // 96
    {"/program-setup/RetractDelayTime.js", createPCodeValue},  // 97
    {"/welder-config/RetractDistance.js", createPCodeValue},  // 98
    {"/program-setup/UserProgramNumber.js", createPCodeValue},  // 99
    {"/robot-config/RobotMfgAll.js", nullptr},  // 100
    {"/robot-config/RobotManufacturer.js", createPCodeValue},  // 101
    {"/program-setup/WeldListTagDescAll.js", nullptr},  // 102
    {"/program-setup/CustomProgramShortName.js", nullptr},  // 103
    {"/program-setup/PreflowEnables.js", nullptr},  // 104
    {"/program-setup/StartEnables.js", nullptr},  // 105
    {"/program-setup/StartRampEnables.js", nullptr},  // 106
    {"/program-setup/StartRampEnables.js", nullptr},  // 107
    {"/program-setup/CraterEnables.js", nullptr},  // 108
    {"/program-setup/CraterRampEnables.js", nullptr},  // 109
    {"/program-setup/RetractEnables.js", nullptr},  // 110
    {"/program-setup/PostflowEnables.js", nullptr},  // 111
    {"/VeyraEnableCheck.js", createPCodeValue},  // 112
    {"/ErrorList.js", nullptr},  // 113
    {"/VeyraCoreEnableCheck.js", createPCodeValue},  // 114
    {"/SoftwareList.js", nullptr},  // 115
    {"/SoftwarePartNumber.js", nullptr},  // 116
    {"/FCCIDs.js", nullptr},  // 117
    {"/WiFiEncryption.js", nullptr},  // 118
    {"/WiFiAuthentication.js", nullptr},  // 119
    {"/VeyraCoreInfo.js", nullptr},  // 120
    {"/WIN_IP_wifi_info.js", nullptr},  // 121
    {"/program-setup/ProcessCombinationsSubset.js", nullptr},  // 122
    {"/welder-config/bankconfigbanktwo.js", nullptr},  // 123
    {"/welder-config/slopedisplaystatus.js", createPCodeValue},  // 124
    {"/AIMBoardSettings.js", nullptr},  // 125
    {"/SetValueStatus.js", createPCodeValue},  // 126
    {"/SynergicMigCheck.js", createPCodeValue},  // 127
    {"/GlobalWFSAmpsCommand.js", createPCodeValue},  // 128
    {"/welder-config/SecondaryResistance.js", createPCodeValue},  // 129
    {"/welder-config/SecondaryInductance.js", createPCodeValue},  // 130
    {"/welder-config/SecondaryTale.js", createPCodeValue},  // 131
    {"/program-setup/AllCustomPrograms.js", nullptr},  // 132
    {"/WIN_FTP_info.js", nullptr},  // 133
    {"/DualPrograms.js", createPCodeValue},  // 134
    {"/robot-config/AutoCalStatus.js", createPCodeValue},  // 135
    {"/robot-config/AutoCalMinWFS.js", createPCodeValue},  // 136
    {"/robot-config/AutoCalMaxWFS.js", createPCodeValue},  // 137
    {"/robot-config/AutoCalMinVolts.js", createPCodeValue},  // 138
    {"/robot-config/AutoCalMaxVolts.js", createPCodeValue},  // 139
    {"/robot-config/AutoCalVariables.js", nullptr},  // 140
    {"/logs/AutoCalDoneLog.js", nullptr},  // 141
    {"/welder-config/WeldMonitoringDiagnostics.js", createWeldMonitorDiagnostics},  // 142
    {"/robot-config/MsbDIO.js", createPCodeValue},  // 143
    {"/robot-config/LsbDIO.js", createPCodeValue},  // 144
    {"/welder-config/CoolerStatus.js", createPCodeValue},  // 145
    {"/welder-config/CoolerEnable.js", createPCodeValue},  // 146
    {"/program-setup/WeldListTouchStart.js", nullptr},  // 147
};

// Form handlers in registry order. "/setup/atuocal.html" is spelled so on the
// pages that post to it.
const FormEntry kForms[POST_RESPONSE_COUNT] = {
    {"/setup/error_config.min.html", nullptr},  // 1
    {"/setup/error_edit.min.html", createArcErrorLimitsForm},  // 2
    {"/setup/jog_purge.min.html", createJogPurgeForm},  // 3
    {"/setup/weld_cable.min.html", nullptr},  // 4
    {"/setup/spool.min.html", nullptr},  // 5
    {"/setup/welder_info.min.html", createWelderInfoForm},  // 6
    {"/setup/region.min.html", nullptr},  // 7
    {"/data_management/data_management.min.html", nullptr},  // 8
    {"/data_management/factory_reset.min.html", createFactoryResetForm},  // 9
    {"/arc_management/process_enables.min.html", nullptr},  // 10
    {"/arc_management/trigger_hold_edit.min.html", createTriggerHoldForm},  // 11
    {"/arc_management/advanced_triggers.min.html", nullptr},  // 12
    {"/arc_management/program_naming.min.html", nullptr},  // 13
    {"/arc_management/enables_locks.min.html", nullptr},  // 14
    {"/arc_management/process_selection.html", nullptr},  // 15
    {"/arc_management/weld_file_setup.min.html", nullptr},  // 16
    {"/arc_management/time_sequence_adjust.min.html", nullptr},  // 17
    {"/arc_management/retract_sequence_adjust.min.html", nullptr},  // 18
    {"/arc_management/full_sequence_adjust.min.html", nullptr},  // 19
    {"/setup/ethernet.min.html", nullptr},  // 20
    {"/setup/alt_config.min.html", nullptr},  // 21
    {"/setup/data_connections.min.html", nullptr},  // 22
    {"/setup/robot_options.html", nullptr},  // 23
    {"/setup/dry_run.html", nullptr},  // 24
    {"/setup/wifi.min.html", nullptr},  // 25
    {"/arc_management/runin_sequence_adjust.min.html", nullptr},  // 26
    {"/arc_management/custom_process_selection.html", nullptr},  // 27
    {"/setup/atuocal.html", nullptr},  // 28
    {"/arc_management/burnback_sequence_adjust.html", nullptr},  // 29
    {"/arc_management/retract_start.html", nullptr},  // 30
};

JSVariable* JSVariableTable[JS_FILE_COUNT];
JSFile* JSFileTable[JS_FILE_COUNT];
PostResponse* PostResponseTable[POST_RESPONSE_COUNT];

void buildRegistries() {
  // Every generator exists before the first data file is made.
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    JSVariableTable[k] = kDataFiles[k].create ? kDataFiles[k].create(kDataFiles[k].path) : nullptr;
  }
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    JSFileTable[k] = nullptr;
    // A file without its generator would answer an empty text; it stays out.
    if (JSVariableTable[k] == nullptr) continue;
    JSFile* file = new (std::nothrow) JSFile(SafeCString(kDataFiles[k].path));
    if (file == nullptr) continue;
    if (file->getPath().getStatus() < 0 || !file->addVariable(JSVariableTable[k])) {
      delete file;
      continue;
    }
    JSFileTable[k] = file;
  }
  for (int k = 0; k < POST_RESPONSE_COUNT; ++k) {
    PostResponseTable[k] = kForms[k].create ? kForms[k].create() : nullptr;
  }
}

void destroyRegistries() {
  for (int k = 0; k < JS_FILE_COUNT; ++k) delete JSFileTable[k];
  for (int k = 0; k < JS_FILE_COUNT; ++k) delete JSVariableTable[k];
  for (int k = 0; k < POST_RESPONSE_COUNT; ++k) delete PostResponseTable[k];
}
