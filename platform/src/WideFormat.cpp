// The printf engine (see WideFormat.h). Integers, characters and strings are
// formatted here; floating-point conversions go through the C library's
// snprintf on an 8-bit copy of the directive, which has the same meaning there.
#include "WideFormat.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "PlatformInternal.h"

namespace quenta {
namespace {

enum class SizePrefix { kNone, kChar, kShort, kLong32, kLongLong, kSize, kIntMax, kPtrDiff, kLongDouble };

// One parsed directive.
struct Directive {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool zero = false;
  int width = 0;
  int precision = -1;  // none
  SizePrefix size = SizePrefix::kNone;
  bool narrowText = false;  // "h": an 8-bit string or character
  bool wideText = false;    // "l" or "w": a wide string or character
  char conversion = 0;
};

// The bounded output: counts everything, stores what fits before the
// terminator's place.
template <typename CharT>
class Output {
 public:
  Output(CharT* dest, size_t capacity) : dest_(dest), capacity_(capacity) {}

  void put(CharT unit) {
    if (length_ + 1 < capacity_) dest_[length_] = unit;
    ++length_;
  }
  void repeat(CharT unit, size_t count) {
    for (size_t i = 0; i < count; ++i) put(unit);
  }
  void putAscii(const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i) put(static_cast<CharT>(static_cast<unsigned char>(text[i])));
  }
  size_t finish() {
    if (capacity_ != 0) dest_[length_ < capacity_ ? length_ : capacity_ - 1] = 0;
    return length_;
  }

