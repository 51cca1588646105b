#include "js_vars/PCodeValues.h"

#include <cstring>
#include <new>

#include "sqlbridge/SqlBridge.h"

// path, variable, parameter code, member, text when unavailable.
// Several rows share a code (101, 666) or a member name (Time, Status); the
// irregular fallbacks are the pages' own and stay as they are: "ROBOT PROGRAM
// SELECT UNITS", "OtherTorchLength" in mixed case, "COOLER ENABLEW".
const PCodeRow kPCodeRows[] = {
    {"/welder-config/WFSUnits.js", "WFSUnits", 101, "Units", "'WFS UNITS UNAVAILABLE'"},
    {"/software/MsbPCM.js", "MsbPCM", 109, "PCMMSB", "'MSB PCM UNAVAILABLE'"},
    {"/software/LsbPCM.js", "LsbPCM", 110, "PCMLSB", "'LSB PCM UNAVAILABLE'"},
    {"/logs/TotalArcSeconds.js", "TotalArcSeconds", 600, "TotalArcSeconds", "'TOTAL ARC SECONDS UNAVAILABLE'"},
    {"/logs/TotalArcMinutes.js", "TotalArcMinutes", 601, "TotalArcMinutes", "'TOTAL ARC MINUTES UNAVAILABLE'"},
    {"/logs/TotalArcHours.js", "TotalArcHours", 602, "TotalArcHours", "'TOTAL ARC HOURS UNAVAILABLE'"},
    {"/logs/TotalArcStartsLS.js", "TotalArcStartsLS", 605, "TotalArcStartsLS", "'TOTAL ARC STARTS LS UNAVAILABLE'"},
    {"/logs/TotalArcStartsMS.js", "TotalArcStartsMS", 606, "TotalArcStartsMS", "'TOTAL ARC STARTS MS UNAVAILABLE'"},
    {"/logs/TotalWireUsedLS.js", "TotalWireUsedLS", 608, "TotalWireUsedLS", "'TOTAL WIRE USED LS UNAVAILABLE'"},
    {"/logs/TotalWireUsedMS.js", "TotalWireUsedMS", 609, "TotalWireUsedMS", "'TOTAL WIRE USED MS UNAVAILABLE'"},
    {"/logs/ShortTermArcHours.js", "ShortTermArcHours", 603, "ArcHours", "'SHORT TERM ARC HOURS UNAVAILABLE'"},
    {"/logs/ShortTermArcMinutes.js", "ShortTermArcMinutes", 604, "ArcMinutes", "'SHORT TERM ARC MINUTES UNAVAILABLE'"},
    {"/welder-config/OtherTorchInductance.js", "OtherTorchInductance", 622, "OtherTorchInd", "'OTHER TORCH INDUCTANCE UNAVAILABLE'"},
    {"/welder-config/OtherTorchLength.js", "OtherTorchLength", 621, "OtherTorchLength", "'OtherTorchLength UNAVAILABLE'"},
    {"/welder-config/TriggerHoldDelayTime.js", "TriggerHoldDelayTime", 118, "DelayTime", "'TRIGGER HOLD DELAY TIME UNAVAILABLE'"},
    {"/welder-config/ArcStartErrorTime.js", "ArcStartErrorTime", 190, "Time", "'ARC START ERROR TIME UNAVAILABLE'"},
    {"/welder-config/JogSpeedMin.js", "JogSpeedMin", 624, "MinSpeed", "'JOG SPEED MIN UNAVAILABLE'"},
    {"/welder-config/JogSpeedMax.js", "JogSpeedMax", 625, "MaxSpeed", "'JOG SPEED MAX UNAVAILABLE'"},
    {"/welder-config/RetractMin.js", "RetractMin", 626, "MinRetract", "'RETRACT MIN UNAVAILABLE'"},
    {"/welder-config/RetractMax.js", "RetractMax", 627, "MaxRetract", "'RETRACT MAX UNAVAILABLE'"},
    {"/welder-config/PurgeTime.js", "PurgeTime", 628, "Time", "'PURGE TIME UNAVAILABLE'"},
    {"/logs/ShortTermWireUsedLS.js", "ShortTermWireUsedLS", 631, "WireUsedLS", "'SHORT TERM WIRE USED LS UNAVAILABLE'"},
    {"/logs/ShortTermWireUsedMS.js", "ShortTermWireUsedMS", 632, "ShortTermWireUsedMS", "'SHORT TERM WIRE USED MS UNAVAILABLE'"},
    {"/welder-config/OtherTorchResistance.js", "OtherTorchResistance", 623, "OtherTorchResistance", "'OTHER TORCH RESISTANCE UNAVAILABLE'"},
    {"/welder-config/TriggerHoldInactiveTime.js", "TriggerHoldInactiveTime", 615, "DelayTime", "'TRIGGER HOLD INACTIVE TIME UNAVAILABLE'"},
    {"/logs/TotalPoundsUsedLS.js", "TotalPoundsUsedLS", 610, "TotalPoundsUsedLS", "'TOTAL POUNDS USED LS UNAVAILABLE'"},
    {"/logs/TotalPoundsUsedMS.js", "TotalPoundsUsedMS", 611, "TotalPoundsUsedMS", "'TOTAL POUNDS USED MS UNAVAILABLE'"},
    {"/logs/ShortTermPoundsUsedLS.js", "ShortTermPoundsUsedLS", 635, "ShortTermPoundsUsedLS", "'SHORT TERM POUNDS USED LS UNAVAILABLE'"},
    {"/logs/ShortTermPoundsUsedMS.js", "ShortTermPoundsUsedMS", 636, "ShortTermPoundsUsedMS", "'SHORT TERM POUNDS USED MS UNAVAILABLE'"},
    {"/welder-config/IgnoreWeldEnable.js", "IgnoreWeldEnable", 638, "IgnoreWeldEnable", "'IGNORE WELD ENABLE UNAVAILABLE'"},
    {"/welder-config/DualFeederCheck.js", "DualFeederCheck", 269, "Dual", "'DUAL FEEDER CHECK UNAVAILABLE'"},
    {"/robot-config/RobotProgramSelect.js", "RobotProgramSelect", 139, "RPS", "'ROBOT PROGRAM SELECT UNITS UNAVAILABLE'"},
    {"/robot-config/DryRunStatus.js", "DryRunStatus", 117, "DryRun", "'DRY RUN STATUS UNAVAILABLE'"},
    {"/robot-config/RobotCommMethod.js", "RobotCommMethod", 639, "CommMethod", "'ROBOT COMM METHOD UNAVAILABLE'"},
    {"/robot-config/AutoCalStatus.js", "AutoCalStatus", 196, "Status", "'AUTO CAL STATUS CHECK UNAVAILABLE'"},
    {"/robot-config/AutoCalMinWFS.js", "AutoCalMinWFS", 197, "MinWFS", "'AUTO CAL MIN WFS UNAVAILABLE'"},
    {"/robot-config/AutoCalMaxWFS.js", "AutoCalMaxWFS", 198, "MaxWFS", "'AUTO CAL MAX WFS UNAVAILABLE'"},
    {"/robot-config/AutoCalMinVolts.js", "AutoCalMinVolts", 199, "MinVolts", "'AUTO CAL MIN VOLTS UNAVAILABLE'"},
    {"/robot-config/AutoCalMaxVolts.js", "AutoCalMaxVolts", 200, "MaxVolts", "'AUTO CAL MAX VOLTS UNAVAILABLE'"},
    {"/welder-config/ArcErrorTime.js", "ArcErrorTime", 390, "Time", "'ARC ERROR TIME UNAVAILABLE'"},
    {"/welder-config/ArcErrorVolts.js", "ArcErrorVolts", 391, "Volts", "'ARC ERROR VOLTS UNAVAILABLE'"},
    {"/logs/DualShortTermArcHours.js", "DualShortTermArcHours", 644, "DualArcHours", "'DUAL SHORT TERM ARC HOURS UNAVAILABLE'"},
    {"/logs/DualShortTermArcMinutes.js", "DualShortTermArcMinutes", 645, "DualArcMinutes", "'DUAL SHORT TERM ARC MINUTES UNAVAILABLE'"},
    {"/logs/DualShortTermPoundsUsedLS.js", "DualShortTermPoundsUsedLS", 642, "DualShortTermPoundsUsedLS", "'DUAL SHORT TERM POUNDS USED LS UNAVAILABLE'"},
    {"/logs/DualShortTermPoundsUsedMS.js", "DualShortTermPoundsUsedMS", 643, "DualShortTermPoundsUsedMS", "'DUAL SHORT TERM POUNDS USED MS UNAVAILABLE'"},
    {"/logs/DualShortTermWireUsedLS.js", "DualShortTermWireUsedLS", 640, "DualWireUsedLS", "'DUAL SHORT TERM WIRE USED LS UNAVAILABLE'"},
    {"/logs/DualShortTermWireUsedMS.js", "DualShortTermWireUsedMS", 641, "DualShortTermWireUsedMS", "'DUAL SHORT TERM WIRE USED MS UNAVAILABLE'"},
    {"/WeldFileEnableCheck.js", "WeldFileEnableCheck", 629, "WeldFileEnable", "'WELD FILE ENABLE CHECK UNAVAILABLE'"},
    {"/MetricEnableCheck.js", "MetricEnableCheck", 101, "MetricEnable", "'METRIC ENABLE CHECK UNAVAILABLE'"},
    {"/welder-config/ArcErrorAmps.js", "ArcErrorAmps", 392, "Amps", "'ARC ERROR AMPS UNAVAILABLE'"},
    {"/robot-config/MsbDIO.js", "MsbDIO", 648, "DIOMSB", "'MSB DIO UNAVAILABLE'"},
    {"/robot-config/LsbDIO.js", "LsbDIO", 647, "DIOLSB", "'LSB DIO UNAVAILABLE'"},
    {"/welder-config/MissedWeldErrorTime.js", "MissedWeldErrorTime", 650, "Time", "'MISSED WELD ERROR TIME UNAVAILABLE'"},
    {"/CEProgramsEnableCheck.js", "CEProgramsEnableCheck", 651, "CEPrograms", "'CE PROGRAMS ENABLE CHECK UNAVAILABLE'"},
    {"/ArcAdjustScalingCheck.js", "ArcAdjustScalingCheck", 652, "AAScaling", "'ARC ADJUST SCALING CHECK UNAVAILABLE'"},
    {"/program-setup/TriggerFunctionLocks.js", "TriggerFunctionLocks", 653, "TriggerLocks", "'TRIGGER FUNCTION LOCKS UNAVAILABLE'"},
    {"/program-setup/SequencerLocks.js", "SequencerLocks", 654, "SequencerLock", "'SEQUENCER LOCKS UNAVAILABLE'"},
    {"/program-setup/RetractDelayTime.js", "RetractDelayTime", 657, "RetractDelay", "'RETRACT DELAY TIME UNAVAILABLE'"},
    {"/welder-config/RetractDistance.js", "RetractDistance", 659, "Distance", "'RETRACT DISTANCE UNAVAILABLE'"},
    {"/program-setup/UserProgramNumber.js", "UserProgramNumber", 660, "Number", "'USER PROGRAM NUMBER UNAVAILABLE'"},
    {"/robot-config/RobotManufacturer.js", "RobotManufacturer", 136, "Manufacturer", "'ROBOT MANUFACTURER UNAVAILABLE'"},
    {"/VeyraEnableCheck.js", "VeyraEnableCheck", 666, "VeyraEnable", "'VEYRA ENABLE CHECK UNAVAILABLE'"},
    {"/VeyraCoreEnableCheck.js", "VeyraCoreEnableCheck", 667, "VeyraCoreEnable", "'VEYRA CORE ENABLE CHECK UNAVAILABLE'"},
    {"/welder-config/slopedisplaystatus.js", "SlopeDisplayStatus", 672, "Status", "'SLOPE DISPLAY STATUS UNAVAILABLE'"},
    {"/SetValueStatus.js", "SetValueStatus", 125, "SetValue", "'SET VALUE STATUS UNAVAILABLE'"},
    {"/SynergicMigCheck.js", "SynergicMigCheck", 673, "Synergic", "'SYNERGIC MIG CHECK UNAVAILABLE'"},
    {"/GlobalWFSAmpsCommand.js", "GlobalWFSAmpsCommand", 674, "WFSAmps", "'GLOBAL WFS AMPS COMMAND UNAVAILABLE'"},
    {"/welder-config/SecondaryResistance.js", "SecondaryResistance", 655, "ResistanceEnable", "'SECONDARY RESISTANCE UNAVAILABLE'"},
    {"/welder-config/SecondaryInductance.js", "SecondaryInductance", 656, "InductanceEnable", "'SECONDARY INDUCTANCE UNAVAILABLE'"},
    {"/welder-config/SecondaryTale.js", "SecondaryTale", 665, "TaleEnable", "'SECONDARY TALE UNAVAILABLE'"},
    {"/DualPrograms.js", "DualPrograms", 124, "Programs", "'DUAL PROGRAMS UNAVAILABLE'"},
    {"/welder-config/CoolerStatus.js", "CoolerStatus", 676, "Status", "'COOLER STATUS UNAVAILABLE'"},
    {"/welder-config/CoolerEnable.js", "CoolerEnable", 675, "Status", "'COOLER ENABLEW UNAVAILABLE'"},
};

