// SafeWString: the rules of SafeCString on 16-bit characters (the operations
// that do not depend on the character type are tested there), and the UTF-8
// conversions between the two string types with their buffer sizes and failure.
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
  EXPECT_EQ(32u, SafeWString().getCapacity());
  EXPECT_TRUE(SafeWString(static_cast<const WCHAR*>(nullptr)) == SafeWString());

  // Characters compare as unsigned 16-bit values.
  EXPECT_TRUE(SafeWString(u"z") < SafeWString(u"\u00e9"));

  WCHAR destination[8];
  EXPECT_EQ(4u, SafeWString(u"abef").copyOut(destination, 8, 10));
  EXPECT_EQ(u"abef", std::u16string(destination));
}

TEST(SafeStringUtf8, ConversionsSizedByTheSource) {
  SafeWString wide((SafeCString("h\xC3\xA9llo")));
  EXPECT_EQ(u"h\u00e9llo", wtext(wide));
  EXPECT_EQ(S_OK, wide.getStatus());
  EXPECT_EQ(6u + 17u, wide.getCapacity());  // the source's six bytes
  SafeWString emoji((SafeCString("\xF0\x9F\x98\x80")));
  EXPECT_EQ(u"\U0001F600", wtext(emoji));
  EXPECT_EQ(17u, SafeWString(SafeCString("")).getCapacity());
  SafeWString fromNull((SafeCString(static_cast<const char*>(nullptr))));
  EXPECT_EQ(u"", wtext(fromNull));
  EXPECT_EQ(S_OK, fromNull.getStatus());

  SafeCString narrow((SafeWString(u"h\u00e9llo")));
  EXPECT_EQ("h\xC3\xA9llo", text(narrow));
  EXPECT_EQ(5u + 17u, narrow.getCapacity());
  EXPECT_EQ("\xF0\x9F\x98\x80", text(SafeCString(SafeWString(u"\U0001F600"))));
  SafeCString original("Stra\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC / \xF0\x9F\x94\xA5");
  EXPECT_TRUE(SafeCString(SafeWString(original)) == original);
}

TEST(SafeStringUtf8, WideTextWhoseUtf8DoesNotFitFails) {
  // Three bytes per character against length + 16 bytes of room: eight
  // characters (24 bytes) fit in 25, nine (27 bytes) do not fit in 26.
  SafeCString fits((SafeWString(std::u16string(8, u'\u65e5').c_str())));
  EXPECT_EQ(24u, fits.getLength());
  EXPECT_EQ(S_OK, fits.getStatus());
  SafeCString tooLong((SafeWString(std::u16string(9, u'\u65e5').c_str())));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, tooLong.getStatus());
  EXPECT_EQ("", text(tooLong));
  EXPECT_EQ(26u, tooLong.getCapacity());
}

}  // namespace
