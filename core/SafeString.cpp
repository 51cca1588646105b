#include "core/SafeString.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include <strsafe.h>

namespace {

// Integers and doubles are formatted into a buffer of this many bytes, which
// becomes the string's own buffer. A double whose "%f" text is longer (1e30
// has 38 characters) leaves the formatting failure in status.
const DWORD kNumberBufferSize = 24;

template <typename Ch>
const Ch* emptyText() {
  static const Ch kEmpty[1] = {0};
  return kEmpty;
}

// The safe-string primitives for each character type. Every copy asks for an
// empty destination on failure, so a failed copy never leaves a partial text.
HRESULT measure(const char* text, size_t maxCount, size_t* count) {
  return StringCchLengthA(text, maxCount, count);
}
HRESULT measure(const WCHAR* text, size_t maxCount, size_t* count) {
  return StringCchLengthW(text, maxCount, count);
}

HRESULT copyAll(char* destination, size_t size, const char* source, char** end) {
  return StringCchCopyExA(destination, size, source, end, nullptr, STRSAFE_NULL_ON_FAILURE);
}
HRESULT copyAll(WCHAR* destination, size_t size, const WCHAR* source, WCHAR** end) {
  return StringCchCopyExW(destination, size, source, end, nullptr, STRSAFE_NULL_ON_FAILURE);
}

HRESULT copyAtMost(char* destination, size_t size, const char* source, size_t count, char** end) {
  return StringCchCopyNExA(destination, size, source, count, end, nullptr, STRSAFE_NULL_ON_FAILURE);
}
HRESULT copyAtMost(WCHAR* destination, size_t size, const WCHAR* source, size_t count,
                   WCHAR** end) {
  return StringCchCopyNExW(destination, size, source, count, end, nullptr, STRSAFE_NULL_ON_FAILURE);
}

// Code page 65001 both ways; the destination size leaves room for the
// terminator, which the caller writes. Returns the characters written, 0 on
// failure (GetLastError tells why).
int convert(const WCHAR* source, int count, char* destination, int size) {
  return WideCharToMultiByte(CP_UTF8, 0, source, count, destination, size, nullptr, nullptr);
}
int convert(const char* source, int count, WCHAR* destination, int size) {
  return MultiByteToWideChar(CP_UTF8, 0, source, count, destination, size);
}

// first + second + slack + terminator, or 0 when that is beyond what a bounded
// copy accepts (the caller then treats it as a failed allocation).
DWORD sizeWithSlack(DWORD first, DWORD second, DWORD slack) {
  uint64_t total = static_cast<uint64_t>(first) + second + slack + 1;
  return total > STRSAFE_MAX_CCH ? 0 : static_cast<DWORD>(total);
}

template <typename Ch>
Ch* allocate(DWORD count) {
  if (count == 0 || count > STRSAFE_MAX_CCH) {
    return nullptr;
  }
  return new (std::nothrow) Ch[count];
}

// A failed platform call should leave its reason in GetLastError; when it does
// not, the status still has to say that something failed.
HRESULT lastErrorOr(HRESULT fallback) {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<HRESULT>(error) : fallback;
}

}  // namespace

// ---- Private helpers ---------------------------------------------------------

template <typename Ch>
void SafeString<Ch>::failAllocation() {
  delete[] buffer;
  buffer = nullptr;
  length = 0;
  capacity = 0;
  status = E_OUTOFMEMORY;
}

template <typename Ch>
bool SafeString<Ch>::reserveExact(DWORD newCapacity, bool keepText) {
  Ch* fresh = allocate<Ch>(newCapacity);
  if (fresh == nullptr) {
    failAllocation();
    return false;
  }
  fresh[0] = 0;
  DWORD kept = 0;
  if (keepText && buffer != nullptr && length > 0) {
    Ch* end = fresh;
    HRESULT result = copyAtMost(fresh, newCapacity, buffer, length, &end);
    if (FAILED(result)) {
      // The old text stays where it was.
      delete[] fresh;
      status = result;
      return false;
    }
    kept = static_cast<DWORD>(end - fresh);
  }
  delete[] buffer;
  buffer = fresh;
  capacity = newCapacity;
  length = kept;
  return true;
}

template <typename Ch>
void SafeString<Ch>::takeCopyResult(HRESULT result, const Ch* end) {
  if (FAILED(result)) {
    status = result;
    length = 0;
    buffer[0] = 0;
    return;
  }
  // The end the primitive reports, not the source's length: a source holding
  // a zero character stops the copy there, and the invariant needs the zero at
  // buffer[length].
  length = static_cast<DWORD>(end - buffer);
}

