// PostParser: reads the multipart/form-data body of one POST through the web
// server, splits it at the boundary of its Content-Type, and hands every part
// that a declared field matches to the caller's MimePartMap (a later part of
// the same name replaces an earlier one). Unknown parts are skipped; values
// that grow past their field's maxLength while they arrive are cut off with
// ERROR_MIME_PART_TOO_LONG.
//
// Memory: the window holds at most min(declared length, 512000) + 64 bytes of
// unread body (more only when the server preloaded more than that), plus one
// value being collected. Between reads the window keeps its last
// (boundary length + 3) bytes while a value is collected, or
// (boundary length - 1) while a part is skipped, so that a delimiter split
// over two reads is still found whole.
//
// Every loop ends: each pass consumes bytes, gains bytes from a read, or stops
// with an error. A read that the server reports as successful but that brings
// no bytes (the client went away early) is a failed read (ERROR_HANDLE_EOF);
// a read with no free space left in the window (a boundary too long for the
// window) fails with ERROR_INSUFFICIENT_BUFFER; a read asked for after the
// declared length fails with ERROR_NO_MORE_DATA. Boundary searches continue
// where the previous one stopped, so the work stays linear in the bytes
// received whatever the body holds.
//
// A parser lives on the stack of one PostResponse::post call, on one thread.
#ifndef QUENTA_CORE_POSTPARSER_H_
#define QUENTA_CORE_POSTPARSER_H_

#include <httpext.h>
#include <windows.h>

#include "core/ByteBuffer.h"
#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/SafeString.h"

class PostParser {
 public:
  // Takes the preloaded bytes and the boundary. The outcome is left in
  // `error`; parse() of a parser whose construction failed reads nothing.
  PostParser(EXTENSION_CONTROL_BLOCK* ecb, const FormFieldList& fields);
  // Deletes a part still being filled.
  ~PostParser();

  // Reads the whole body into `parts`. True when the body ended normally or
  // stopped at a malformed part (the parts stored so far stay); false when
  // construction failed, or a matched part could not be finished, or an
  // unknown part could not be skipped.
  bool parse(MimePartMap& parts);

  bool hasMore() const;
  // Parses the next part's headers and makes its part; null at the end of the
  // body or on a malformed part.
  MimePart* nextPart();
  bool finishPart(DWORD maxLength);
  bool finishNormal(DWORD maxLength);
  bool finishFile(DWORD maxLength);
  // Skips the current part up to the next boundary and deletes it.
  bool discard();
  // One ReadClient call into `destination`.
  bool readClient(BYTE* destination, DWORD size, DWORD* received);
  DWORD bufferSize() const;

  HRESULT getError() const { return error; }

 private:
  // Reads once into the window's free space.
  bool refill();
  // Drops the part still owned by the parser (and its unfinished file).
  void releaseCurrent();

  HRESULT error;
  EXTENSION_CONTROL_BLOCK* ecb;
  const FormFieldList& fields;
  SafeCString boundary;
  ByteBuffer buffer;
  DWORD bytesRead;
  MimePart* currentPart;
  // Only restored into currentPart by discard(); never dereferenced (it may
  // name a part that the map has since replaced).
  MimePart* previousPart;
  bool partComplete;
  bool finished;
  // currentPart is still the parser's to delete: created by nextPart and
  // neither stored in the map nor discarded.
  bool currentOwned;
  BoundarySearch boundarySearch;

  PostParser(const PostParser&) = delete;
  PostParser& operator=(const PostParser&) = delete;
};

#endif  // QUENTA_CORE_POSTPARSER_H_