 private:
  CharT* dest_;
  size_t capacity_;
  size_t length_ = 0;
};

// Units of a code point in the output's encoding.
size_t encode(char32_t codePoint, char16_t* out) { return encodeUtf16(codePoint, out); }
size_t encode(char32_t codePoint, char* out) { return encodeUtf8(codePoint, out); }

size_t sourceLength(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}
size_t sourceLength(const char* text) { return std::strlen(text); }

size_t decode(const char16_t* text, size_t length, char32_t* codePoint) {
  bool valid;
  return decodeUtf16(text, length, codePoint, &valid);
}
size_t decode(const char* text, size_t length, char32_t* codePoint) {
  bool valid;
  return decodeUtf8(reinterpret_cast<const unsigned char*>(text), length, codePoint, &valid);
}

// Where to cut a text shortened to `count` units so that no character is cut
// in half: before a surrogate pair, or before a UTF-8 sequence's lead byte.
size_t withoutSplitCharacter(const char16_t* text, size_t count) {
  if (count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF && text[count] >= 0xDC00 &&
      text[count] <= 0xDFFF) {
    --count;
  }
  return count;
}
size_t withoutSplitCharacter(const char* text, size_t count) {
  for (int step = 0; step < 3 && count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80; ++step) {
    --count;
  }
  return count;
}

// Emits a string of either width into the output (or only counts it when out
// is null), stopping before the code point that would pass `limit` units.
// Text of the output's own width is copied unit by unit, as is.
template <typename CharT, typename SourceT>
size_t emitString(const SourceT* text, size_t limit, Output<CharT>* out) {
  size_t length = sourceLength(text);
  size_t produced = 0;
  if (std::is_same<CharT, SourceT>::value) {
    size_t count = length < limit ? length : limit;
    if (count < length) count = withoutSplitCharacter(text, count);
    if (out != nullptr) {
      for (size_t i = 0; i < count; ++i) out->put(static_cast<CharT>(text[i]));
    }
    return count;
  }
  size_t position = 0;
  while (position < length) {
    char32_t codePoint;
    size_t used = decode(text + position, length - position, &codePoint);
    CharT units[4];
    size_t count = encode(codePoint, units);
    if (produced + count > limit) break;
    if (out != nullptr) {
      for (size_t i = 0; i < count; ++i) out->put(units[i]);
    }
    produced += count;
    position += used;
  }
  return produced;
}

template <typename CharT>
void pad(Output<CharT>* out, const Directive& directive, size_t length, bool before) {
  if (directive.left != before && directive.width > 0 && static_cast<size_t>(directive.width) > length) {
    out->repeat(static_cast<CharT>(' '), static_cast<size_t>(directive.width) - length);
  }
}

template <typename CharT, typename SourceT>
void formatString(const SourceT* text, const Directive& directive, Output<CharT>* out) {
  static const SourceT kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (text == nullptr) text = kNull;
  size_t limit = directive.precision < 0 ? SIZE_MAX : static_cast<size_t>(directive.precision);
  size_t length = emitString<CharT>(text, limit, static_cast<Output<CharT>*>(nullptr));
  pad(out, directive, length, true);
  emitString<CharT>(text, limit, out);
  pad(out, directive, length, false);
}

template <typename CharT>
void formatCharacter(int value, bool wide, const Directive& directive, Output<CharT>* out) {
  CharT units[4];
  size_t count;
  if (wide == std::is_same<CharT, char16_t>::value) {
    units[0] = static_cast<CharT>(value);  // the output's own width: as is
    count = 1;
  } else if (wide) {
    // A wide character in 8-bit output; a surrogate alone cannot be encoded.
    char16_t unit = static_cast<char16_t>(value);
    char32_t codePoint = (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit;
    count = encode(codePoint, units);
  } else {
    // An 8-bit character in wide output: ASCII, or not a character on its own.
    unsigned char byte = static_cast<unsigned char>(value);
    count = encode(byte < 0x80 ? byte : 0xFFFD, units);
  }
  pad(out, directive, count, true);
  for (size_t i = 0; i < count; ++i) out->put(units[i]);
  pad(out, directive, count, false);
}

template <typename CharT>
void formatInteger(uint64_t magnitude, bool negative, unsigned base, bool upper, const Directive& directive,
                   Output<CharT>* out) {
  char digits[24];
  size_t count = 0;
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  while (magnitude != 0) {
    digits[count++] = symbols[magnitude % base];
    magnitude /= base;
  }
  bool wasZero = count == 0;
  size_t precision = directive.precision < 0 ? 1 : static_cast<size_t>(directive.precision);
  if (base == 8 && directive.alternate && precision <= count) precision = count + 1;

  char prefix[2];
  size_t prefixLength = 0;
  if (negative) {
    prefix[prefixLength++] = '-';
  } else if (directive.plus && base == 10 && directive.conversion != 'u') {
    prefix[prefixLength++] = '+';
  } else if (directive.space && base == 10 && directive.conversion != 'u') {
    prefix[prefixLength++] = ' ';
  }
  if (base == 16 && directive.alternate && !wasZero) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = upper ? 'X' : 'x';
  }
  size_t zeros = precision > count ? precision - count : 0;
  size_t length = prefixLength + zeros + count;
  size_t width = directive.width > 0 ? static_cast<size_t>(directive.width) : 0;
  if (!directive.left && directive.zero && directive.precision < 0 && width > length) {
    zeros += width - length;
    length = width;
  }
  pad(out, directive, length, true);
  out->putAscii(prefix, prefixLength);
  out->repeat(static_cast<CharT>('0'), zeros);
  while (count > 0) out->put(static_cast<CharT>(digits[--count]));
  pad(out, directive, length, false);
}

template <typename CharT>
void formatFloating(va_list* args, const Directive& directive, Output<CharT>* out) {
  char pattern[16];
  size_t used = 0;
  pattern[used++] = '%';
  if (directive.left) pattern[used++] = '-';
  if (directive.plus) pattern[used++] = '+';
  if (directive.space) pattern[used++] = ' ';
  if (directive.alternate) pattern[used++] = '#';
  if (directive.zero) pattern[used++] = '0';
  pattern[used++] = '*';
  pattern[used++] = '.';
  pattern[used++] = '*';
  if (directive.size == SizePrefix::kLongDouble) pattern[used++] = 'L';
  pattern[used++] = directive.conversion;
  pattern[used] = 0;

  char local[512];
  char* text = local;
  int length;
  if (directive.size == SizePrefix::kLongDouble) {
    long double value = va_arg(*args, long double);
    length = std::snprintf(local, sizeof local, pattern, directive.width, directive.precision, value);
    if (length >= static_cast<int>(sizeof local)) {
      char* large = new (std::nothrow) char[static_cast<size_t>(length) + 1];
      if (large != nullptr) {
        std::snprintf(large, static_cast<size_t>(length) + 1, pattern, directive.width, directive.precision, value);
        text = large;
      } else {
        length = sizeof local - 1;
      }
    }
  } else {
    double value = va_arg(*args, double);
    length = std::snprintf(local, sizeof local, pattern, directive.width, directive.precision, value);
    if (length >= static_cast<int>(sizeof local)) {
      char* large = new (std::nothrow) char[static_cast<size_t>(length) + 1];
      if (large != nullptr) {
        std::snprintf(large, static_cast<size_t>(length) + 1, pattern, directive.width, directive.precision, value);
        text = large;
      } else {
        length = sizeof local - 1;
      }
    }
  }
  if (length > 0) out->putAscii(text, static_cast<size_t>(length));
  if (text != local) delete[] text;
}

template <typename CharT>
bool isDigit(CharT c) {
  return c >= '0' && c <= '9';
}

// Reads a decimal number, saturating at INT_MAX.
template <typename CharT>
int readNumber(const CharT** cursor) {
  long long value = 0;
  while (isDigit(**cursor)) {
    value = value * 10 + (**cursor - '0');
    if (value > INT_MAX) value = INT_MAX;
    ++*cursor;
  }
  return static_cast<int>(value);
}

template <typename CharT>
void readSizePrefix(const CharT** cursor, Directive* directive) {
  const CharT* p = *cursor;
  switch (*p) {
    case 'h':
      if (p[1] == 'h') {
        directive->size = SizePrefix::kChar;
        p += 2;
      } else {
        directive->size = SizePrefix::kShort;
        directive->narrowText = true;
        ++p;
      }
      break;
    case 'l':
      if (p[1] == 'l') {
        directive->size = SizePrefix::kLongLong;
        p += 2;
      } else {
        directive->size = SizePrefix::kLong32;
        directive->wideText = true;
        ++p;
      }
      break;
    case 'w':
      directive->size = SizePrefix::kLong32;
      directive->wideText = true;
      ++p;
      break;
    case 'I':
      if (p[1] == '6' && p[2] == '4') {
        directive->size = SizePrefix::kLongLong;
        p += 3;
      } else if (p[1] == '3' && p[2] == '2') {
        directive->size = SizePrefix::kLong32;
        p += 3;
      } else {
        directive->size = SizePrefix::kSize;
        ++p;
      }
      break;
    case 'z':
      directive->size = SizePrefix::kSize;
      ++p;
      break;
    case 'j':
      directive->size = SizePrefix::kIntMax;
      ++p;
      break;
    case 't':
      directive->size = SizePrefix::kPtrDiff;
      ++p;
      break;
    case 'L':
      directive->size = SizePrefix::kLongDouble;
      ++p;
      break;
    default:
      break;
  }
  *cursor = p;
}

int64_t readSigned(va_list* args, SizePrefix size) {
  switch (size) {
    case SizePrefix::kChar:
      return static_cast<signed char>(va_arg(*args, int));
    case SizePrefix::kShort:
      return static_cast<short>(va_arg(*args, int));
    case SizePrefix::kLongLong:
      return va_arg(*args, long long);
    case SizePrefix::kSize:
    case SizePrefix::kPtrDiff:
      return va_arg(*args, ptrdiff_t);
    case SizePrefix::kIntMax:
      return va_arg(*args, intmax_t);
    default:
      return va_arg(*args, int);
  }
}

uint64_t readUnsigned(va_list* args, SizePrefix size) {
  switch (size) {
    case SizePrefix::kChar:
      return static_cast<unsigned char>(va_arg(*args, unsigned int));
    case SizePrefix::kShort:
      return static_cast<unsigned short>(va_arg(*args, unsigned int));
    case SizePrefix::kLongLong:
      return va_arg(*args, unsigned long long);
    case SizePrefix::kSize:
    case SizePrefix::kPtrDiff:
      return va_arg(*args, size_t);
    case SizePrefix::kIntMax:
      return va_arg(*args, uintmax_t);
    default:
      return va_arg(*args, unsigned int);
  }
}

template <typename CharT>
void formatArgument(const Directive& directive, va_list* args, Output<CharT>* out) {
  constexpr bool kWideOutput = std::is_same<CharT, char16_t>::value;
  char conversion = directive.conversion;
  switch (conversion) {
    case 'd':
    case 'i': {
      int64_t value = readSigned(args, directive.size);
      uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      formatInteger(magnitude, value < 0, 10, false, directive, out);
      break;
    }
    case 'u':
      formatInteger(readUnsigned(args, directive.size), false, 10, false, directive, out);
      break;
    case 'x':
    case 'X':
      formatInteger(readUnsigned(args, directive.size), false, 16, conversion == 'X', directive, out);
      break;
    case 'o':
      formatInteger(readUnsigned(args, directive.size), false, 8, false, directive, out);
      break;
    case 'p': {
      Directive pointer = directive;
      pointer.precision = static_cast<int>(2 * sizeof(void*));
      pointer.alternate = false;
      formatInteger(reinterpret_cast<uintptr_t>(va_arg(*args, void*)), false, 16, true, pointer, out);
      break;
    }
    case 'c':
    case 'C': {
      // Lower case is the format's own width, upper case the other one.
      bool wide = directive.wideText || (!directive.narrowText && ((conversion == 'c') == kWideOutput));
      formatCharacter(va_arg(*args, int), wide, directive, out);
      break;
    }
    case 's':
    case 'S': {
      bool wide = directive.wideText || (!directive.narrowText && ((conversion == 's') == kWideOutput));
      if (wide) {
        formatString(va_arg(*args, const char16_t*), directive, out);
      } else {
        formatString(va_arg(*args, const char*), directive, out);
      }
      break;
    }
    default:
      formatFloating(args, directive, out);
      break;
  }
}

bool isConversion(char32_t c) {
  switch (c) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'p':
    case 'c': case 'C': case 's': case 'S':
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
      return true;
    default:
      return false;
  }
}

