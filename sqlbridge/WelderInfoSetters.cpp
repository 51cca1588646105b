// The welder information page's setters: the asset number and location, and
// the service date, into the first row of `welder_information`.
#include <QuentaPlatform.h>

#include <cstring>
#include <string>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/RecordReaders.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "sqlbridge/Views.h"

namespace {

// welder_info_struct: asset number char[10] at 0, location char[32] at 10,
// each NUL-terminated within its field.
const size_t kWelderInfoBytes = 42;
const size_t kAssetOffset = 0;
const size_t kAssetBytes = 10;
const size_t kLocationOffset = 10;
const size_t kLocationBytes = 32;
// service_date_struct: the local time as SYSTEMTIME (eight u16).
const size_t kServiceDateBytes = 16;

// The text of a fixed field: up to its first NUL, or the whole field.
std::string fieldText(const unsigned char* record, size_t offset, size_t size) {
  const char* start = reinterpret_cast<const char*>(record + offset);
  return std::string(start, strnlen(start, size));
}

}  // namespace

SQLBRIDGE_API int SetWelderInfo(LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kWelderInfoBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    std::string asset = fieldText(record, kAssetOffset, kAssetBytes);
    std::string location = fieldText(record, kLocationOffset, kLocationBytes);
    return sqlbridge::runSetter("SetWelderInfo", viewName, "{}", record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) {
                                  return found ? store.updateWelderInfo(asset, location) : 0;
                                });
  } catch (...) {
    return 0;
  }
}

SQLBRIDGE_API int SetServiceDate(LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kServiceDateBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    std::string date = quenta::unpackTime(std::string(reinterpret_cast<const char*>(record), sizeof record), 0);
    return sqlbridge::runSetter("SetServiceDate", viewName, "{}", record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) { return found ? store.updateServiceDate(date) : 0; });
  } catch (...) {
    return 0;
  }
}
