// The bridge's connections: one SettingsStore per thread (thread_local), on
// the settings database of the current device root (QUENTA_ROOT, read on
// every call), and the common frame of every setter call.
//
// The connection follows the file, not the other way round: before each
// setter call, and before a reader call once kReadCheckPeriod has passed since
// the last look, the file is looked up; when it is missing the call reports
// "unavailable" without creating it, and when it is another file than the one
// open (it was deleted and made again, or the root changed) the connection is
// reopened. Reads may so see a replaced file for up to kReadCheckPeriod; a
// write never goes to a file that was gone before it began. The look is a
// path lookup, the dearest step of a read of a word, and the data files read
// thousands of times a second.
// A failure that says the connection is unusable (corrupt file, I/O error)
// closes it, so the next call starts afresh: the bridge recovers by itself
// once the database is back.
#ifndef QUENTA_SQLBRIDGE_BRIDGECONNECTION_H_
#define QUENTA_SQLBRIDGE_BRIDGECONNECTION_H_

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "sqlbridge/SettingsStore.h"

namespace sqlbridge {

const std::chrono::milliseconds kReadCheckPeriod{10};

enum class Use { kRead, kWrite };

// The calling thread's store, open on <root>/settings.db; null when the
// database is unavailable.
quenta::SettingsStore* threadStore(Use use);
// After a failed operation on the thread's store: closes it if the failure
// means the connection cannot be trusted any more.
void dropIfBroken(quenta::SettingsStore* store);

// One setter call: `write` runs inside one write transaction together with
// the journal row (setter, view name, key arguments as a JSON object, the
// record read from the view in hex, the count returned). A failure rolls both
// back and returns 0; the journal row of the failed call is then written on
// its own if the database takes it. `write` returns the count of records
// updated, or -1 on failure.
int runSetter(const char* setter, LPCWSTR viewName, const std::string& arguments,
              const unsigned char* record, size_t recordSize,
              const std::function<int(quenta::SettingsStore&)>& write);

std::string toHex(const unsigned char* bytes, size_t size);

}  // namespace sqlbridge

#endif  // QUENTA_SQLBRIDGE_BRIDGECONNECTION_H_