template <typename CharT>
size_t formatAny(CharT* dest, size_t capacity, const CharT* format, va_list args) {
  Output<CharT> out(dest, capacity);
  va_list ap;
  va_copy(ap, args);
  const CharT* cursor = format;
  while (*cursor != 0) {
    if (*cursor != '%') {
      out.put(*cursor++);
      continue;
    }
    const CharT* start = cursor++;
    if (*cursor == '%') {
      out.put(static_cast<CharT>('%'));
      ++cursor;
      continue;
    }
    Directive directive;
    for (;; ++cursor) {
      if (*cursor == '-') {
        directive.left = true;
      } else if (*cursor == '+') {
        directive.plus = true;
      } else if (*cursor == ' ') {
        directive.space = true;
      } else if (*cursor == '#') {
        directive.alternate = true;
      } else if (*cursor == '0') {
        directive.zero = true;
      } else {
        break;
      }
    }
    if (*cursor == '*') {
      ++cursor;
      int width = va_arg(ap, int);
      if (width < 0) {
        directive.left = true;
        width = width == INT_MIN ? INT_MAX : -width;
      }
      directive.width = width;
    } else {
      directive.width = readNumber(&cursor);
    }
    if (*cursor == '.') {
      ++cursor;
      if (*cursor == '*') {
        ++cursor;
        int precision = va_arg(ap, int);
        directive.precision = precision < 0 ? -1 : precision;
      } else {
        directive.precision = readNumber(&cursor);
      }
    }
    readSizePrefix(&cursor, &directive);
    if (!isConversion(static_cast<char32_t>(*cursor))) {
      // Not a directive we format (or %n): copied out as written. A format
      // that ends inside a directive ends here too.
      if (*cursor != 0) ++cursor;
      for (const CharT* p = start; p < cursor; ++p) out.put(*p);
      continue;
    }
    directive.conversion = static_cast<char>(*cursor++);
    formatArgument(directive, &ap, &out);
  }
  va_end(ap);
  return out.finish();
}

}  // namespace

size_t formatText(char16_t* dest, size_t capacity, const char16_t* format, va_list args) {
  return formatAny(dest, capacity, format, args);
}

size_t formatText(char* dest, size_t capacity, const char* format, va_list args) {
  return formatAny(dest, capacity, format, args);
}

}  // namespace quenta
