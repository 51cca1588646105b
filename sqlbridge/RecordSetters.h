// The record setters of the setup forms: sequences, programs and processes,
// enables and locks, wire and spool, region, robot interface and calibration.
// Each reads its record from the caller's open view of `viewName` (CreateView,
// then copy, as for every setter), changes existing rows only and returns the
// count of records updated: 0 for a weld program, stage, bank, feeder, region
// or robot maker the machine does not have, and nothing is written then.
// Every call is one transaction with its journal row.
//
// `record` and `key` pointers are the caller's own copy; like SetGunLoad, the
// setters read the record from the view, never through these pointers. A key
// passed by value (the feeder, the bank) is used as given.
//
// Records, tables and the data files that show each change:
// docs/settings-database.md.
#ifndef QUENTA_SQLBRIDGE_RECORDSETTERS_H_
#define QUENTA_SQLBRIDGE_RECORDSETTERS_H_

#include "sqlbridge/SqlBridge.h"

// Sequences: retract_sequence_struct, enables_only_sequence_struct,
// time_only_sequence_struct, webpage_sequence_struct.
SQLBRIDGE_API int SetRetract(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetSeqEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetPreflow(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetStart(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Programs and processes.
SQLBRIDGE_API int SetWireWeight(WORD feeder, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetBankComboProcessInfo(LPVOID record, LPVOID key, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetCustomNameDesc(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetWeldListComboNumberChange(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetTriggerEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Enables and locks.
SQLBRIDGE_API int SetErrorEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetProcessEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetAllEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetDualAllEnables(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetWeldFileEnable(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetEncoderLock(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Weld cable, wire and spool, region.
SQLBRIDGE_API int SetWeldCableConfigOnly(WORD bank, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetWeldWireInfo(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetWeldWireDate(WORD feeder, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRegion(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRegionSet(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Robot interface and calibration.
SQLBRIDGE_API int SetAimSettingsInfo(LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRobotMfg(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRobotMfgSet(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRuninWFS(LPVOID record, LPVOID key, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetBurnBackTime(LPVOID record, LPVOID key, LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetBankComboCustomProcessInfo(LPVOID record, LPVOID key, LPCWSTR viewName,
                                                DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetManualCal(LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetRetractStartEnable(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

#endif  // QUENTA_SQLBRIDGE_RECORDSETTERS_H_
