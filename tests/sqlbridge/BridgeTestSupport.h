// A temporary device root for the bridge tests: QUENTA_ROOT points at it while
// the object lives, and it can hold a settings database made by SettingsStore,
// as `quenta-machine init` makes it.
#ifndef QUENTA_TESTS_SQLBRIDGE_BRIDGETESTSUPPORT_H_
#define QUENTA_TESTS_SQLBRIDGE_BRIDGETESTSUPPORT_H_

#include <stdlib.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"

class BridgeRoot {
 public:
  BridgeRoot() {
    char pattern[] = "/tmp/quenta-sqlbridge-XXXXXX";
    if (mkdtemp(pattern) != nullptr) rootPath = pattern;
    setenv("QUENTA_ROOT", rootPath.c_str(), 1);
  }
  ~BridgeRoot() {
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    if (!rootPath.empty()) std::filesystem::remove_all(rootPath, ignored);
  }

  const std::string& path() const { return rootPath; }
  std::string database() const { return quenta::SettingsStore::databasePath(rootPath); }

  // Makes settings.db with its schema, the given parameter codes and both banks.
  bool create(std::initializer_list<std::pair<WORD, WORD>> pcodes = {}) const {
    quenta::SettingsStore store;
    if (!store.open(database(), true) || !store.createSchema()) return false;
    for (const auto& row : pcodes) {
      if (!store.putPCode(row.first, row.second, true)) return false;
    }
    quenta::BankConfigRow bank;
    bank.bankConfigID = 1;
    bank.errorEnables = 31;
    bank.gunLdLen = 15;
    bank.gunLdWFS = 100;
    if (!store.putBankConfig(bank, true)) return false;
    bank.bankConfigID = 2;
    bank.gunLdLen = 12;
    bank.gunLdWFS = 90;
    return store.putBankConfig(bank, true);
  }

  // Removes the database with its WAL files.
  void removeDatabase() const {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(database() + suffix, ignored);
  }

  void writeDatabaseBytes(const std::string& bytes) const {
    removeDatabase();
    std::ofstream(database(), std::ios::binary) << bytes;
  }

 private:
  std::string rootPath;
  BridgeRoot(const BridgeRoot&) = delete;
  BridgeRoot& operator=(const BridgeRoot&) = delete;
};

// A setter's call as the module makes it: CreateView, copy the record in,
// call, ReleaseView, CleanupView.
template <typename Call>
int callSetter(const char16_t* view, const void* record, size_t size, Call call) {
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  void* buffer = CreateView(view, &mapHandle);
  if (buffer == nullptr) return -1;
  std::memcpy(buffer, record, size);
  DWORD_PTR releaseHandle = SQLBRIDGE_NO_RELEASE;
  int count = call(&releaseHandle);
  ReleaseView(releaseHandle);
  CleanupView(reinterpret_cast<DWORD_PTR>(buffer), mapHandle);
  return count;
}

#endif  // QUENTA_TESTS_SQLBRIDGE_BRIDGETESTSUPPORT_H_
