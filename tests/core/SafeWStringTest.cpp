// SafeWString: the same rules on 16-bit characters, and the UTF-8 conversions
// between the two string types with their buffer sizes and failure.
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "core/SafeString.h"

namespace {

std::u16string wtext(const SafeWString& s) {
  return s.c_str() == nullptr ? std::u16string(u"<null>") : std::u16string(s.c_str(), s.getLength());
}

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

TEST(SafeWString, CountsCharactersNotBytes) {
  SafeWString path(u"\\MMCMemory\\www");
  EXPECT_EQ(14u, path.getLength());
  EXPECT_EQ(28u, path.byteLength());
  EXPECT_EQ(15u, path.getCapacity());

  SafeWString fresh;
  EXPECT_EQ(32u, fresh.getCapacity());
  EXPECT_EQ(u"", wtext(fresh));

  SafeWString none(static_cast<const WCHAR*>(nullptr));
  EXPECT_EQ(nullptr, none.c_str());
  EXPECT_TRUE(none == fresh);

  WCHAR source[] = u"abcdef";
  SafeWString limited(source, 2, false);
  EXPECT_EQ(u"ab", wtext(limited));
  EXPECT_EQ(2u + 17u, limited.getCapacity());

  WCHAR* owned = new WCHAR[4]{u'w', u'x', u'y', u'z'};
  SafeWString adopted(owned, 4, true);
  EXPECT_EQ(u"wxy", wtext(adopted));
  EXPECT_EQ(owned, adopted.c_str());
}

TEST(SafeWString, OperationsFollowTheNarrowRules) {
  SafeWString s(u"abc");
  s += SafeWString(u"de");
  EXPECT_EQ(u"abcde", wtext(s));
  EXPECT_EQ(3u + 2u + 17u, s.getCapacity());
  EXPECT_FALSE(s.append(s));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, s.getStatus());

  SafeWString joined = SafeWString(u"\\Temp") + SafeWString(u"\\a.bin");
  EXPECT_EQ(u"\\Temp\\a.bin", wtext(joined));
  EXPECT_TRUE(joined.endsWith(SafeWString(u".bin")));
  EXPECT_FALSE(joined.endsWith(SafeWString(u".BIN")));
  EXPECT_TRUE(joined.startsWith(SafeWString(u"\\Temp")));
  EXPECT_EQ(5, joined.find(SafeWString(u"\\"), 1));
  EXPECT_EQ(-1, joined.find(SafeWString(u"\\"), 6));

  EXPECT_EQ(u"a.bin", wtext(joined.substring(6, 50)));
  EXPECT_EQ(u"", wtext(joined.substring(12, 13)));
  EXPECT_EQ(ERROR_INVALID_INDEX, joined.getStatus());

  SafeWString erased(u"abcdef");
  EXPECT_TRUE(erased.erase(2, 4));
  EXPECT_EQ(u"abef", wtext(erased));
  EXPECT_FALSE(erased.erase(2, 2));

  EXPECT_TRUE(SafeWString(u"zz") < SafeWString(u"aaa"));
  EXPECT_TRUE(SafeWString(u"ab") < SafeWString(u"ac"));
  // Characters compare as unsigned 16-bit values.
  EXPECT_TRUE(SafeWString(u"z") < SafeWString(u"\u00e9"));
  EXPECT_TRUE(SafeWString(u"aaa") > SafeWString(u"zz"));
  EXPECT_TRUE(SafeWString(u"x") != SafeWString(u"X"));

  EXPECT_EQ(u'c', SafeWString(u"abc")[-1]);
  SafeWString empty(u"");
  EXPECT_EQ(u'\0', empty[0]);
  EXPECT_EQ(ERROR_INVALID_INDEX, empty.getStatus());

  WCHAR destination[8];
  EXPECT_EQ(4u, erased.copyOut(destination, 8, 10));
  EXPECT_EQ(u"abef", std::u16string(destination));
}

TEST(SafeStringUtf8, NarrowToWide) {
  SafeCString utf8("h\xC3\xA9llo");
  SafeWString wide(utf8);
  EXPECT_EQ(u"h\u00e9llo", wtext(wide));
  EXPECT_EQ(S_OK, wide.getStatus());
  // Sized by the source's six bytes.
  EXPECT_EQ(6u + 17u, wide.getCapacity());

  SafeWString emoji((SafeCString("\xF0\x9F\x98\x80")));
  EXPECT_EQ(u"\U0001F600", wtext(emoji));
  EXPECT_EQ(2u, emoji.getLength());

  SafeWString fromEmpty((SafeCString("")));
  EXPECT_EQ(u"", wtext(fromEmpty));
  EXPECT_EQ(17u, fromEmpty.getCapacity());
  SafeWString fromNull((SafeCString(static_cast<const char*>(nullptr))));
  EXPECT_EQ(u"", wtext(fromNull));
  EXPECT_EQ(S_OK, fromNull.getStatus());
}

TEST(SafeStringUtf8, WideToNarrow) {
  SafeCString narrow((SafeWString(u"h\u00e9llo")));
  EXPECT_EQ("h\xC3\xA9llo", text(narrow));
  EXPECT_EQ(5u + 17u, narrow.getCapacity());

  SafeCString pair((SafeWString(u"\U0001F600")));
  EXPECT_EQ("\xF0\x9F\x98\x80", text(pair));
}

TEST(SafeStringUtf8, WideTextWhoseUtf8DoesNotFitFails) {
  // Three bytes per character against length + 16 bytes of room: eight
  // characters (24 bytes) fit in 25, nine (27 bytes) do not fit in 26.
  std::u16string eight(8, u'\u65e5');
  SafeCString fits((SafeWString(eight.c_str())));
  EXPECT_EQ(24u, fits.getLength());
  EXPECT_EQ(S_OK, fits.getStatus());

  std::u16string nine(9, u'\u65e5');
  SafeCString tooLong((SafeWString(nine.c_str())));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, tooLong.getStatus());
  EXPECT_EQ(0u, tooLong.getLength());
  ASSERT_NE(nullptr, tooLong.c_str());
  EXPECT_EQ('\0', tooLong.c_str()[0]);
  EXPECT_EQ(26u, tooLong.getCapacity());
}

TEST(SafeStringUtf8, RoundTripKeepsText) {
  SafeCString original("Stra\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC / \xF0\x9F\x94\xA5");
  SafeCString back((SafeWString(original)));
  EXPECT_TRUE(back == original);
}

}  // namespace
