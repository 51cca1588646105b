#include "js_vars/PCodeValues.h"

#include <new>

#include "sqlbridge/SqlBridge.h"

// registry slot, path, variable, parameter code, member, text when unavailable.
// Several rows share a code (101, 666) or a member name (Time, Status); the
// irregular fallbacks are the pages' own and stay as they are: "ROBOT PROGRAM
// SELECT UNITS", "OtherTorchLength" in mixed case, "COOLER ENABLEW".
const PCodeRow kPCodeRows[] = {
    {3, "/welder-config/WFSUnits.js", "WFSUnits", 101, "Units", "'WFS UNITS UNAVAILABLE'"},
    {4, "/software/MsbPCM.js", "MsbPCM", 109, "PCMMSB", "'MSB PCM UNAVAILABLE'"},
    {5, "/software/LsbPCM.js", "LsbPCM", 110, "PCMLSB", "'LSB PCM UNAVAILABLE'"},
    {19, "/logs/TotalArcSeconds.js", "TotalArcSeconds", 600, "TotalArcSeconds", "'TOTAL ARC SECONDS UNAVAILABLE'"},
    {20, "/logs/TotalArcMinutes.js", "TotalArcMinutes", 601, "TotalArcMinutes", "'TOTAL ARC MINUTES UNAVAILABLE'"},
    {21, "/logs/TotalArcHours.js", "TotalArcHours", 602, "TotalArcHours", "'TOTAL ARC HOURS UNAVAILABLE'"},
    {22, "/logs/TotalArcStartsLS.js", "TotalArcStartsLS", 605, "TotalArcStartsLS", "'TOTAL ARC STARTS LS UNAVAILABLE'"},
    {23, "/logs/TotalArcStartsMS.js", "TotalArcStartsMS", 606, "TotalArcStartsMS", "'TOTAL ARC STARTS MS UNAVAILABLE'"},
    {24, "/logs/TotalWireUsedLS.js", "TotalWireUsedLS", 608, "TotalWireUsedLS", "'TOTAL WIRE USED LS UNAVAILABLE'"},
    {25, "/logs/TotalWireUsedMS.js", "TotalWireUsedMS", 609, "TotalWireUsedMS", "'TOTAL WIRE USED MS UNAVAILABLE'"},
    {27, "/logs/ShortTermArcHours.js", "ShortTermArcHours", 603, "ArcHours", "'SHORT TERM ARC HOURS UNAVAILABLE'"},
    {28, "/logs/ShortTermArcMinutes.js", "ShortTermArcMinutes", 604, "ArcMinutes", "'SHORT TERM ARC MINUTES UNAVAILABLE'"},
    {29, "/welder-config/OtherTorchInductance.js", "OtherTorchInductance", 622, "OtherTorchInd", "'OTHER TORCH INDUCTANCE UNAVAILABLE'"},
    {30, "/welder-config/OtherTorchLength.js", "OtherTorchLength", 621, "OtherTorchLength", "'OtherTorchLength UNAVAILABLE'"},
    {33, "/welder-config/TriggerHoldDelayTime.js", "TriggerHoldDelayTime", 118, "DelayTime", "'TRIGGER HOLD DELAY TIME UNAVAILABLE'"},
    {34, "/welder-config/ArcStartErrorTime.js", "ArcStartErrorTime", 190, "Time", "'ARC START ERROR TIME UNAVAILABLE'"},
    {35, "/welder-config/JogSpeedMin.js", "JogSpeedMin", 624, "MinSpeed", "'JOG SPEED MIN UNAVAILABLE'"},
    {36, "/welder-config/JogSpeedMax.js", "JogSpeedMax", 625, "MaxSpeed", "'JOG SPEED MAX UNAVAILABLE'"},
    {37, "/welder-config/RetractMin.js", "RetractMin", 626, "MinRetract", "'RETRACT MIN UNAVAILABLE'"},
    {38, "/welder-config/RetractMax.js", "RetractMax", 627, "MaxRetract", "'RETRACT MAX UNAVAILABLE'"},
    {39, "/welder-config/PurgeTime.js", "PurgeTime", 628, "Time", "'PURGE TIME UNAVAILABLE'"},
    {48, "/logs/ShortTermWireUsedLS.js", "ShortTermWireUsedLS", 631, "WireUsedLS", "'SHORT TERM WIRE USED LS UNAVAILABLE'"},
    {49, "/logs/ShortTermWireUsedMS.js", "ShortTermWireUsedMS", 632, "ShortTermWireUsedMS", "'SHORT TERM WIRE USED MS UNAVAILABLE'"},
    {57, "/welder-config/OtherTorchResistance.js", "OtherTorchResistance", 623, "OtherTorchResistance", "'OTHER TORCH RESISTANCE UNAVAILABLE'"},
    {58, "/welder-config/TriggerHoldInactiveTime.js", "TriggerHoldInactiveTime", 615, "DelayTime", "'TRIGGER HOLD INACTIVE TIME UNAVAILABLE'"},
    {65, "/logs/TotalPoundsUsedLS.js", "TotalPoundsUsedLS", 610, "TotalPoundsUsedLS", "'TOTAL POUNDS USED LS UNAVAILABLE'"},
    {66, "/logs/TotalPoundsUsedMS.js", "TotalPoundsUsedMS", 611, "TotalPoundsUsedMS", "'TOTAL POUNDS USED MS UNAVAILABLE'"},
    {67, "/logs/ShortTermPoundsUsedLS.js", "ShortTermPoundsUsedLS", 635, "ShortTermPoundsUsedLS", "'SHORT TERM POUNDS USED LS UNAVAILABLE'"},
    {68, "/logs/ShortTermPoundsUsedMS.js", "ShortTermPoundsUsedMS", 636, "ShortTermPoundsUsedMS", "'SHORT TERM POUNDS USED MS UNAVAILABLE'"},
    {70, "/welder-config/IgnoreWeldEnable.js", "IgnoreWeldEnable", 638, "IgnoreWeldEnable", "'IGNORE WELD ENABLE UNAVAILABLE'"},
    {74, "/welder-config/DualFeederCheck.js", "DualFeederCheck", 269, "Dual", "'DUAL FEEDER CHECK UNAVAILABLE'"},
    {75, "/robot-config/RobotProgramSelect.js", "RobotProgramSelect", 139, "RPS", "'ROBOT PROGRAM SELECT UNITS UNAVAILABLE'"},
    {76, "/robot-config/DryRunStatus.js", "DryRunStatus", 117, "DryRun", "'DRY RUN STATUS UNAVAILABLE'"},
    {77, "/robot-config/RobotCommMethod.js", "RobotCommMethod", 639, "CommMethod", "'ROBOT COMM METHOD UNAVAILABLE'"},
    {135, "/robot-config/AutoCalStatus.js", "AutoCalStatus", 196, "Status", "'AUTO CAL STATUS CHECK UNAVAILABLE'"},
    {136, "/robot-config/AutoCalMinWFS.js", "AutoCalMinWFS", 197, "MinWFS", "'AUTO CAL MIN WFS UNAVAILABLE'"},
    {137, "/robot-config/AutoCalMaxWFS.js", "AutoCalMaxWFS", 198, "MaxWFS", "'AUTO CAL MAX WFS UNAVAILABLE'"},
    {138, "/robot-config/AutoCalMinVolts.js", "AutoCalMinVolts", 199, "MinVolts", "'AUTO CAL MIN VOLTS UNAVAILABLE'"},
    {139, "/robot-config/AutoCalMaxVolts.js", "AutoCalMaxVolts", 200, "MaxVolts", "'AUTO CAL MAX VOLTS UNAVAILABLE'"},
    {78, "/welder-config/ArcErrorTime.js", "ArcErrorTime", 390, "Time", "'ARC ERROR TIME UNAVAILABLE'"},
    {79, "/welder-config/ArcErrorVolts.js", "ArcErrorVolts", 391, "Volts", "'ARC ERROR VOLTS UNAVAILABLE'"},
    {80, "/logs/DualShortTermArcHours.js", "DualShortTermArcHours", 644, "DualArcHours", "'DUAL SHORT TERM ARC HOURS UNAVAILABLE'"},
    {81, "/logs/DualShortTermArcMinutes.js", "DualShortTermArcMinutes", 645, "DualArcMinutes", "'DUAL SHORT TERM ARC MINUTES UNAVAILABLE'"},
    {82, "/logs/DualShortTermPoundsUsedLS.js", "DualShortTermPoundsUsedLS", 642, "DualShortTermPoundsUsedLS", "'DUAL SHORT TERM POUNDS USED LS UNAVAILABLE'"},
    {83, "/logs/DualShortTermPoundsUsedMS.js", "DualShortTermPoundsUsedMS", 643, "DualShortTermPoundsUsedMS", "'DUAL SHORT TERM POUNDS USED MS UNAVAILABLE'"},
    {84, "/logs/DualShortTermWireUsedLS.js", "DualShortTermWireUsedLS", 640, "DualWireUsedLS", "'DUAL SHORT TERM WIRE USED LS UNAVAILABLE'"},
    {85, "/logs/DualShortTermWireUsedMS.js", "DualShortTermWireUsedMS", 641, "DualShortTermWireUsedMS", "'DUAL SHORT TERM WIRE USED MS UNAVAILABLE'"},
    {86, "/WeldFileEnableCheck.js", "WeldFileEnableCheck", 629, "WeldFileEnable", "'WELD FILE ENABLE CHECK UNAVAILABLE'"},
    {87, "/MetricEnableCheck.js", "MetricEnableCheck", 101, "MetricEnable", "'METRIC ENABLE CHECK UNAVAILABLE'"},
    {89, "/welder-config/ArcErrorAmps.js", "ArcErrorAmps", 392, "Amps", "'ARC ERROR AMPS UNAVAILABLE'"},
    {143, "/robot-config/MsbDIO.js", "MsbDIO", 648, "DIOMSB", "'MSB DIO UNAVAILABLE'"},
    {144, "/robot-config/LsbDIO.js", "LsbDIO", 647, "DIOLSB", "'LSB DIO UNAVAILABLE'"},
    {91, "/welder-config/MissedWeldErrorTime.js", "MissedWeldErrorTime", 650, "Time", "'MISSED WELD ERROR TIME UNAVAILABLE'"},
    {92, "/CEProgramsEnableCheck.js", "CEProgramsEnableCheck", 651, "CEPrograms", "'CE PROGRAMS ENABLE CHECK UNAVAILABLE'"},
    {94, "/ArcAdjustScalingCheck.js", "ArcAdjustScalingCheck", 652, "AAScaling", "'ARC ADJUST SCALING CHECK UNAVAILABLE'"},
    {95, "/program-setup/TriggerFunctionLocks.js", "TriggerFunctionLocks", 653, "TriggerLocks", "'TRIGGER FUNCTION LOCKS UNAVAILABLE'"},
    {96, "/program-setup/SequencerLocks.js", "SequencerLocks", 654, "SequencerLock", "'SEQUENCER LOCKS UNAVAILABLE'"},
    {97, "/program-setup/RetractDelayTime.js", "RetractDelayTime", 657, "RetractDelay", "'RETRACT DELAY TIME UNAVAILABLE'"},
    {98, "/welder-config/RetractDistance.js", "RetractDistance", 659, "Distance", "'RETRACT DISTANCE UNAVAILABLE'"},
    {99, "/program-setup/UserProgramNumber.js", "UserProgramNumber", 660, "Number", "'USER PROGRAM NUMBER UNAVAILABLE'"},
    {101, "/robot-config/RobotManufacturer.js", "RobotManufacturer", 136, "Manufacturer", "'ROBOT MANUFACTURER UNAVAILABLE'"},
    {112, "/VeyraEnableCheck.js", "VeyraEnableCheck", 666, "VeyraEnable", "'VEYRA ENABLE CHECK UNAVAILABLE'"},
    {114, "/VeyraCoreEnableCheck.js", "VeyraCoreEnableCheck", 667, "VeyraCoreEnable", "'VEYRA CORE ENABLE CHECK UNAVAILABLE'"},
    {124, "/welder-config/slopedisplaystatus.js", "SlopeDisplayStatus", 672, "Status", "'SLOPE DISPLAY STATUS UNAVAILABLE'"},
    {126, "/SetValueStatus.js", "SetValueStatus", 125, "SetValue", "'SET VALUE STATUS UNAVAILABLE'"},
    {127, "/SynergicMigCheck.js", "SynergicMigCheck", 673, "Synergic", "'SYNERGIC MIG CHECK UNAVAILABLE'"},
    {128, "/GlobalWFSAmpsCommand.js", "GlobalWFSAmpsCommand", 674, "WFSAmps", "'GLOBAL WFS AMPS COMMAND UNAVAILABLE'"},
    {129, "/welder-config/SecondaryResistance.js", "SecondaryResistance", 655, "ResistanceEnable", "'SECONDARY RESISTANCE UNAVAILABLE'"},
    {130, "/welder-config/SecondaryInductance.js", "SecondaryInductance", 656, "InductanceEnable", "'SECONDARY INDUCTANCE UNAVAILABLE'"},
    {131, "/welder-config/SecondaryTale.js", "SecondaryTale", 665, "TaleEnable", "'SECONDARY TALE UNAVAILABLE'"},
    {134, "/DualPrograms.js", "DualPrograms", 124, "Programs", "'DUAL PROGRAMS UNAVAILABLE'"},
    {145, "/welder-config/CoolerStatus.js", "CoolerStatus", 676, "Status", "'COOLER STATUS UNAVAILABLE'"},
    {146, "/welder-config/CoolerEnable.js", "CoolerEnable", 675, "Status", "'COOLER ENABLEW UNAVAILABLE'"},
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

JSVariable* createPCodeValue(const void* row) {
  return new (std::nothrow) PCodeValue(*static_cast<const PCodeRow*>(row));
}

JSVariable* createWeldMonitorDiagnostics(const void*) { return new (std::nothrow) WeldMonitorDiagnostics(); }
