// SqlBridge: the machine's settings database library, as the module calls it.
// Every call names a view by a wide string and runs on the caller's thread.
//
// Readers return a record count (0: unavailable). After a nonzero count the
// caller asks CreateView(viewName, &mapHandle) for the address of the first
// record; records lie back to back with the layout the reading code expects
// (little-endian, packed). ReleaseView(releaseHandle) and
// CleanupView(recordAddress, mapHandle) end the view; ReleaseView(0) and
// CleanupView(-1, -1) do nothing.
//
// Setters: CreateView(setterViewName, &mapHandle) gives a buffer that the
// caller fills with its record; the setter then reads it and returns the count
// of records updated (0: nothing was written).
//
// Handles and addresses are pointer-sized. Every call is safe from several
// threads and processes at once.
#ifndef QUENTA_SQLBRIDGE_SQLBRIDGE_H_
#define QUENTA_SQLBRIDGE_SQLBRIDGE_H_

#include <windows.h>

// On the device the module imports these from SqlBridge.dll, whose import library
// the device build makes from this header (cmake/device); here they are the
// exports of the shared library.
#ifdef _WIN32
#define SQLBRIDGE_API extern "C" __declspec(dllimport)
#else
#define SQLBRIDGE_API extern "C" __attribute__((visibility("default")))
#endif

// The no-view values.
#define SQLBRIDGE_NO_RELEASE static_cast<DWORD_PTR>(0)
#define SQLBRIDGE_NO_VIEW static_cast<DWORD_PTR>(-1)

