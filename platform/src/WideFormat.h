// The printf engine behind StringCchPrintfA, StringCchPrintfExA and the debug
// output (NKDbgPrintfW), with the Win32 meaning of its directives for the width
// of the format: in a wide format %s and %c take wide (char16_t) arguments and %S, %C,
// %hs, %hc 8-bit ones; in an 8-bit format it is the other way round; %ls, %ws,
// %lc are always wide. "l" is 32 bits as in the Win32 data model ("ll", "I64"
// for 64 bits, "I", "z", "t", "j" for the pointer-sized and widest types).
// %p prints all hex digits of the pointer in upper case; a null string prints
// "(null)"; %n and unknown directives are copied out as written and take no
// argument. 8-bit strings are UTF-8, converted for a wide result and back.
// Width and precision count output code units.
#ifndef QUENTA_PLATFORM_SRC_WIDEFORMAT_H_
#define QUENTA_PLATFORM_SRC_WIDEFORMAT_H_

#include <cstdarg>
#include <cstddef>

namespace quenta {

// Writes at most capacity - 1 units and a terminator (nothing when capacity is
// 0, when dest may be null) and returns the length of the whole output, as
// vsnprintf does. Allocates nothing except for a floating-point conversion
// longer than 512 characters (without memory, that one is cut short).
size_t formatText(char16_t* dest, size_t capacity, const char16_t* format, va_list args);
size_t formatText(char* dest, size_t capacity, const char* format, va_list args);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_WIDEFORMAT_H_