// ---- Construction ------------------------------------------------------------

template <typename Ch>
SafeString<Ch>::SafeString() : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  reserveExact(kDefaultCapacity, false);
}

template <typename Ch>
SafeString<Ch>::SafeString(const Ch* text)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  if (text == nullptr) {
    return;
  }
  size_t count = 0;
  HRESULT result = measure(text, STRSAFE_MAX_CCH, &count);
  if (FAILED(result)) {
    status = result;
    return;
  }
  // Exactly length + 1: constants built from literals carry no slack.
  if (!reserveExact(static_cast<DWORD>(count + 1), false)) {
    return;
  }
  Ch* end = buffer;
  result = copyAll(buffer, capacity, text, &end);
  takeCopyResult(result, end);
}

// A fresh buffer for `count` characters plus the growth slack and the
// terminator; a size that does not fit 32 bits is an allocation failure.
template <typename Ch>
bool SafeString<Ch>::reserveWithSlack(DWORD count) {
  DWORD size = sizeWithSlack(count, 0, kGrowthSlack);
  if (size == 0) {
    failAllocation();
    return false;
  }
  return reserveExact(size, false);
}

template <typename Ch>
SafeString<Ch>::SafeString(Ch* source, DWORD count, bool adopt)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  if (source == nullptr) {
    return;
  }
  if (adopt) {
    if (count == 0) {
      // A buffer without room for a terminator cannot hold even the empty
      // text; it was handed over, so it is freed here.
      delete[] source;
      status = ERROR_INVALID_PARAMETER;
      return;
    }
    buffer = source;
    capacity = count;
    buffer[count - 1] = 0;
    size_t measured = 0;
    HRESULT result = measure(buffer, count, &measured);
    if (FAILED(result)) {
      // Only a count beyond what the primitive accepts gets here.
      status = result;
      buffer[0] = 0;
      measured = 0;
    }
    length = static_cast<DWORD>(measured);
    return;
  }
  if (!reserveWithSlack(count)) {
    return;
  }
  Ch* end = buffer;
  HRESULT result = copyAtMost(buffer, capacity, source, count, &end);
  takeCopyResult(result, end);
}

template <typename Ch>
template <typename Number>
void SafeString<Ch>::formatNumber(const char* format, Number value) {
  if (!reserveExact(kNumberBufferSize, false)) {
    return;
  }
  char* end = buffer;
  HRESULT result = StringCchPrintfExA(buffer, capacity, &end, nullptr, STRSAFE_NULL_ON_FAILURE, format, value);
  takeCopyResult(result, end);
}

template <>
SafeString<char>::SafeString(int value)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  formatNumber("%i", value);
}

template <>
SafeString<char>::SafeString(double value)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  formatNumber("%f", value);
}

template <>
SafeString<char>::SafeString(HANDLE file, DWORD count)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  if (count == 0) {
    count = GetFileSize(file, nullptr);
    if (count == INVALID_FILE_SIZE) {
      // Nothing to size a buffer by: the null-buffer empty string.
      status = lastErrorOr(ERROR_INVALID_HANDLE);
      return;
    }
  }
  if (!reserveWithSlack(count)) {
    return;
  }
  DWORD read = 0;
  if (!ReadFile(file, buffer, count, &read, nullptr)) {
    status = lastErrorOr(ERROR_READ_FAULT);
    return;
  }
  // The bytes as read: a zero byte inside the file does not shorten the text.
  length = read < count ? read : count;
  buffer[length] = 0;
}

template <typename Ch>
SafeString<Ch>::SafeString(const SafeString<OtherCh>& other)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  DWORD sourceLength = other.getLength();
  DWORD size = sizeWithSlack(sourceLength, 0, kGrowthSlack);
  if (size == 0 || size > INT_MAX) {
    failAllocation();
    return;
  }
  if (!reserveExact(size, false) || sourceLength == 0) {
    return;
  }
  // The buffer is sized by the source's length: a UTF-8 text needing more than
  // length + 16 bytes fails with the converter's insufficient-buffer code.
  int written = convert(other.c_str(), static_cast<int>(sourceLength), buffer,
                        static_cast<int>(capacity - 1));
  if (written <= 0) {
    status = lastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    buffer[0] = 0;
    return;
  }
  length = static_cast<DWORD>(written);
  buffer[length] = 0;
}

