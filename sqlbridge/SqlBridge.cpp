// The C interface of the settings database. Every entry point catches
// everything: a failure inside the library is an "unavailable" (0) for the
// caller, never an exception crossing into the module.
#include "sqlbridge/SqlBridge.h"

#include <QuentaPlatform.h>

#include <cstdio>
#include <string>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/Views.h"

namespace {

WORD wordAt(const unsigned char* bytes, size_t offset) {
  return static_cast<WORD>(bytes[offset] | (bytes[offset + 1] << 8));
}

// pcode_only_struct: value u16 at 0, recordID (the parameter code) u16 at 2.
const size_t kPCodeRecordBytes = 4;
// gun_load_struct: side u16 at 0 (1 first feeder, 2 second), torch length u16
// at 2, torch load u16 at 4.
const size_t kGunLoadRecordBytes = 6;
// The system-log text record: SYSTEMTIME (8 words) at 0; first u16 at 16,
// second at 18, third at 20 (the web forms write 0), kind at 22; UTF-16 text,
// NUL-terminated, from 24 to the end (at most 130 characters).
const size_t kSystemLogRecordBytes = 284;
const size_t kSystemLogTextOffset = 24;
const size_t kSystemLogTextChars = (kSystemLogRecordBytes - kSystemLogTextOffset) / 2;

}  // namespace

SQLBRIDGE_API int GetPCode(WORD pcode, WORD* value, LPCWSTR) {
  try {
    if (value == nullptr) return 0;
    quenta::SettingsStore* store = sqlbridge::threadStore(sqlbridge::Use::kRead);
    if (store == nullptr) return 0;
    WORD read = 0;
    quenta::SettingsStore::Result result = store->getPCode(pcode, &read);
    if (result == quenta::SettingsStore::kFound) {
      *value = read;
      return 1;
    }
    if (result == quenta::SettingsStore::kFailed) sqlbridge::dropIfBroken(store);
    return 0;
  } catch (...) {
    return 0;
  }
}

SQLBRIDGE_API LPVOID CreateView(LPCWSTR viewName, DWORD_PTR* mapHandle) {
  try {
    return sqlbridge::createView(viewName, mapHandle);
  } catch (...) {
    if (mapHandle != nullptr) *mapHandle = SQLBRIDGE_NO_VIEW;
    return nullptr;
  }
}

SQLBRIDGE_API void ReleaseView(DWORD_PTR releaseHandle) {
  try {
    sqlbridge::releaseView(releaseHandle);
  } catch (...) {
  }
}

SQLBRIDGE_API void CleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle) {
  try {
    sqlbridge::cleanupView(recordAddress, mapHandle);
  } catch (...) {
  }
}

SQLBRIDGE_API int SetPCode(WORD pcode, WORD value, LPCWSTR viewName) {
  try {
    // The value written is the call's own; the record in the view (the same
    // value and code, as the caller copied it) goes to the journal.
    unsigned char record[kPCodeRecordBytes] = {};
    size_t recordSize = sqlbridge::readSetterView(viewName, record, sizeof record) ? sizeof record : 0;
    char arguments[48];
    std::snprintf(arguments, sizeof arguments, "{\"pcode\":%u,\"value\":%u}", pcode, value);
    return sqlbridge::runSetter("SetPCode", viewName, arguments, record, recordSize,
                                [&](quenta::SettingsStore& store) { return store.updatePCode(pcode, value); });
  } catch (...) {
    return 0;
  }
}

SQLBRIDGE_API int SetGunLoad(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kGunLoadRecordBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    WORD side = wordAt(record, 0);
    char arguments[32];
    std::snprintf(arguments, sizeof arguments, "{\"side\":%u}", side);
    // The side is the bank: side 1 updates bank_config row 1, side 2 row 2.
    return sqlbridge::runSetter("SetGunLoad", viewName, arguments, record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) {
                                  if (!found) return 0;
                                  return store.updateGunLoad(side, wordAt(record, 2), wordAt(record, 4));
                                });
  } catch (...) {
    return 0;
  }
}

SQLBRIDGE_API int SetSystemLog(LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kSystemLogRecordBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    quenta::SystemLogRow row;
    row.time.wYear = wordAt(record, 0);
    row.time.wMonth = wordAt(record, 2);
    row.time.wDayOfWeek = wordAt(record, 4);
    row.time.wDay = wordAt(record, 6);
    row.time.wHour = wordAt(record, 8);
    row.time.wMinute = wordAt(record, 10);
    row.time.wSecond = wordAt(record, 12);
    row.time.wMilliseconds = wordAt(record, 14);
    row.first = wordAt(record, 16);
    row.second = wordAt(record, 18);
    row.third = wordAt(record, 20);
    row.eventType = wordAt(record, 22);
    std::u16string text;
    for (size_t k = 0; k < kSystemLogTextChars; ++k) {
      WORD c = wordAt(record, kSystemLogTextOffset + 2 * k);
      if (c == 0) break;
      text += static_cast<char16_t>(c);
    }
    row.description = quenta::narrow(text);
    return sqlbridge::runSetter("SetSystemLog", viewName, "{}", record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) {
                                  if (!found) return 0;
                                  return store.appendSystemLog(row) ? 1 : -1;
                                });
  } catch (...) {
    return 0;
  }
}

SQLBRIDGE_API int SqlBridgeOpenViewCount(void) {
  try {
    return sqlbridge::openViewCount();
  } catch (...) {
    return 0;
  }
}
