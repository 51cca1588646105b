#include "core/ByteBuffer.h"

#include <cstring>
#include <new>

const DWORD kByteBufferGrowth = 64;

namespace {
// The status of a position or count outside the held bytes.
const HRESULT kBadArguments = ERROR_BAD_ARGUMENTS;
}  // namespace

ByteBuffer::ByteBuffer(DWORD wanted)
    : capacity(0), block(nullptr), length(0), status(S_OK), start(0), consumed(0) {
  if (wanted <= 0xFFFFFFFFu - kByteBufferGrowth) block = new (std::nothrow) BYTE[wanted + kByteBufferGrowth];
  if (block == nullptr) {
    status = E_OUTOFMEMORY;
    return;
  }
  capacity = wanted + kByteBufferGrowth;
}

ByteBuffer::~ByteBuffer() { delete[] block; }

void ByteBuffer::compact() {
  if (start == 0) return;
  if (length != 0) std::memmove(block, block + start, length);
  start = 0;
}

BYTE* ByteBuffer::freeStart() {
  DWORD tail = capacity - start - length;
  // Moving costs `length` bytes: done when those are no more than the bytes
  // consumed since the last move, or when less than half the block is left at
  // the end (which a reader of the whole free space would notice).
  if (start != 0 && (start >= length || tail < capacity / 2)) compact();
  return block + start + length;
}

DWORD ByteBuffer::append(const void* bytes, DWORD n) {
  if (n == 0) return 0;
  if (n <= capacity - start - length) {
    std::memcpy(block + start + length, bytes, n);
    length += n;
    return n;
  }
  if (n <= capacity - length) {
    compact();
    std::memcpy(block + length, bytes, n);
    length += n;
    return n;
  }
  BYTE* grown = nullptr;
  if (n <= 0xFFFFFFFFu - kByteBufferGrowth - length) grown = new (std::nothrow) BYTE[length + n + kByteBufferGrowth];
  if (grown == nullptr) {
    status = E_OUTOFMEMORY;
    return 0;
  }
  if (length != 0) std::memcpy(grown, block + start, length);
  std::memcpy(grown + length, bytes, n);
  delete[] block;
  block = grown;
  start = 0;
  capacity = length + n + kByteBufferGrowth;
  length += n;
  return n;
}

bool ByteBuffer::consume(DWORD n) {
  if (n > length) {
    status = kBadArguments;
    return false;
  }
  start += n;
  length -= n;
  consumed += n;
  if (length == 0) start = 0;
  return true;
}

bool ByteBuffer::setLength(DWORD n) {
  if (n > capacity - start) {
    status = kBadArguments;
    return false;
  }
  length = n;
  return true;
}

int ByteBuffer::find(const SafeCString& pattern, DWORD from) const {
  DWORD n = pattern.getLength();
  if (n == 0 || n > length || from > length - n) return -1;
  const BYTE* text = block + start;
  const BYTE first = static_cast<BYTE>(pattern.c_str()[0]);
  DWORD position = from;
  DWORD lastStart = length - n;
  while (position <= lastStart) {
    const void* hit = std::memchr(text + position, first, lastStart - position + 1);
    if (hit == nullptr) return -1;
    position = static_cast<DWORD>(static_cast<const BYTE*>(hit) - text);
    if (std::memcmp(text + position, pattern.c_str(), n) == 0) return static_cast<int>(position);
    ++position;
  }
  return -1;
}

DWORD ByteBuffer::writeToFile(HANDLE file, DWORD offset, DWORD count) {
  if (offset > length || count > length - offset) {
    status = kBadArguments;
    return 0;
  }
  DWORD written = 0;
  if (!WriteFile(file, block + start + offset, count, &written, nullptr)) {
    status = static_cast<HRESULT>(GetLastError());
    return written;
  }
  status = S_OK;
  return written;
}

BoundarySearch::BoundarySearch() : pattern(nullptr), fallback(nullptr), length(0), examined(0), matched(0) {}

BoundarySearch::~BoundarySearch() {
  delete[] pattern;
  delete[] fallback;
}

bool BoundarySearch::setPattern(const SafeCString& text) {
  delete[] pattern;
  delete[] fallback;
  pattern = nullptr;
  fallback = nullptr;
  length = 0;
  examined = 0;
  matched = 0;
  DWORD n = text.getLength();
  if (n == 0 || text.c_str() == nullptr) return false;
  pattern = new (std::nothrow) char[n];
  fallback = new (std::nothrow) DWORD[n];
  if (pattern == nullptr || fallback == nullptr) {
    delete[] pattern;
    delete[] fallback;
    pattern = nullptr;
    fallback = nullptr;
    return false;
  }
  std::memcpy(pattern, text.c_str(), n);
  fallback[0] = 0;
  DWORD border = 0;
  for (DWORD k = 1; k < n; ++k) {
    while (border > 0 && pattern[k] != pattern[border]) border = fallback[border - 1];
    if (pattern[k] == pattern[border]) ++border;
    fallback[k] = border;
  }
  length = n;
  return true;
}

int BoundarySearch::find(const ByteBuffer& window) {
  if (length == 0) return -1;
  const unsigned long long origin = window.streamOffset();
  // The earlier state holds only while the bytes it describes are still in the
  // window; otherwise start again at the window's first byte.
  if (examined < origin + matched || examined > origin + window.getLength()) {
    examined = origin;
    matched = 0;
  }
  const BYTE* text = window.data();
  DWORD position = static_cast<DWORD>(examined - origin);
  DWORD state = matched;
  const DWORD end = window.getLength();
  while (position < end) {
    if (state == 0) {
      // Nothing matched yet: skip straight to the next byte that could begin
      // the pattern.
      const void* hit = std::memchr(text + position, static_cast<BYTE>(pattern[0]), end - position);
      if (hit == nullptr) {
        position = end;
        break;
      }
      position = static_cast<DWORD>(static_cast<const BYTE*>(hit) - text);
    }
    const char c = static_cast<char>(text[position]);
    while (state > 0 && c != pattern[state]) state = fallback[state - 1];
    if (c == pattern[state]) ++state;
    ++position;
    if (state == length) {
      // Found: a later search of the same window finds the same place again,
      // starting from it.
      DWORD found = position - length;
      examined = origin + found;
      matched = 0;
      return static_cast<int>(found);
    }
  }
  examined = origin + position;
  matched = state;
  return -1;
}
