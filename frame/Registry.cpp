#include "frame/Registry.h"

#include <new>

#include "forms/DataConnectionsForm.h"
#include "forms/NetworkForms.h"
#include "forms/PostResponse.h"
#include "forms/TableForm.h"
#include "js_vars/NetworkInfo.h"
#include "forms/WelderInfoForm.h"
#include "js_vars/CurrentTime.h"
#include "js_vars/DIOCommunication.h"
#include "js_vars/PCodeValues.h"
#include "js_vars/QueryEcho.h"
#include "js_vars/RecordValues.h"
#include "links/CurrentStatus.h"

namespace {

// Data files with a generator class of their own, and the entries whose
// family is not built into this module yet (no factory: they answer the 404
// page until their family fills the line).
struct OwnFile {
  int slot;
  const char* path;
  JSVariableFactory create;
};

const OwnFile kOwnFiles[] = {
    {1, "/current_status.js", createCurrentStatus},
    {8, "/querytest.js", createQueryEcho},
    {142, "/welder-config/WeldMonitoringDiagnostics.js", createWeldMonitorDiagnostics},
    {32, "/CurrentTime.js", createCurrentTime},
    {90, "/DIOCommunication.js", createDIOCommunication},
};

// Entry 107 repeats entry 106 on purpose ("/program-setup/StartRampEnables.js",
// a second generator of the same row): it is built and deleted, never served.
const int kRepeatedSlot = 107;
const int kRepeatedFromSlot = 106;

struct DataFileTable {
  DataFileEntry entries[JS_FILE_COUNT];

  DataFileTable() : entries() {
    for (DWORD k = 0; k < kPCodeRowCount; ++k) {
      place(kPCodeRows[k].slot, kPCodeRows[k].path, createPCodeValue, &kPCodeRows[k]);
    }
    for (const RecordRow& row : kRecordRows) place(row.slot, row.path, createRecordValue, &row);
    for (const NetworkInfoRow& row : kNetworkInfoRows) place(row.slot, row.path, createNetworkInfo, &row);
    for (const OwnFile& file : kOwnFiles) place(file.slot, file.path, file.create, nullptr);
    entries[kRepeatedSlot - 1] = entries[kRepeatedFromSlot - 1];
  }
  void place(int slot, const char* path, JSVariableFactory create, const void* row) {
    if (slot >= 1 && slot <= JS_FILE_COUNT) entries[slot - 1] = {path, create, row};
  }
};

}  // namespace

const DataFileEntry* dataFileEntries() {
  static const DataFileTable table;
  return table.entries;
}