const DWORD kPCodeRowCount = sizeof(kPCodeRows) / sizeof(kPCodeRows[0]);

namespace {

const char kViewPrefix[] = "WebQuentaISAPI_";
const char kViewSuffix[] = "_View";

SafeWString viewNameOf(const char* variable) {
  return SafeWString(SafeCString(kViewPrefix) + SafeCString(variable) + SafeCString(kViewSuffix));
}

// "%i" of the unsigned word: 0 to 65535, never negative.
SafeCString wordText(WORD word) { return SafeCString(static_cast<int>(word)); }

}  // namespace

PCodeValue::PCodeValue(const PCodeRow& row)
    : JSVariable(SafeCString(row.variable)),
      result(0),
      mapHandle(SQLBRIDGE_NO_VIEW),
      recordAddress(SQLBRIDGE_NO_VIEW),
      releaseHandle(SQLBRIDGE_NO_RELEASE),
      value(0),
      row(row),
      viewName(viewNameOf(row.variable)),
      field(row.field),
      fallback(row.fallback) {}

SafeCString* PCodeValue::getValue() {
  result = GetPCode(row.code, &value, viewName.c_str());
  SafeCString* text;
  if (result != 0) {
    // Only the call's result decides: a value of 0 is a value.
    text = new (std::nothrow) SafeCString(JS_OPEN_BRACE);
    if (text != nullptr) {
      text->append(pair(field, wordText(value)));
      text->append(JS_CLOSE_BRACE);
    }
  } else {
    text = new (std::nothrow) SafeCString(fallback);
  }
  ReleaseView(releaseHandle);
  CleanupView(recordAddress, mapHandle);
  return text;
}

