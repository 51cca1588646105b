// ByteBuffer: a growable block of bytes that is filled at its end and consumed
// from its front. The multipart parser keeps its window of unread body bytes
// in one, and every uploaded file part buffers its bytes in another. Failures
// are kept in `status` (E_OUTOFMEMORY, or 160 for a position outside the held
// bytes); nothing is thrown.
//
// Consuming does not move the remaining bytes at once: the buffer keeps an
// offset to its first held byte and moves the bytes to the front only when the
// free space at the end is asked for and the move costs no more than the bytes
// consumed since the last move, or when the end is nearly full. A parser that
// consumes a small part at a time out of a window of half a megabyte thus
// copies each byte a bounded number of times.
//
// BoundarySearch finds one fixed pattern (a part boundary) in such a buffer
// and continues where its previous search ended, so that a window that grows
// by a few bytes a read is not scanned again from its start: the cost of all
// searches together stays linear in the bytes received, whatever they hold.
//
// Neither class is safe for concurrent use; each lives within one request.
#ifndef QUENTA_CORE_BYTEBUFFER_H_
#define QUENTA_CORE_BYTEBUFFER_H_

#include <windows.h>

#include "core/SafeString.h"

// The one growth step of every ByteBuffer: added to a capacity at creation and
// whenever an append does not fit.
extern const DWORD kByteBufferGrowth;

class ByteBuffer {
 public:
  // Allocates capacity + kByteBufferGrowth bytes; on failure `status` is
  // E_OUTOFMEMORY and the capacity 0.
  explicit ByteBuffer(DWORD capacity);
  ~ByteBuffer();

  // Copies n bytes after the held ones, growing the block to
  // length + n + kByteBufferGrowth when they do not fit. Returns n, or 0 when
  // the block could not grow (then nothing is appended).
  DWORD append(const void* bytes, DWORD n);
  // Drops the first n bytes; n larger than the length sets status 160.
  bool consume(DWORD n);
  // First index at or after `from` where the pattern lies wholly inside the
  // held bytes, or -1. Meant for short patterns (line ends, quotes).
  int find(const SafeCString& pattern, DWORD from) const;
  // WriteFile of `count` bytes from `offset`; returns the bytes written.
  DWORD writeToFile(HANDLE file, DWORD offset, DWORD count);

  BYTE* data() const { return block + start; }
  DWORD getLength() const { return length; }
  DWORD getCapacity() const { return capacity; }
  // Moves the held bytes to the front when that is worth it (see above) and
  // returns where the free space begins.
  BYTE* freeStart();
  // Bytes that may be written at freeStart() before setLength().
  DWORD freeSpace() const { return capacity - start - length; }
  // After bytes were written at freeStart(): the new held length.
  bool setLength(DWORD n);
  HRESULT getStatus() const { return status; }
  // Bytes consumed since creation: the position in the whole stream of the
  // first held byte.
  unsigned long long streamOffset() const { return consumed; }

 private:
  void compact();

  DWORD capacity;
  BYTE* block;
  DWORD length;
  HRESULT status;
  DWORD start;  // offset of the first held byte in `block`
  unsigned long long consumed;

  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
};

// Knuth-Morris-Pratt search for one pattern, resumable across calls on a
// window that only grows at its end and shrinks at its front.
class BoundarySearch {
 public:
  BoundarySearch();
  ~BoundarySearch();

  // Copies the pattern and builds its fall-back table; false when either
  // could not be allocated or the pattern is empty.
  bool setPattern(const SafeCString& pattern);
  // Index of the first occurrence in the window, or -1. Bytes that an earlier
  // call already examined and that are still held are not examined again.
  int find(const ByteBuffer& window);
  DWORD patternLength() const { return length; }

 private:
  char* pattern;
  DWORD* fallback;  // fallback[k]: longest proper border of pattern[0..k]
  DWORD length;
  // Stream position up to which the window was examined, and how many bytes
  // before it equal the start of the pattern.
  unsigned long long examined;
  DWORD matched;

  BoundarySearch(const BoundarySearch&) = delete;
  BoundarySearch& operator=(const BoundarySearch&) = delete;
};

#endif  // QUENTA_CORE_BYTEBUFFER_H_
