// StoredPage: one HTML file of the flash card, read on first use (or at
// construction when asked) and kept in memory until unload(). A file that
// cannot be read is replaced by the text "Couldn't load page: " + its path.
//
// content() and unload() take the page's own lock, so a first load from two
// request threads reads the file once. The text that content() returns stays
// valid until unload(); only a form handler's releasePage() unloads a page, and
// never while the page is being sent.
#ifndef QUENTA_FRAME_STOREDPAGE_H_
#define QUENTA_FRAME_STOREDPAGE_H_

#include <windows.h>

#include "core/SafeString.h"

class StoredPage {
 public:
  StoredPage(const SafeWString& path, bool preload);
  ~StoredPage();

  // Loads if needed and stamps the last use. Borrowed; null only when not even
  // the substitute text could be allocated.
  SafeCString* content();
  // Milliseconds since the last content() call; 0 while not loaded.
  DWORD idleTime();
  void unload();

 private:
  void load();

  SafeWString path;
  SafeCString* text;
  DWORD lastUsed;
  CRITICAL_SECTION guard;

  StoredPage(const StoredPage&) = delete;
  StoredPage& operator=(const StoredPage&) = delete;
};

// The stored error pages, built with the module's static objects: 403 and 404
// are read at that moment, the others on first use.
StoredPage& errorPage400();
StoredPage& errorPage403();
StoredPage& errorPage404();
StoredPage& errorPage405();
StoredPage& errorPage414();

#endif  // QUENTA_FRAME_STOREDPAGE_H_
