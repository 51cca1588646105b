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

#define SQLBRIDGE_API extern "C" __attribute__((visibility("default")))

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

// The welder information page (WelderInfoSetters.cpp): the 42-byte
// welder_info_struct (asset number char[10], location char[32]) or the
// 16-byte service_date_struct (SYSTEMTIME) read from the caller's open view;
// the first row of welder_information gets them. 0 when there is no such row.
SQLBRIDGE_API int SetWelderInfo(LPCWSTR viewName, DWORD_PTR* releaseHandle);
SQLBRIDGE_API int SetServiceDate(LPCWSTR viewName, DWORD_PTR* releaseHandle);

// Every setter call is one transaction with its journal row (settings.db
// table `journal`). See docs/settings-database.md.

// For tests: the views created and not yet cleaned up, plus reader records not
// yet released, in this process.
SQLBRIDGE_API int SqlBridgeOpenViewCount(void);

#endif  // QUENTA_SQLBRIDGE_SQLBRIDGE_H_
