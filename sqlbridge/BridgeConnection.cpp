#include "sqlbridge/BridgeConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QuentaPlatform.h>

namespace sqlbridge {
namespace {

struct ThreadConnection {
  quenta::SettingsStore store;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  std::chrono::steady_clock::time_point looked;  // when the file was last found to be `inode`
};

thread_local ThreadConnection connection;

}  // namespace

quenta::SettingsStore* threadStore(Use use) {
  ThreadConnection& c = connection;
  std::string root = quenta::deviceRoot();
  if (root.empty()) {
    c.store.close();
    return nullptr;
  }
  std::string path = quenta::SettingsStore::databasePath(root);
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  if (use == Use::kRead && c.store.isOpen() && c.path == path && now - c.looked < kReadCheckPeriod) {
    return &c.store;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    c.store.close();
    return nullptr;
  }
  if (c.store.isOpen() &&
      (c.path != path || c.device != info.st_dev || c.inode != info.st_ino)) {
    c.store.close();
  }
  if (!c.store.isOpen()) {
    if (!c.store.open(path, false)) return nullptr;
    c.path = path;
    c.device = info.st_dev;
    c.inode = info.st_ino;
  }
  c.looked = now;
  return &c.store;
}

void dropIfBroken(quenta::SettingsStore* store) {
  if (store != nullptr && store->connectionBroken()) store->close();
}

std::string toHex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t k = 0; k < size; ++k) {
    text += kDigits[bytes[k] >> 4];
    text += kDigits[bytes[k] & 0x0F];
  }
  return text;
}

int runSetter(const char* setter, LPCWSTR viewName, const std::string& arguments,
              const unsigned char* record, size_t recordSize,
              const std::function<int(quenta::SettingsStore&)>& write) {
  quenta::SettingsStore* store = threadStore(Use::kWrite);
  if (store == nullptr) return 0;

  quenta::JournalRow journal;
  journal.setter = setter;
  journal.view = viewName != nullptr ? quenta::narrow(std::u16string(viewName)) : std::string();
  journal.arguments = arguments;
  journal.record = toHex(record, recordSize);

  int count = -1;
  if (store->begin()) {
    count = write(*store);
    if (count >= 0) {
      journal.count = count;
      if (!store->appendJournal(journal) || !store->commit()) count = -1;
    }
    if (count < 0) store->rollback();
  }
  if (count >= 0) return count;

  // Nothing of the call was applied. Its journal row still goes in when the
  // database takes it (a missing table or a lock may refuse it as well).
  // A lock that outlasted the busy time-out would only make the caller wait
  // a second time.
  journal.count = 0;
  int primary = store->lastErrorCode() & 0xFF;
  bool locked = primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
  if (!store->connectionBroken() && !locked) store->appendJournal(journal);
  dropIfBroken(store);
  return 0;
}

}  // namespace sqlbridge
