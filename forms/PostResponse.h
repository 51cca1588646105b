// PostResponse: the base of every form handler. A handler serves one form path,
// declares the fields it accepts, and answers a POST with its own stored page,
// or with the shared 400 page when the body could not be parsed or applied.
//
// post() parses the body (PostParser), checks that every declared field
// arrived, and only then calls the handler's apply(). A declared field missing
// from the post answers the 400 page and writes nothing: the handlers read
// every field they declare, and a post without one is not a change the page
// could have meant.
//
// One handler object serves every request for its path, possibly on several
// threads at once. It keeps nothing of a request: the parts, the parser and
// the working records of apply() live on the request's own stack, so two posts
// to the same form never share a record. The pages guard their own loading,
// and the mailbox its ring (named mutex), so no lock is taken around post().
#ifndef QUENTA_FORMS_POSTRESPONSE_H_
#define QUENTA_FORMS_POSTRESPONSE_H_

#include <httpext.h>
#include <windows.h>

#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/SafeString.h"
#include "links/DbLogMailbox.h"

class StoredPage;

// The 4-byte record of one parameter write: value, then the parameter code.
struct pcode_only_struct {
  WORD value;
  WORD recordID;
};
static_assert(sizeof(pcode_only_struct) == 4, "pcode_only_struct is 4 bytes");

// The 284-byte record of one system-log text entry.
struct system_log_struct {
  SYSTEMTIME time;
  WORD first;
  WORD second;
  WORD third;  // always 0 from the web pages
  WORD kind;
  WCHAR text[130];  // NUL-terminated
};
static_assert(sizeof(system_log_struct) == 284, "system_log_struct is 284 bytes");

// Every field of the setting forms accepts at most 15 bytes while it spans reads.
const DWORD kDefaultFieldLength = 15;

// How a field's text becomes a record word: toInt, or toDouble times a scale
// truncated toward zero. Either way only the low 16 bits are kept.
enum FieldScale { kAsInteger = 0, kTimesTen = 10, kTimesHundred = 100, kTimesThousand = 1000 };

// A setter that reads one record from the caller's open view.
typedef int (*RecordSetter)(LPVOID record, LPCWSTR viewName, DWORD_PTR* releaseHandle);

class PostResponse {
 public:
  // Stores the form path and makes the answer page (not loaded yet).
  PostResponse(const SafeCString& formPath, const SafeWString& pageFile);

  // Milliseconds since the answer page was last sent; 0 while not loaded.
  virtual DWORD pageIdleTime();
  // The handler's work on the received parts, every declared field present.
  // True exactly when its last write updated a record.
  virtual bool apply(MimePartMap& parts) = 0;
  // Lets go of the answer page, and of the shared 400 page when that has been
  // idle longer.
  virtual void releasePage();
  virtual ~PostResponse();

  // Prints "PostResponse: Path Match\r\n" and compares exactly.
  bool matchesPath(const SafeCString& requestPath);
  // Parses and applies the body; the answer text is borrowed from a stored
  // page (null only when not even a substitute text could be allocated).
  SafeCString* post(EXTENSION_CONTROL_BLOCK* ecb);

  // Everything the constructor makes was made: the path, the page, every
  // declared field. A factory hands out only complete handlers.
  bool isComplete() const;

  // The word of a field's text, scaled; false when the part is missing.
  static bool fieldWord(MimePartMap& parts, const char* field, FieldScale scale, WORD* value);

 protected:
  // Appends FormField(name, maxLength); a failure leaves the handler incomplete.
  void declareField(const char* name, DWORD maxLength = kDefaultFieldLength);

  // One parameter through "SetPCodeView"; event 8 (code, 1, 0) when a record
  // was updated. Returns the count of records updated.
  int writePCode(WORD pcode, WORD value);
  // One record through a setter's view: copies `size` bytes into the view,
  // calls the setter with the view's address, prints
  // "UPDATED %i <recordType> records at recordID %i\r\n" and posts
  // (eventCode, key, arg2, arg3) when a record was updated and eventCode is
  // not 0.
  int writeRecord(LPCWSTR view, const void* record, DWORD size, RecordSetter setter, const char* recordType,
                  WORD key, WORD eventCode, WORD arg2, WORD arg3);
  // One system-log text entry stamped with the device clock; no event.
  int writeSystemLogText(LPCWSTR view, WORD first, WORD second, WORD kind, LPCWSTR text);

  SafeCString path;
  FormFieldList fields;
  StoredPage* page;
  DbLogMailbox mailbox;
  bool declarationsFailed;

 private:
  PostResponse(const PostResponse&) = delete;
  PostResponse& operator=(const PostResponse&) = delete;
};

#endif  // QUENTA_FORMS_POSTRESPONSE_H_
