// The received parts of a multipart/form-data body.
//
// MimePart: one form field as sent, its name and its value text. A part with
// a file name in its Content-Disposition is a FileMimePart: its value is the
// fixed text "FILE" and its contents go through a byte buffer into a file of
// its own, opened at the first write and kept open until the part is deleted.
//
// An uploaded file always lands in the part's directory (the device's
// "\Temp\" unless a file field names another) under a bare file name: any
// directory part of a name is dropped at both "\" and "/", and names that are
// empty, made only of dots, or hold control characters or any of : * ? " < > |
// are refused, so a client's name can neither climb out of the directory nor
// open a device such as "COM1:". A part without an acceptable name writes no
// file (ERROR_INVALID_NAME).
//
// MimePartMap: the parts that matched declared fields, by field name, in the
// length-first order of SafeCString. It owns its parts.
//
// All of these live within one request on one thread.
#ifndef QUENTA_CORE_MIMEPART_H_
#define QUENTA_CORE_MIMEPART_H_

#include <httpext.h>
#include <windows.h>

#include "core/ByteBuffer.h"
#include "core/SafeString.h"

class MimePart {
 public:
  explicit MimePart(const SafeCString& name);
  MimePart(const SafeCString& name, const SafeCString& value);

  // Keeps the first `length` characters of the value.
  virtual bool truncate(DWORD length);
  // "Name:\t\t" + name + "\nValue:\t\t" + value; a value of 50 characters or
  // more shows its first 32 and its length.
  virtual SafeCString dump();
  virtual ~MimePart();

  // A file part carries the marker value "FILE".
  bool isFile() const;

  SafeCString name;
  SafeCString value;

 private:
  MimePart(const MimePart&) = delete;
  MimePart& operator=(const MimePart&) = delete;
};

class FileMimePart : public MimePart {
 public:
  // The client's file name is kept without its directory part (or refused);
  // contentType is the class 0 to 6 of the part's Content-Type line.
  FileMimePart(const SafeCString& name, const SafeWString& fileName, DWORD contentType, DWORD bufferCapacity);
  ~FileMimePart() override;

  bool truncate(DWORD length) override;
  SafeCString dump() override;

  // Stores the directory, ending it with "\"; false on a failed text.
  bool setDirectory(const SafeWString& directory);
  // Stores the bare name; false on a failed text or a refused name.
  bool setFileName(const SafeWString& fileName);
  // Writes `count` buffered bytes (0: all of them) to the file, opening
  // (creating or emptying) it at the first call. 0 when all were written, else
  // a Win32 error code or the buffer's status.
  DWORD write(DWORD count);
  // Closes and deletes the file.
  bool deleteFile();

  ByteBuffer buffer;
  SafeWString fileName;
  DWORD contentType;
  SafeWString directory;
  DWORD bytesWritten;
  HANDLE file;

 private:
  SafeWString path() const;
};

class MimePartMap {
 public:
  MimePartMap();
  // Deletes every part held.
  ~MimePartMap();

  // The part received under `name`. Never fails: a name not received gets a
  // new entry holding a null pointer, which is returned (when even that entry
  // cannot be made, a null slot of the map itself is).
  MimePart*& operator[](const SafeCString& name);
  // The part under `name`, or null; adds nothing.
  MimePart* lookup(const SafeCString& name) const;
  // Stores the part under its name; an earlier part of that name is deleted.
  // False when no entry could be made (the part is then still the caller's).
  bool put(MimePart* part);

  DWORD count() const { return used; }
  const SafeCString* keyAt(DWORD index) const { return index < used ? entries[index].key : nullptr; }
  MimePart* partAt(DWORD index) const { return index < used ? entries[index].part : nullptr; }
  // Deletes every part and every entry.
  void clear();

 private:
  struct Entry {
    SafeCString* key;
    MimePart* part;
  };
  // Index of `name`, or of the place where it would go (found tells which).
  DWORD position(const SafeCString& name, bool* found) const;
  Entry* insert(const SafeCString& name);

  Entry* entries;
  DWORD used;
  DWORD capacity;
  MimePart* spare;

  MimePartMap(const MimePartMap&) = delete;
  MimePartMap& operator=(const MimePartMap&) = delete;
};

// Appends the 8-bit text to the web server's log entry of this request
// (HSE_APPEND_LOG_PARAMETER); echo also prints "HTTPD log echo: ...".
// Returns 0, or GetLastError() when the server refused.
DWORD appendLogText(EXTENSION_CONTROL_BLOCK* ecb, const SafeCString& text, bool echo);

#endif  // QUENTA_CORE_MIMEPART_H_
