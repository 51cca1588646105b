// The views of the bridge: buffers that the library owns and lends to one
// request between CreateView and CleanupView.
//
// A reader that finds records publishes a copy of them under its view name
// for the calling thread and gives the caller a release handle; the caller's
// CreateView of that name then gets a buffer holding those records, back to
// back as the reading code lays them out, zero-filled beyond them. A setter's
// view starts zero-filled; the caller copies its record in and the setter
// reads it back by name (the most recent open view of that name created by the
// calling thread).
//
// Handles are the addresses of the library's own bookkeeping records, checked
// against the open list before use, so a stale or foreign handle does nothing.
// All state is guarded by one mutex; the no-view values never take it.
#ifndef QUENTA_SQLBRIDGE_VIEWS_H_
#define QUENTA_SQLBRIDGE_VIEWS_H_

#include <windows.h>

#include <cstddef>

namespace sqlbridge {

// Every view buffer is at least this large, so a caller that copies a record
// of any of the system's sizes into a setter's view stays inside it.
const size_t kMinViewBytes = 4096;

// Reader side: keeps a copy of `bytes` bytes of records for the calling thread
// under viewName (replacing an earlier copy of that name) until
// ReleaseView(*releaseHandle). False when nothing could be kept.
bool publishRecords(LPCWSTR viewName, const void* records, size_t bytes, DWORD_PTR* releaseHandle);

// Setter side: copies the first `size` bytes of the most recent open view named
// viewName that the calling thread created. False when there is none.
bool readSetterView(LPCWSTR viewName, void* record, size_t size);

LPVOID createView(LPCWSTR viewName, DWORD_PTR* mapHandle);
void releaseView(DWORD_PTR releaseHandle);
void cleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle);
// Open views plus published records not yet released, in this process.
int openViewCount();

}  // namespace sqlbridge

#endif  // QUENTA_SQLBRIDGE_VIEWS_H_
