// UTF-8 <-> UTF-16 through the Win32 code-page functions: sizes, terminators,
// every sequence length, and ill-formed input with and without the strict flag.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "TempRoot.h"

namespace {

// Converts the whole text (no terminator): asks the size, then converts.
std::u16string toWide(const std::string& text, DWORD flags = 0) {
  int needed = MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(needed), u'\0');
  if (needed > 0) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), &out[0], needed),
              needed);
  }
  return out;
}

std::string toUtf8(const std::u16string& text, DWORD flags = 0) {
  int size = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  if (needed > 0) {
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, flags, text.data(), size, &out[0], needed, nullptr, nullptr), needed);
  }
  return out;
}

TEST(CodePageTest, EverySequenceLengthBothWays) {
  // A, e-acute (2 bytes), euro sign (3 bytes), G clef (4 bytes, a surrogate pair).
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  const std::u16string utf16 = u"A\u00E9\u20AC\U0001D11E";
  EXPECT_EQ(toWide(utf8), utf16);
  EXPECT_EQ(toUtf8(utf16), utf8);
  EXPECT_EQ(quenta::widen(utf8), utf16);
  EXPECT_EQ(quenta::narrow(utf16), utf8);
  // Edges of each length and the last code point.
  const std::u16string edges = u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000\U0010FFFF";
  EXPECT_EQ(toWide(toUtf8(edges)), edges);
  EXPECT_EQ(toUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
  // CP_ACP is UTF-8 here.
  char16_t acp[4];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC3\xA9", 2, acp, 4), 1);
  EXPECT_EQ(acp[0], u'\u00E9');
}

TEST(CodePageTest, TerminatorAndExactSizes) {
  char16_t wide[8];
  // -1 counts the terminator, and converts it; an explicit length does not add one.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide), u"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  // One unit short fails; a surrogate pair needs both its units.
  SetLastError(0);
  EXPECT_EQ(failure(!MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 3)), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(failure(!MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1)), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 2), 2);
  // Embedded nulls are characters when the length is given.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\0b", 3, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide, 3), std::u16string(u"a\0b", 3));

  char bytes[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", -1, bytes, 4, nullptr, nullptr), 4);
  EXPECT_STREQ(bytes, "\xE2\x82\xAC");
  EXPECT_EQ(failure(!WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", -1, bytes, 3, nullptr, nullptr)),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(failure(!WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", 1, bytes, 2, nullptr, nullptr)),
            ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePageTest, IllFormedInputReplacedOrRefusedWithTheFlag) {
  const struct {
    const char* input;
    std::u16string replaced;  // one U+FFFD per maximal ill-formed part
  } utf8Cases[] = {
      {"a\x80z", u"a\uFFFDz"},                            // stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE2\x82z", u"\uFFFDz"},                          // cut-off sequence: one replacement
      {"\xF0\x9F\x98", u"\uFFFD"},                        // cut off at the end
      {"\xFF", u"\uFFFD"},
  };
  for (const auto& c : utf8Cases) {
    std::string input(c.input);
    SCOPED_TRACE(testing::PrintToString(input));
    EXPECT_EQ(toWide(input), c.replaced);
    SetLastError(0);
    EXPECT_EQ(failure(!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, input.data(), static_cast<int>(input.size()),
                                           nullptr, 0)),
              ERROR_NO_UNICODE_TRANSLATION);
  }
  EXPECT_EQ(quenta::widen("x\xC3"), u"x\uFFFD");

  // Lone surrogates, wherever they stand.
  const struct { std::u16string input; std::string replaced; } utf16Cases[] = {
      {std::u16string(1, u'\xD800') + u"a", "\xEF\xBF\xBD" "a"},
      {u"a" + std::u16string(1, u'\xDC00'), "a\xEF\xBF\xBD"},
      {std::u16string(1, u'\xDC00') + std::u16string(1, u'\xD800'), "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : utf16Cases) {
    SCOPED_TRACE(c.replaced);
    EXPECT_EQ(toUtf8(c.input), c.replaced);
    EXPECT_EQ(quenta::narrow(c.input), c.replaced);
    SetLastError(0);
    EXPECT_EQ(failure(!WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, c.input.data(),
                                           static_cast<int>(c.input.size()), nullptr, 0, nullptr, nullptr)),
              ERROR_NO_UNICODE_TRANSLATION);
  }
  // A high surrogate that ends the given length is alone, even if a low one follows.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\U0001F600", 1, nullptr, 0, nullptr, nullptr), 3);
}

TEST(CodePageTest, RefusedParameters) {
  char16_t wide[4];
  char bytes[4];
  BOOL usedDefault = FALSE;
  const struct { std::function<int()> call; long error; } refusals[] = {
      {[&] { return MultiByteToWideChar(1252, 0, "a", 1, wide, 4); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 4); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 4); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 4); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1); }, ERROR_INVALID_PARAMETER},
      {[&] { return MultiByteToWideChar(CP_UTF8, 0x1, "a", 1, wide, 4); }, ERROR_INVALID_FLAGS},
      {[&] { return WideCharToMultiByte(437, 0, u"a", 1, bytes, 4, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
      {[&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr); }, ERROR_INVALID_PARAMETER},
      {[&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, nullptr, &usedDefault); },
       ERROR_INVALID_PARAMETER},
      {[&] { return WideCharToMultiByte(CP_UTF8, 0x400, u"a", 1, bytes, 4, nullptr, nullptr); }, ERROR_INVALID_FLAGS},
      {[&] { return WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"a", 1, bytes, 4, nullptr, nullptr); },
       ERROR_INVALID_FLAGS},
      {[&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 0, bytes, 4, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
      {[&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 4, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
  };
  for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
    SetLastError(0);
    EXPECT_EQ(failure(!refusals[i].call()), refusals[i].error) << "case " << i;
  }
  // The ANSI code page takes a default character and reports none used.
  usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab", 2, bytes, 4, "?", &usedDefault), 2);
  EXPECT_EQ(usedDefault, FALSE);
}

}  // namespace
