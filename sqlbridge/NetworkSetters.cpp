// The setters of the Wi-Fi form: the encryption and authentication
// selections and the enciphered network name and pass phrase.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "sqlbridge/Views.h"

namespace quenta {

class NetworkSettings {
 public:
  // Runs one statement with the given integer and optional text bindings;
  // the rows it changed, or -1 on failure.
  static int change(SettingsStore& store, const char* sql, int number, const std::string* text) {
    sqlite3_stmt* stmt = store.statement(sql);
    if (stmt == nullptr) return -1;
    sqlite3_bind_int(stmt, 1, number);
    if (text != nullptr) sqlite3_bind_text(stmt, 2, text->c_str(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    bool done = store.stepDone(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return done ? sqlite3_changes(store.db) : -1;
  }
};

}  // namespace quenta

namespace {

// encryption_select_struct and authentication_select_struct: selection u16,
// recordID u16.
const size_t kSelectRecordBytes = 4;
// veyra_core_info_struct: recordID u16 (the core), text char[800].
const size_t kVeyraCoreRecordBytes = 802;
const size_t kVeyraCoreTextBytes = 800;

// The whole table is changed only when the selection names one of its rows.
const char kSelectEncryption[] =
    "UPDATE wifi_encryption SET encryptionSelected = (encryptionID = ?1) "
    "WHERE EXISTS (SELECT 1 FROM wifi_encryption WHERE encryptionID = ?1)";
const char kSelectAuthentication[] =
    "UPDATE wifi_authentication SET authenticationSelected = (authenticationID = ?1) "
    "WHERE EXISTS (SELECT 1 FROM wifi_authentication WHERE authenticationID = ?1)";
const char kUpdateVeyraCore[] = "UPDATE veyra_core_info SET Value = ?2 WHERE core = ?1";

int select(const char* setter, const char* sql, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kSelectRecordBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    int selection = record[0] | record[1] << 8;
    char arguments[32];
    std::snprintf(arguments, sizeof arguments, "{\"selection\":%d}", selection);
    return sqlbridge::runSetter(setter, viewName, arguments, record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) {
                                  if (!found) return 0;
                                  int changed = quenta::NetworkSettings::change(store, sql, selection, nullptr);
                                  return changed < 0 ? -1 : changed > 0 ? 1 : 0;
                                });
  } catch (...) {
    return 0;
  }
}

}  // namespace

SQLBRIDGE_API int SetEncryption(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return select("SetEncryption", kSelectEncryption, viewName, releaseHandle);
}

SQLBRIDGE_API int SetEncryptionSet(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return select("SetEncryptionSet", kSelectEncryption, viewName, releaseHandle);
}

SQLBRIDGE_API int SetAuthentication(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return select("SetAuthentication", kSelectAuthentication, viewName, releaseHandle);
}

SQLBRIDGE_API int SetAuthenticationSet(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  return select("SetAuthenticationSet", kSelectAuthentication, viewName, releaseHandle);
}

SQLBRIDGE_API int SetVeyraCoreInfo(LPVOID, LPCWSTR viewName, DWORD_PTR* releaseHandle) {
  try {
    if (releaseHandle != nullptr) *releaseHandle = SQLBRIDGE_NO_RELEASE;
    unsigned char record[kVeyraCoreRecordBytes] = {};
    bool found = sqlbridge::readSetterView(viewName, record, sizeof record);
    int core = record[0] | record[1] << 8;
    const char* text = reinterpret_cast<const char*>(record + 2);
    std::string value(text, strnlen(text, kVeyraCoreTextBytes));
    char arguments[32];
    std::snprintf(arguments, sizeof arguments, "{\"core\":%d}", core);
    return sqlbridge::runSetter("SetVeyraCoreInfo", viewName, arguments, record, found ? sizeof record : 0,
                                [&](quenta::SettingsStore& store) {
                                  if (!found) return 0;
                                  int changed = quenta::NetworkSettings::change(store, kUpdateVeyraCore, core, &value);
                                  return changed < 0 ? -1 : changed > 0 ? 1 : 0;
                                });
  } catch (...) {
    return 0;
  }
}