WeldMonitorDiagnostics::WeldMonitorDiagnostics()
    : JSVariable(SafeCString("WeldMonitorDiagnostics")),
      result(0),
      mapHandle(SQLBRIDGE_NO_VIEW),
      recordAddress(SQLBRIDGE_NO_VIEW),
      releaseHandle(SQLBRIDGE_NO_RELEASE),
      VeyraEnabled(0),
      JobID(0),
      PartID(0),
      WeldID(0),
      viewName(viewNameOf("WeldMonitorDiagnostics")) {}

void WeldMonitorDiagnostics::read(WORD code, WORD* target) {
  // The result is kept but not acted on: a value not read stays 0.
  result = GetPCode(code, target, viewName.c_str());
  ReleaseView(releaseHandle);
  CleanupView(recordAddress, mapHandle);
}

SafeCString* WeldMonitorDiagnostics::getValue() {
  VeyraEnabled = 0;
  JobID = 0;
  PartID = 0;
  WeldID = 0;
  read(666, &VeyraEnabled);
  if (VeyraEnabled != 0) {
    read(662, &JobID);
    read(663, &PartID);
    read(664, &WeldID);
  }
  SafeCString* text = new (std::nothrow) SafeCString(JS_OPEN_BRACE);
  if (text == nullptr) return nullptr;
  text->append(pair(SafeCString("VeyraEnabled"), wordText(VeyraEnabled)));
  text->append(JS_COMMA);
  text->append(pair(SafeCString("JobID"), wordText(JobID)));
  text->append(JS_COMMA);
  text->append(pair(SafeCString("PartID"), wordText(PartID)));
  text->append(JS_COMMA);
  text->append(pair(SafeCString("WeldID"), wordText(WeldID)));
  text->append(JS_CLOSE_BRACE);
  return text;
}

JSVariable* createPCodeValue(const char* path) {
  if (path == nullptr) return nullptr;
  for (DWORD k = 0; k < kPCodeRowCount; ++k) {
    if (std::strcmp(kPCodeRows[k].path, path) == 0) return new (std::nothrow) PCodeValue(kPCodeRows[k]);
  }
  return nullptr;
}

JSVariable* createWeldMonitorDiagnostics(const char*) { return new (std::nothrow) WeldMonitorDiagnostics(); }