template <typename Ch>
SafeString<Ch>::SafeString(const SafeString& other)
    : length(0), capacity(0), buffer(nullptr), status(S_OK), spare(0) {
  if (other.buffer == nullptr) {
    if (reserveExact(kDefaultCapacity, false)) {
      // A failure recorded in the source survives the copy, so a chain of
      // operations can still be tested once at its end.
      status = other.status;
    }
    return;
  }
  if (!reserveExact(other.capacity, false)) {
    return;
  }
  status = other.status;
  Ch* end = buffer;
  HRESULT result = copyAtMost(buffer, capacity, other.buffer, other.length, &end);
  takeCopyResult(result, end);
}

template <typename Ch>
SafeString<Ch>::~SafeString() {
  delete[] buffer;
}

// ---- Assignment and appending ----------------------------------------------

template <typename Ch>
SafeString<Ch>& SafeString<Ch>::operator=(const SafeString& other) {
  if (this == &other || other.buffer == nullptr) {
    return *this;
  }
  if (other.length + 1 > capacity && !reserveExact(other.length + 1, false)) {
    return *this;
  }
  Ch* end = buffer;
  HRESULT result = copyAtMost(buffer, capacity, other.buffer, other.length, &end);
  if (FAILED(result)) {
    takeCopyResult(result, end);
    return *this;
  }
  length = static_cast<DWORD>(end - buffer);
  status = other.status;
  return *this;
}

template <typename Ch>
SafeString<Ch> SafeString<Ch>::operator+(const SafeString& other) const {
  SafeString result(*this);
  // A copy without a buffer is a failed allocation; it goes back as it is.
  if (result.buffer != nullptr) {
    result.append(other);
  }
  return result;
}

template <typename Ch>
SafeString<Ch>& SafeString<Ch>::operator+=(const SafeString& other) {
  append(other);
  return *this;
}

template <typename Ch>
bool SafeString<Ch>::append(const SafeString& other) {
  if (&other == this) {
    status = ERROR_INVALID_PARAMETER;
    return false;
  }
  // A failed piece taints whatever it is appended to, so "[" + value + "]"
  // still reports the failure of value at the end of the chain.
  if (FAILED(other.status)) {
    status = other.status;
  }
  return append(other.buffer, other.length);
}

