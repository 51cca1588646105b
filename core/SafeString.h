// SafeCString and SafeWString: the module's own strings for 8-bit (ASCII, UTF-8)
// and 16-bit (UTF-16) text. A string owns its buffer and copies deeply; nothing
// is shared between objects and nothing is thrown. Every operation that can
// fail records its result in `status` (0 success, a Win32 error code, or a
// negative HRESULT such as E_OUTOFMEMORY) and bool operations also return false.
// A success does not clear a failure recorded earlier, so a chain of operations
// is tested once at its end (status < 0); assignment and copying carry the
// source's status along. A failed allocation leaves length 0, capacity 0 and a
// null buffer, which every operation takes as the empty text.
//
// Ordering is length-first: a shorter string is less than a longer one, and
// strings of equal length compare byte by byte. Every container keyed by these
// strings uses that order.
//
// A string is not safe for concurrent use; distinct strings are independent.
#ifndef QUENTA_CORE_SAFESTRING_H_
#define QUENTA_CORE_SAFESTRING_H_

#include <type_traits>

#include <windows.h>

template <typename Ch>
class SafeString {
 public:
  // The other character type: SafeCString <-> SafeWString convert as UTF-8.
  typedef typename std::conditional<sizeof(Ch) == 1, WCHAR, char>::type OtherCh;

  static constexpr DWORD kDefaultCapacity = 32;
  // One value for the whole module: added to the needed size whenever a buffer
  // is sized for a copy of limited length or for an append (plus the terminator).
  static constexpr DWORD kGrowthSlack = 16;

  // Empty text in a fresh buffer of kDefaultCapacity characters.
  SafeString();
  // Copy of a terminated text (capacity = length + 1). Null gives the
  // null-buffer empty string with status 0.
  SafeString(const Ch* text);  // NOLINT: implicit like the device's class
  // adopt: takes ownership of a new[]-allocated buffer of `count` characters,
  // forces its last character to zero and measures the text within it.
  // !adopt: copies at most `count` characters into a buffer of count + 16 + 1.
  SafeString(Ch* buffer, DWORD count, bool adopt);
  // 8-bit only: "%i" of an int; "%f" of a double (failure when its text does
  // not fit in 24 bytes); `count` bytes read from an open file (0: the whole
  // file) into a buffer of count + 16 + 1.
  explicit SafeString(int value);
  explicit SafeString(double value);
  SafeString(HANDLE file, DWORD count);
  // The other character type, converted with code page 65001 into a buffer of
  // source length + 16 + 1; a failed conversion leaves GetLastError in status.
  explicit SafeString(const SafeString<OtherCh>& other);
  // Same text, same capacity, same status; a null-buffer source gives an empty
  // text in a fresh kDefaultCapacity buffer.
  SafeString(const SafeString& other);
  ~SafeString();

  // No effect for self-assignment or a null-buffer source; else copies text and
  // the source's status.
  SafeString& operator=(const SafeString& other);
  // A copy of this, then other appended if the copy succeeded.
  SafeString operator+(const SafeString& other) const;
  // Appending the object to itself fails with ERROR_INVALID_PARAMETER. A
  // failure recorded in other is carried over into this status.
  SafeString& operator+=(const SafeString& other);
  bool append(const SafeString& other);
  // Appends `count` characters of raw text (no terminator needed).
  bool append(const Ch* text, DWORD count);

  // 8-bit only.
  bool insert(const SafeString& text, DWORD position);
  // Removes [start, end); needs start <= length, start < end <= length.
  bool erase(DWORD start, DWORD end);
  // [start, end) with end clipped; start beyond the length sets 1413 here.
  SafeString substring(DWORD start, DWORD end);
  // Index of the first occurrence at or after start, or -1.
  int find(const SafeString& text, DWORD start) const;
  bool startsWith(const SafeString& text) const;
  bool endsWith(const SafeString& text) const;
  // Index modulo the length; a negative index counts from the end. On an empty
  // string: a reference to a zero character, and status 1413.
  Ch& operator[](int index);

  bool operator==(const SafeString& other) const;
  bool operator!=(const SafeString& other) const { return !(*this == other); }
  bool operator<(const SafeString& other) const;
  bool operator>(const SafeString& other) const { return other < *this; }

  // 8-bit only: the leading number as strtol / strtod read it.
  int toInt() const;
  double toDouble() const;

  // Copies at most `count` characters into a caller's buffer of `size`
  // characters, always terminated. Returns the characters copied, 0 on failure.
  DWORD copyOut(Ch* destination, DWORD size, DWORD count);

  DWORD getLength() const { return length; }
  int signedLength() const { return static_cast<int>(length); }
  DWORD byteLength() const { return length * sizeof(Ch); }
  DWORD getCapacity() const { return capacity; }
  const Ch* c_str() const { return buffer; }
  HRESULT getStatus() const { return status; }

 private:
  // Replaces the buffer by one of exactly newCapacity characters, keeping the
  // text (which must fit) or leaving it empty. False after failAllocation().
  bool reserveExact(DWORD newCapacity, bool keepText);
  bool reserveWithSlack(DWORD count);
  // The defined state after a failed allocation: no buffer, length 0,
  // capacity 0, E_OUTOFMEMORY.
  void failAllocation();
  // Takes the result of a bounded copy into `buffer` that ended at `end`.
  void takeCopyResult(HRESULT result, const Ch* end);
  // 8-bit only: one number formatted into a buffer of the number size.
  template <typename Number>
  void formatNumber(const char* format, Number value);

  DWORD length;
  DWORD capacity;
  Ch* buffer;
  HRESULT status;
  // What operator[] hands out on an empty string: a zero character of this
  // object, so a caller writing through the reference harms nothing.
  Ch spare;
};

typedef SafeString<char> SafeCString;
typedef SafeString<WCHAR> SafeWString;

// The 8-bit-only members exist for SafeCString alone.
template <> SafeString<char>::SafeString(int value);
template <> SafeString<char>::SafeString(double value);
template <> SafeString<char>::SafeString(HANDLE file, DWORD count);
template <> bool SafeString<char>::insert(const SafeString<char>& text, DWORD position);
template <> int SafeString<char>::toInt() const;
template <> double SafeString<char>::toDouble() const;

// Both types are instantiated once, in SafeString.cpp.
extern template class SafeString<char>;
extern template class SafeString<WCHAR>;

#endif  // QUENTA_CORE_SAFESTRING_H_
