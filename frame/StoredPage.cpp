#include "frame/StoredPage.h"

#include <new>

StoredPage::StoredPage(const SafeWString& pagePath, bool preload)
    : path(pagePath), text(nullptr), lastUsed(GetTickCount()) {
  InitializeCriticalSection(&guard);
  if (preload) load();
}

StoredPage::~StoredPage() {
  unload();
  DeleteCriticalSection(&guard);
}

void StoredPage::load() {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    // Taken as the bytes are: no character set conversion, no check of the HTML.
    text = new (std::nothrow) SafeCString(file, 0);
    CloseHandle(file);
    return;
  }
  text = new (std::nothrow) SafeCString("Couldn't load page: ");
  if (text != nullptr) *text += SafeCString(path);
}

SafeCString* StoredPage::content() {
  EnterCriticalSection(&guard);
  if (text == nullptr) load();
  lastUsed = GetTickCount();
  SafeCString* result = text;
  LeaveCriticalSection(&guard);
  return result;
}

DWORD StoredPage::idleTime() {
  EnterCriticalSection(&guard);
  // Unsigned difference: stays right across one wrap of the tick counter.
  DWORD idle = text == nullptr ? 0 : GetTickCount() - lastUsed;
  LeaveCriticalSection(&guard);
  return idle;
}

void StoredPage::unload() {
  EnterCriticalSection(&guard);
  delete text;
  text = nullptr;
  LeaveCriticalSection(&guard);
}

// Function-local statics would be read on first use; the 403 and 404 pages
// must be read when the module is loaded, so these are namespace-scope objects
// built with the module's other static objects.
namespace {
StoredPage page400(SafeWString(TEXT("\\MMCMemory\\www\\wwwpub\\400.htm")), false);
StoredPage page403(SafeWString(TEXT("\\MMCMemory\\www\\wwwpub\\403.htm")), true);
StoredPage page404(SafeWString(TEXT("\\MMCMemory\\www\\wwwpub\\404.htm")), true);
StoredPage page405(SafeWString(TEXT("\\MMCMemory\\www\\wwwpub\\405.htm")), false);
StoredPage page414(SafeWString(TEXT("\\MMCMemory\\www\\wwwpub\\414.htm")), false);
}  // namespace

StoredPage& errorPage400() { return page400; }
StoredPage& errorPage403() { return page403; }
StoredPage& errorPage404() { return page404; }
StoredPage& errorPage405() { return page405; }
StoredPage& errorPage414() { return page414; }