template <typename Ch>
bool SafeString<Ch>::append(const Ch* text, DWORD count) {
  if (count == 0) {
    return true;
  }
  // A null text, or a text inside this very buffer (which a reallocation
  // would free under it), is refused like appending the object to itself.
  if (text == nullptr || (buffer != nullptr && text >= buffer && text < buffer + capacity)) {
    status = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (buffer != nullptr && count < capacity - length) {
    Ch* end = buffer + length;
    HRESULT result = copyAtMost(buffer + length, capacity - length, text, count, &end);
    if (FAILED(result)) {
      // The primitive emptied only the part after the old text.
      buffer[length] = 0;
      status = result;
      return false;
    }
    length = static_cast<DWORD>(end - buffer);
    return true;
  }
  DWORD size = sizeWithSlack(length, count, kGrowthSlack);
  Ch* fresh = size == 0 ? nullptr : allocate<Ch>(size);
  if (fresh == nullptr) {
    failAllocation();
    return false;
  }
  // Old text first, then the appended text; the old buffer goes only once
  // both copies succeeded, so a failed copy leaves the previous text intact.
  Ch* end = fresh;
  fresh[0] = 0;
  HRESULT result = S_OK;
  if (length > 0) {
    result = copyAtMost(fresh, size, buffer, length, &end);
  }
  if (SUCCEEDED(result)) {
    result = copyAtMost(end, size - static_cast<DWORD>(end - fresh), text, count, &end);
  }
  if (FAILED(result)) {
    delete[] fresh;
    status = result;
    return false;
  }
  delete[] buffer;
  buffer = fresh;
  capacity = size;
  length = static_cast<DWORD>(end - fresh);
  return true;
}

template <>
bool SafeString<char>::insert(const SafeString<char>& text, DWORD position) {
  typedef std::char_traits<char> Traits;
  if (text.length == 0) {
    return true;
  }
  if (position > length) {
    status = ERROR_INVALID_INDEX;
    return false;
  }
  if (&text == this) {
    SafeString<char> copy(text);
    if (copy.buffer == nullptr) {
      failAllocation();
      return false;
    }
    return insert(copy, position);
  }
  if (buffer != nullptr && text.length < capacity - length) {
    Traits::move(buffer + position + text.length, buffer + position, length - position + 1);
    Traits::copy(buffer + position, text.buffer, text.length);
    length += text.length;
    return true;
  }
  DWORD size = sizeWithSlack(length, text.length, kGrowthSlack);
  char* fresh = size == 0 ? nullptr : allocate<char>(size);
  if (fresh == nullptr) {
    failAllocation();
    return false;
  }
  // Left part, inserted text, right part.
  if (position > 0) {
    Traits::copy(fresh, buffer, position);
  }
  Traits::copy(fresh + position, text.buffer, text.length);
  if (length > position) {
    Traits::copy(fresh + position + text.length, buffer + position, length - position);
  }
  length += text.length;
  fresh[length] = 0;
  delete[] buffer;
  buffer = fresh;
  capacity = size;
  return true;
}

template <typename Ch>
bool SafeString<Ch>::erase(DWORD start, DWORD end) {
  if (start > length || end <= start || end > length) {
    status = ERROR_INVALID_INDEX;
    return false;
  }
  std::char_traits<Ch>::move(buffer + start, buffer + end, length - end + 1);
  length -= end - start;
  // Shrink rule: a buffer of 33 or more that is over twice the text is cut
  // down to length + 1, so a long query erased to nothing gives its memory back.
  if (capacity >= 33 && capacity > 2 * static_cast<uint64_t>(length)) {
    return reserveExact(length + 1, true);
  }
  return true;
}

// ---- Reading -----------------------------------------------------------------

template <typename Ch>
SafeString<Ch> SafeString<Ch>::substring(DWORD start, DWORD end) {
  const Ch* from = emptyText<Ch>();
  DWORD count = 0;
  if (start > length) {
    status = ERROR_INVALID_INDEX;
  } else {
    if (end > length) {
      end = length;
    }
    if (end > start) {
      from = buffer + start;
      count = end - start;
    }
  }
  // Copy mode only reads the text it is given.
  SafeString result(const_cast<Ch*>(from), count, false);
  return result;
}

template <typename Ch>
int SafeString<Ch>::find(const SafeString& text, DWORD start) const {
  if (start > length || text.length == 0 || text.length > length - start) {
    return -1;
  }
  for (DWORD at = start; at + text.length <= length; ++at) {
    if (std::char_traits<Ch>::compare(buffer + at, text.buffer, text.length) == 0) {
      return static_cast<int>(at);
    }
  }
  return -1;
}

template <typename Ch>
bool SafeString<Ch>::startsWith(const SafeString& text) const {
  return text.length <= length &&
         std::char_traits<Ch>::compare(buffer, text.buffer, text.length) == 0;
}

template <typename Ch>
bool SafeString<Ch>::endsWith(const SafeString& text) const {
  return text.length <= length &&
         std::char_traits<Ch>::compare(buffer + (length - text.length), text.buffer,
                                       text.length) == 0;
}

template <typename Ch>
Ch& SafeString<Ch>::operator[](int index) {
  if (length == 0) {
    // The modulo has nothing to divide by: hand out this object's spare zero
    // character and record the bad index.
    spare = 0;
    status = ERROR_INVALID_INDEX;
    return spare;
  }
  int at = index % static_cast<int>(length);
  if (at < 0) {
    at += static_cast<int>(length);
  }
  return buffer[at];
}

template <typename Ch>
bool SafeString<Ch>::operator==(const SafeString& other) const {
  return length == other.length &&
         std::char_traits<Ch>::compare(buffer, other.buffer, length) == 0;
}

template <typename Ch>
bool SafeString<Ch>::operator<(const SafeString& other) const {
  if (length != other.length) {
    return length < other.length;
  }
  return std::char_traits<Ch>::compare(buffer, other.buffer, length) < 0;
}

template <>
int SafeString<char>::toInt() const {
  if (buffer == nullptr) {
    return 0;
  }
  // atoi as the device's C library has it: 32-bit, saturating on overflow.
  long value = std::strtol(buffer, nullptr, 10);
  if (value > INT_MAX) {
    return INT_MAX;
  }
  if (value < INT_MIN) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

template <>
double SafeString<char>::toDouble() const {
  return buffer == nullptr ? 0.0 : std::strtod(buffer, nullptr);
}

template <typename Ch>
DWORD SafeString<Ch>::copyOut(Ch* destination, DWORD size, DWORD count) {
  Ch* end = destination;
  HRESULT result = copyAtMost(destination, size, buffer != nullptr ? buffer : emptyText<Ch>(),
                              count, &end);
  if (FAILED(result)) {
    status = result;
    return 0;
  }
  return static_cast<DWORD>(end - destination);
}

template class SafeString<char>;
template class SafeString<WCHAR>;