// Form handlers in registry order. "/setup/atuocal.html" is spelled so on the
// pages that post to it; its page file is spelled "autocal".
const FormEntry kForms[POST_RESPONSE_COUNT] = {
    {"/setup/error_config.min.html", nullptr, &kErrorEnablesForm, nullptr},  // 1
    {"/setup/error_edit.min.html", nullptr, &kArcErrorLimitsForm, nullptr},  // 2
    {"/setup/jog_purge.min.html", nullptr, &kJogPurgeForm, nullptr},  // 3
    {"/setup/weld_cable.min.html", nullptr, &kWeldCableForm, nullptr},  // 4
    {"/setup/spool.min.html", nullptr, &kSpoolForm, nullptr},  // 5
    {"/setup/welder_info.min.html", nullptr, nullptr, createOwnForm<WelderInfoForm>},  // 6
    {"/setup/region.min.html", nullptr, &kRegionForm, nullptr},  // 7
    {"/data_management/data_management.min.html", nullptr, &kDataManagementForm, nullptr},  // 8
    {"/data_management/factory_reset.min.html", nullptr, &kFactoryResetForm, nullptr},  // 9
    {"/arc_management/process_enables.min.html", nullptr, &kProcessEnablesForm, nullptr},  // 10
    {"/arc_management/trigger_hold_edit.min.html", nullptr, &kTriggerHoldForm, nullptr},  // 11
    {"/arc_management/advanced_triggers.min.html", nullptr, &kAdvancedTriggersForm, nullptr},  // 12
    {"/arc_management/program_naming.min.html", nullptr, &kProgramNamingForm, nullptr},  // 13
    {"/arc_management/enables_locks.min.html", nullptr, &kEnablesLocksForm, nullptr},  // 14
    {"/arc_management/process_selection.html", nullptr, &kProcessSelectionForm, nullptr},  // 15
    {"/arc_management/weld_file_setup.min.html", nullptr, &kWeldFileSetupForm, nullptr},  // 16
    {"/arc_management/time_sequence_adjust.min.html", nullptr, &kTimeSequenceForm, nullptr},  // 17
    {"/arc_management/retract_sequence_adjust.min.html", nullptr, &kRetractSequenceForm, nullptr},  // 18
    {"/arc_management/full_sequence_adjust.min.html", nullptr, &kFullSequenceForm, nullptr},  // 19
    {"/setup/ethernet.min.html", nullptr, nullptr, createOwnForm<EthernetForm>},  // 20
    {"/setup/alt_config.min.html", nullptr, &kAltConfigForm, nullptr},  // 21
    {"/setup/data_connections.min.html", nullptr, nullptr, createOwnForm<DataConnectionsForm>},  // 22
    {"/setup/robot_options.html", nullptr, &kRobotOptionsForm, nullptr},  // 23
    {"/setup/dry_run.html", nullptr, &kDryRunForm, nullptr},  // 24
    {"/setup/wifi.min.html", nullptr, nullptr, createOwnForm<WifiForm>},  // 25
    {"/arc_management/runin_sequence_adjust.min.html", nullptr, &kRuninForm, nullptr},  // 26
    {"/arc_management/custom_process_selection.html", nullptr, &kCustomProcessForm, nullptr},  // 27
    {"/setup/atuocal.html", TEXT("\\MMCMemory\\www\\wwwpub\\setup\\autocal.html"), &kCalibrationForm, nullptr},  // 28
    {"/arc_management/burnback_sequence_adjust.html",
     TEXT("\\MMCMemory\\www\\wwwpub\\arc_management\\burnback_sequence_adjust.min.html"), &kBurnbackForm, nullptr},  // 29
    {"/arc_management/retract_start.html", nullptr, &kRetractStartForm, nullptr},  // 30
};

SafeWString formPageFile(const FormEntry& entry) {
  if (entry.pageFile != nullptr) return SafeWString(entry.pageFile);
  SafeWString file(TEXT("\\MMCMemory\\www\\wwwpub"));
  file += SafeWString(SafeCString(entry.path));
  for (DWORD k = 0; k < file.getLength(); ++k) {
    if (file[static_cast<int>(k)] == TEXT('/')) file[static_cast<int>(k)] = TEXT('\\');
  }
  return file;
}

PostResponse* createForm(const FormEntry& entry) {
  if (entry.table == nullptr && entry.create == nullptr) return nullptr;
  SafeWString pageFile = formPageFile(entry);
  if (pageFile.getStatus() < 0) return nullptr;
  if (entry.create != nullptr) return entry.create(entry.path, pageFile);
  return createTableForm(entry.path, pageFile, *entry.table);
}

JSVariable* JSVariableTable[JS_FILE_COUNT];
JSFile* JSFileTable[JS_FILE_COUNT];
PostResponse* PostResponseTable[POST_RESPONSE_COUNT];

void buildRegistries() {
  // Every generator exists before the first data file is made.
  const DataFileEntry* files = dataFileEntries();
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    JSVariableTable[k] = files[k].create ? files[k].create(files[k].row) : nullptr;
  }
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    JSFileTable[k] = nullptr;
    // A file without its generator would answer an empty text; it stays out.
    if (JSVariableTable[k] == nullptr) continue;
    JSFile* file = new (std::nothrow) JSFile(SafeCString(files[k].path));
    if (file == nullptr) continue;
    if (file->getPath().getStatus() < 0 || !file->addVariable(JSVariableTable[k])) {
      delete file;
      continue;
    }
    JSFileTable[k] = file;
  }
  for (int k = 0; k < POST_RESPONSE_COUNT; ++k) {
    PostResponseTable[k] = createForm(kForms[k]);
  }
}

void destroyRegistries() {
  for (int k = 0; k < JS_FILE_COUNT; ++k) delete JSFileTable[k];
  for (int k = 0; k < JS_FILE_COUNT; ++k) delete JSVariableTable[k];
  for (int k = 0; k < POST_RESPONSE_COUNT; ++k) delete PostResponseTable[k];
}