// One parameter code: 1 and the stored word in *value; 0 when the database is
// unavailable or the code is not stored (then *value is left as it was).
SQLBRIDGE_API int GetPCode(WORD pcode, WORD* value, LPCWSTR viewName);
SQLBRIDGE_API LPVOID CreateView(LPCWSTR viewName, DWORD_PTR* mapHandle);
SQLBRIDGE_API void ReleaseView(DWORD_PTR releaseHandle);
SQLBRIDGE_API void CleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle);
// Stores value for an existing code: 1, or 0 when the code has no row (nothing
// is created). The pcode_only_struct in the caller's open view goes to the journal.
SQLBRIDGE_API int SetPCode(WORD pcode, WORD value, LPCWSTR viewName);
// Torch length and load of one wire feeder: a 6-byte gun_load_struct (side,
// torch length, torch load) read from the caller's open view of viewName; the
// bank configuration of bank `side` gets gunLdLen and gunLdWFS. `record` is
// not read.
SQLBRIDGE_API int SetGunLoad(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
// One system-log entry: the 284-byte record read from the caller's open view
// of viewName (time, three words, event kind, wide message).
SQLBRIDGE_API int SetSystemLog(LPCWSTR viewName, DWORD_PTR* releaseHandle);

// The welder information page (RecordSetters.cpp): the 42-byte
// welder_info_struct (asset number char[10], location char[32]) or the
// 16-byte service_date_struct (SYSTEMTIME) read from the caller's open view;
// the first row of welder_information gets them. 0 when there is no such row.
SQLBRIDGE_API int SetWelderInfo(LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetServiceDate(LPCWSTR viewName, DWORD_PTR* releaseHandle);

// The record readers: keys first (none to five), then the view name and the
// address of the release handle; the count of records (0: unavailable). The
// records wait in the calling thread's view of that name (CreateView). Their
// tables and layouts: sqlbridge/RecordReaders.cpp and
// docs/settings-database.md. R0 to R5 name the readers by their key count.
#define SQLBRIDGE_READERS(R0, R1, R3, R4, R5) \
  R1(GetStartSequenceState)                   \
  R1(GetStartRampSequenceState)               \
  R1(GetWeldSequenceState)                    \
  R1(GetWeldSequenceStateA)                   \
  R1(GetWeldSequenceStateB)                   \
  R1(GetCraterRampSequenceState)              \
  R1(GetCraterSequenceState)                  \
  R1(GetRetractSequenceState)                 \
  R1(GetPostflowSequenceState)                \
  R1(GetPreflowEnables)                       \
  R1(GetStartEnables)                         \
  R1(GetStartRampEnables)                     \
  R1(GetCraterEnables)                        \
  R1(GetCraterRampEnables)                    \
  R1(GetRetractEnables)                       \
  R1(GetPostflowEnables)                      \
  R1(GetProgramTriggerDataWithPreflowTimeA)   \
  R1(GetProgramTriggerDataWithPreflowTimeB)   \
  R1(GetWeldSeqWebPageProgInfo)               \
  R1(GetProcessCombinations)                  \
  R1(GetMetricProcessCombinations)            \
  R3(GetProcessCombinationsSubset)            \
  R5(GetComboID)                              \
  R1(GetProgramDetail)                        \
  R0(GetProcessSetupWebPageAlloys)            \
  R0(GetProcessSetupWebPageGases)             \
  R0(GetProcessSetupWebPageWireTypes)         \
  R0(GetProcessSetupWebPageWireSizes)         \
  R0(GetProcessSetupWebPageProcesses)         \
  R1(GetProcessesEnabled)                     \
  R0(GetWeldOneID)                            \
  R0(GetWeldCombinationNumbers)               \
  R0(GetBankComboAll)                         \
  R4(GetWeldConfigIDA)                        \
  R4(GetWeldConfigIDB)                        \
  R1(GetAllCustomPrograms)                    \
  R1(GetCustomProgramShortName)               \
  R0(GetSystemLog)                            \
  R0(GetSystemLogNoBlob)                      \
  R0(GetErrorLogNoBlob)                       \
  R0(GetSystemLogShortTermDataReset)          \
  R0(GetSecondaryLogNoBlob)                   \
  R0(GetAutoCalDoneLog)                       \
  R1(GetBankConfig)                           \
  R1(GetBankConfigBankTwo)                    \
  R1(GetWeldCableConfig)                      \
  R0(GetTorchData)                            \
  R1(GetWebSpoolData)                         \
  R1(GetBankComboWeldTag)                     \
  R0(GetWelderInformation)                    \
  R0(GetI2CInformation)                       \
  R0(GetAimSettingsInfo)                      \
  R1(GetWeldListNumberTag)                    \
  R1(GetWeldListTouchStart)                   \
  R0(GetAutoCalVariables)                     \
  R0(GetRegionAll)                            \
  R0(GetRobotMfgAll)                          \
  R0(GetWiFiEncryption)                       \
  R0(GetWiFiAuthentication)                   \
  R0(GetSoftwareList)                         \
  R0(GetSoftwarePartNumber)                   \
  R0(GetFCCIDs)                               \
  R0(GetErrorList)                            \
  R1(GetVeyraCoreInfo)                        \
  R1(GetWeldListTagDescAll)

#define SQLBRIDGE_DECLARE_READER0(name) SQLBRIDGE_API int name(LPCWSTR viewName, DWORD_PTR* releaseHandle);
#define SQLBRIDGE_DECLARE_READER1(name) \
  SQLBRIDGE_API int name(int key, LPCWSTR viewName, DWORD_PTR* releaseHandle);
#define SQLBRIDGE_DECLARE_READER3(name) \
  SQLBRIDGE_API int name(int key1, int key2, int key3, LPCWSTR viewName, DWORD_PTR* releaseHandle);
#define SQLBRIDGE_DECLARE_READER4(name) \
  SQLBRIDGE_API int name(int key1, int key2, int key3, int key4, LPCWSTR viewName, DWORD_PTR* releaseHandle);
#define SQLBRIDGE_DECLARE_READER5(name)                                                           \
  SQLBRIDGE_API int name(int key1, int key2, int key3, int key4, int key5, LPCWSTR viewName, \
                         DWORD_PTR* releaseHandle);
SQLBRIDGE_READERS(SQLBRIDGE_DECLARE_READER0, SQLBRIDGE_DECLARE_READER1, SQLBRIDGE_DECLARE_READER3,
                  SQLBRIDGE_DECLARE_READER4, SQLBRIDGE_DECLARE_READER5)

// The Wi-Fi security selections: a 4-byte record (selection u16, recordID u16)
// read from the caller's open view of viewName marks the row whose ID is the
// selection as the selected one of wifi_encryption or wifi_authentication.
// 1, or 0 for a selection without a row (nothing changes) or without a view.
// The ...Set setters record the same choice as applied; both leave the table
// the data files read showing it. `record` is not read.
SQLBRIDGE_API int SetEncryption(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetEncryptionSet(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetAuthentication(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetAuthenticationSet(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
// One entry of veyra_core_info: an 802-byte record (core u16, then a
// zero-filled 8-bit text of up to 800 characters) becomes the Value of the
// rows of that core. 1, or 0 for a core without a row or without a view.
SQLBRIDGE_API int SetVeyraCoreInfo(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Every setter call is one transaction with its journal row (settings.db
// table `journal`). See docs/settings-database.md.

// For tests: the views created and not yet cleaned up, plus reader records not
// yet released, in this process.
SQLBRIDGE_API int SqlBridgeOpenViewCount(void);

#endif  // QUENTA_SQLBRIDGE_SQLBRIDGE_H_
