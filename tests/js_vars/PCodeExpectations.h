// The single parameter-code data files as the pages expect them: path, code,
// the text before the value, and the whole file when the value is
// unavailable. Kept apart from the module's own table on purpose, so a typo
// in either shows up.
#ifndef QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_
#define QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_

#include <windows.h>

#include <string>

struct ExpectedPCodeFile {
  const char* path;
  WORD code;
  const char* prefix;    // followed by the value and "};\n"
  const char* fallback;  // the whole file
};

const ExpectedPCodeFile kExpectedPCodeFiles[] = {
    {"/welder-config/WFSUnits.js", 101, "var WFSUnits = {Units:", "var WFSUnits = 'WFS UNITS UNAVAILABLE';\n"},
    {"/software/MsbPCM.js", 109, "var MsbPCM = {PCMMSB:", "var MsbPCM = 'MSB PCM UNAVAILABLE';\n"},
    {"/software/LsbPCM.js", 110, "var LsbPCM = {PCMLSB:", "var LsbPCM = 'LSB PCM UNAVAILABLE';\n"},
    {"/logs/TotalArcSeconds.js", 600, "var TotalArcSeconds = {TotalArcSeconds:", "var TotalArcSeconds = 'TOTAL ARC SECONDS UNAVAILABLE';\n"},
    {"/logs/TotalArcMinutes.js", 601, "var TotalArcMinutes = {TotalArcMinutes:", "var TotalArcMinutes = 'TOTAL ARC MINUTES UNAVAILABLE';\n"},
    {"/logs/TotalArcHours.js", 602, "var TotalArcHours = {TotalArcHours:", "var TotalArcHours = 'TOTAL ARC HOURS UNAVAILABLE';\n"},
    {"/logs/TotalArcStartsLS.js", 605, "var TotalArcStartsLS = {TotalArcStartsLS:", "var TotalArcStartsLS = 'TOTAL ARC STARTS LS UNAVAILABLE';\n"},
    {"/logs/TotalArcStartsMS.js", 606, "var TotalArcStartsMS = {TotalArcStartsMS:", "var TotalArcStartsMS = 'TOTAL ARC STARTS MS UNAVAILABLE';\n"},
    {"/logs/TotalWireUsedLS.js", 608, "var TotalWireUsedLS = {TotalWireUsedLS:", "var TotalWireUsedLS = 'TOTAL WIRE USED LS UNAVAILABLE';\n"},
    {"/logs/TotalWireUsedMS.js", 609, "var TotalWireUsedMS = {TotalWireUsedMS:", "var TotalWireUsedMS = 'TOTAL WIRE USED MS UNAVAILABLE';\n"},
    {"/logs/ShortTermArcHours.js", 603, "var ShortTermArcHours = {ArcHours:", "var ShortTermArcHours = 'SHORT TERM ARC HOURS UNAVAILABLE';\n"},
    {"/logs/ShortTermArcMinutes.js", 604, "var ShortTermArcMinutes = {ArcMinutes:", "var ShortTermArcMinutes = 'SHORT TERM ARC MINUTES UNAVAILABLE';\n"},
    {"/welder-config/OtherTorchInductance.js", 622, "var OtherTorchInductance = {OtherTorchInd:", "var OtherTorchInductance = 'OTHER TORCH INDUCTANCE UNAVAILABLE';\n"},
    {"/welder-config/OtherTorchLength.js", 621, "var OtherTorchLength = {OtherTorchLength:", "var OtherTorchLength = 'OtherTorchLength UNAVAILABLE';\n"},
    {"/welder-config/TriggerHoldDelayTime.js", 118, "var TriggerHoldDelayTime = {DelayTime:", "var TriggerHoldDelayTime = 'TRIGGER HOLD DELAY TIME UNAVAILABLE';\n"},
    {"/welder-config/ArcStartErrorTime.js", 190, "var ArcStartErrorTime = {Time:", "var ArcStartErrorTime = 'ARC START ERROR TIME UNAVAILABLE';\n"},
    {"/welder-config/JogSpeedMin.js", 624, "var JogSpeedMin = {MinSpeed:", "var JogSpeedMin = 'JOG SPEED MIN UNAVAILABLE';\n"},
    {"/welder-config/JogSpeedMax.js", 625, "var JogSpeedMax = {MaxSpeed:", "var JogSpeedMax = 'JOG SPEED MAX UNAVAILABLE';\n"},
    {"/welder-config/RetractMin.js", 626, "var RetractMin = {MinRetract:", "var RetractMin = 'RETRACT MIN UNAVAILABLE';\n"},
    {"/welder-config/RetractMax.js", 627, "var RetractMax = {MaxRetract:", "var RetractMax = 'RETRACT MAX UNAVAILABLE';\n"},
    {"/welder-config/PurgeTime.js", 628, "var PurgeTime = {Time:", "var PurgeTime = 'PURGE TIME UNAVAILABLE';\n"},
    {"/logs/ShortTermWireUsedLS.js", 631, "var ShortTermWireUsedLS = {WireUsedLS:", "var ShortTermWireUsedLS = 'SHORT TERM WIRE USED LS UNAVAILABLE';\n"},
    {"/logs/ShortTermWireUsedMS.js", 632, "var ShortTermWireUsedMS = {ShortTermWireUsedMS:", "var ShortTermWireUsedMS = 'SHORT TERM WIRE USED MS UNAVAILABLE';\n"},
    {"/welder-config/OtherTorchResistance.js", 623, "var OtherTorchResistance = {OtherTorchResistance:", "var OtherTorchResistance = 'OTHER TORCH RESISTANCE UNAVAILABLE';\n"},
    {"/welder-config/TriggerHoldInactiveTime.js", 615, "var TriggerHoldInactiveTime = {DelayTime:", "var TriggerHoldInactiveTime = 'TRIGGER HOLD INACTIVE TIME UNAVAILABLE';\n"},
    {"/logs/TotalPoundsUsedLS.js", 610, "var TotalPoundsUsedLS = {TotalPoundsUsedLS:", "var TotalPoundsUsedLS = 'TOTAL POUNDS USED LS UNAVAILABLE';\n"},
    {"/logs/TotalPoundsUsedMS.js", 611, "var TotalPoundsUsedMS = {TotalPoundsUsedMS:", "var TotalPoundsUsedMS = 'TOTAL POUNDS USED MS UNAVAILABLE';\n"},
    {"/logs/ShortTermPoundsUsedLS.js", 635, "var ShortTermPoundsUsedLS = {ShortTermPoundsUsedLS:", "var ShortTermPoundsUsedLS = 'SHORT TERM POUNDS USED LS UNAVAILABLE';\n"},
    {"/logs/ShortTermPoundsUsedMS.js", 636, "var ShortTermPoundsUsedMS = {ShortTermPoundsUsedMS:", "var ShortTermPoundsUsedMS = 'SHORT TERM POUNDS USED MS UNAVAILABLE';\n"},
    {"/welder-config/IgnoreWeldEnable.js", 638, "var IgnoreWeldEnable = {IgnoreWeldEnable:", "var IgnoreWeldEnable = 'IGNORE WELD ENABLE UNAVAILABLE';\n"},
    {"/welder-config/DualFeederCheck.js", 269, "var DualFeederCheck = {Dual:", "var DualFeederCheck = 'DUAL FEEDER CHECK UNAVAILABLE';\n"},
    {"/robot-config/RobotProgramSelect.js", 139, "var RobotProgramSelect = {RPS:", "var RobotProgramSelect = 'ROBOT PROGRAM SELECT UNITS UNAVAILABLE';\n"},
    {"/robot-config/DryRunStatus.js", 117, "var DryRunStatus = {DryRun:", "var DryRunStatus = 'DRY RUN STATUS UNAVAILABLE';\n"},
    {"/robot-config/RobotCommMethod.js", 639, "var RobotCommMethod = {CommMethod:", "var RobotCommMethod = 'ROBOT COMM METHOD UNAVAILABLE';\n"},
    {"/robot-config/AutoCalStatus.js", 196, "var AutoCalStatus = {Status:", "var AutoCalStatus = 'AUTO CAL STATUS CHECK UNAVAILABLE';\n"},
    {"/robot-config/AutoCalMinWFS.js", 197, "var AutoCalMinWFS = {MinWFS:", "var AutoCalMinWFS = 'AUTO CAL MIN WFS UNAVAILABLE';\n"},
    {"/robot-config/AutoCalMaxWFS.js", 198, "var AutoCalMaxWFS = {MaxWFS:", "var AutoCalMaxWFS = 'AUTO CAL MAX WFS UNAVAILABLE';\n"},
    {"/robot-config/AutoCalMinVolts.js", 199, "var AutoCalMinVolts = {MinVolts:", "var AutoCalMinVolts = 'AUTO CAL MIN VOLTS UNAVAILABLE';\n"},
    {"/robot-config/AutoCalMaxVolts.js", 200, "var AutoCalMaxVolts = {MaxVolts:", "var AutoCalMaxVolts = 'AUTO CAL MAX VOLTS UNAVAILABLE';\n"},
    {"/welder-config/ArcErrorTime.js", 390, "var ArcErrorTime = {Time:", "var ArcErrorTime = 'ARC ERROR TIME UNAVAILABLE';\n"},
    {"/welder-config/ArcErrorVolts.js", 391, "var ArcErrorVolts = {Volts:", "var ArcErrorVolts = 'ARC ERROR VOLTS UNAVAILABLE';\n"},
    {"/logs/DualShortTermArcHours.js", 644, "var DualShortTermArcHours = {DualArcHours:", "var DualShortTermArcHours = 'DUAL SHORT TERM ARC HOURS UNAVAILABLE';\n"},
    {"/logs/DualShortTermArcMinutes.js", 645, "var DualShortTermArcMinutes = {DualArcMinutes:", "var DualShortTermArcMinutes = 'DUAL SHORT TERM ARC MINUTES UNAVAILABLE';\n"},
    {"/logs/DualShortTermPoundsUsedLS.js", 642, "var DualShortTermPoundsUsedLS = {DualShortTermPoundsUsedLS:", "var DualShortTermPoundsUsedLS = 'DUAL SHORT TERM POUNDS USED LS UNAVAILABLE';\n"},
    {"/logs/DualShortTermPoundsUsedMS.js", 643, "var DualShortTermPoundsUsedMS = {DualShortTermPoundsUsedMS:", "var DualShortTermPoundsUsedMS = 'DUAL SHORT TERM POUNDS USED MS UNAVAILABLE';\n"},
    {"/logs/DualShortTermWireUsedLS.js", 640, "var DualShortTermWireUsedLS = {DualWireUsedLS:", "var DualShortTermWireUsedLS = 'DUAL SHORT TERM WIRE USED LS UNAVAILABLE';\n"},
    {"/logs/DualShortTermWireUsedMS.js", 641, "var DualShortTermWireUsedMS = {DualShortTermWireUsedMS:", "var DualShortTermWireUsedMS = 'DUAL SHORT TERM WIRE USED MS UNAVAILABLE';\n"},
    {"/WeldFileEnableCheck.js", 629, "var WeldFileEnableCheck = {WeldFileEnable:", "var WeldFileEnableCheck = 'WELD FILE ENABLE CHECK UNAVAILABLE';\n"},
    {"/MetricEnableCheck.js", 101, "var MetricEnableCheck = {MetricEnable:", "var MetricEnableCheck = 'METRIC ENABLE CHECK UNAVAILABLE';\n"},
    {"/welder-config/ArcErrorAmps.js", 392, "var ArcErrorAmps = {Amps:", "var ArcErrorAmps = 'ARC ERROR AMPS UNAVAILABLE';\n"},
    {"/robot-config/MsbDIO.js", 648, "var MsbDIO = {DIOMSB:", "var MsbDIO = 'MSB DIO UNAVAILABLE';\n"},
    {"/robot-config/LsbDIO.js", 647, "var LsbDIO = {DIOLSB:", "var LsbDIO = 'LSB DIO UNAVAILABLE';\n"},
    {"/welder-config/MissedWeldErrorTime.js", 650, "var MissedWeldErrorTime = {Time:", "var MissedWeldErrorTime = 'MISSED WELD ERROR TIME UNAVAILABLE';\n"},
    {"/CEProgramsEnableCheck.js", 651, "var CEProgramsEnableCheck = {CEPrograms:", "var CEProgramsEnableCheck = 'CE PROGRAMS ENABLE CHECK UNAVAILABLE';\n"},
    {"/ArcAdjustScalingCheck.js", 652, "var ArcAdjustScalingCheck = {AAScaling:", "var ArcAdjustScalingCheck = 'ARC ADJUST SCALING CHECK UNAVAILABLE';\n"},
    {"/program-setup/TriggerFunctionLocks.js", 653, "var TriggerFunctionLocks = {TriggerLocks:", "var TriggerFunctionLocks = 'TRIGGER FUNCTION LOCKS UNAVAILABLE';\n"},
    {"/program-setup/SequencerLocks.js", 654, "var SequencerLocks = {SequencerLock:", "var SequencerLocks = 'SEQUENCER LOCKS UNAVAILABLE';\n"},
    {"/program-setup/RetractDelayTime.js", 657, "var RetractDelayTime = {RetractDelay:", "var RetractDelayTime = 'RETRACT DELAY TIME UNAVAILABLE';\n"},
    {"/welder-config/RetractDistance.js", 659, "var RetractDistance = {Distance:", "var RetractDistance = 'RETRACT DISTANCE UNAVAILABLE';\n"},
    {"/program-setup/UserProgramNumber.js", 660, "var UserProgramNumber = {Number:", "var UserProgramNumber = 'USER PROGRAM NUMBER UNAVAILABLE';\n"},
    {"/robot-config/RobotManufacturer.js", 136, "var RobotManufacturer = {Manufacturer:", "var RobotManufacturer = 'ROBOT MANUFACTURER UNAVAILABLE';\n"},
    {"/VeyraEnableCheck.js", 666, "var VeyraEnableCheck = {VeyraEnable:", "var VeyraEnableCheck = 'VEYRA ENABLE CHECK UNAVAILABLE';\n"},
    {"/VeyraCoreEnableCheck.js", 667, "var VeyraCoreEnableCheck = {VeyraCoreEnable:", "var VeyraCoreEnableCheck = 'VEYRA CORE ENABLE CHECK UNAVAILABLE';\n"},
    {"/welder-config/slopedisplaystatus.js", 672, "var SlopeDisplayStatus = {Status:", "var SlopeDisplayStatus = 'SLOPE DISPLAY STATUS UNAVAILABLE';\n"},
    {"/SetValueStatus.js", 125, "var SetValueStatus = {SetValue:", "var SetValueStatus = 'SET VALUE STATUS UNAVAILABLE';\n"},
    {"/SynergicMigCheck.js", 673, "var SynergicMigCheck = {Synergic:", "var SynergicMigCheck = 'SYNERGIC MIG CHECK UNAVAILABLE';\n"},
    {"/GlobalWFSAmpsCommand.js", 674, "var GlobalWFSAmpsCommand = {WFSAmps:", "var GlobalWFSAmpsCommand = 'GLOBAL WFS AMPS COMMAND UNAVAILABLE';\n"},
    {"/welder-config/SecondaryResistance.js", 655, "var SecondaryResistance = {ResistanceEnable:", "var SecondaryResistance = 'SECONDARY RESISTANCE UNAVAILABLE';\n"},
    {"/welder-config/SecondaryInductance.js", 656, "var SecondaryInductance = {InductanceEnable:", "var SecondaryInductance = 'SECONDARY INDUCTANCE UNAVAILABLE';\n"},
    {"/welder-config/SecondaryTale.js", 665, "var SecondaryTale = {TaleEnable:", "var SecondaryTale = 'SECONDARY TALE UNAVAILABLE';\n"},
    {"/DualPrograms.js", 124, "var DualPrograms = {Programs:", "var DualPrograms = 'DUAL PROGRAMS UNAVAILABLE';\n"},
    {"/welder-config/CoolerStatus.js", 676, "var CoolerStatus = {Status:", "var CoolerStatus = 'COOLER STATUS UNAVAILABLE';\n"},
    {"/welder-config/CoolerEnable.js", 675, "var CoolerEnable = {Status:", "var CoolerEnable = 'COOLER ENABLEW UNAVAILABLE';\n"},
};

const size_t kExpectedPCodeFileCount = sizeof(kExpectedPCodeFiles) / sizeof(kExpectedPCodeFiles[0]);

const char kDiagnosticsPath[] = "/welder-config/WeldMonitoringDiagnostics.js";

inline std::string expectedPCodeText(const ExpectedPCodeFile& file, unsigned value) {
  return std::string(file.prefix) + std::to_string(value) + "};\n";
}

inline std::string expectedDiagnostics(unsigned veyra, unsigned job, unsigned part, unsigned weld) {
  return "var WeldMonitorDiagnostics = {VeyraEnabled:" + std::to_string(veyra) + ",JobID:" + std::to_string(job) +
         ",PartID:" + std::to_string(part) + ",WeldID:" + std::to_string(weld) + "};\n";
}

#endif  // QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_
