// GetDateFormatW and GetTimeFormatW against the outputs Windows documents for
// these pictures (English, United States).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TempRoot.h"

namespace {

std::string narrowed(const WCHAR* text) { return std::string(text, text + std::char_traits<char16_t>::length(text)); }

const SYSTEMTIME kMorning = {2024, 1, 2, 2, 9, 5, 7, 0};        // Tuesday 2 January 2024, 09:05:07
const SYSTEMTIME kEvening = {2024, 12, 2, 31, 14, 5, 9, 250};   // Tuesday 31 December 2024, 14:05:09
const SYSTEMTIME kMidnight = {2009, 3, 0, 1, 0, 30, 0, 0};      // Sunday 1 March 2009, 00:30:00

TEST(DateTimeFormat, PicturesGiveTheDocumentedTexts) {
  const struct {
    bool date;
    DWORD flags;
    const SYSTEMTIME* time;
    const WCHAR* picture;
    const char* expected;
  } cases[] = {
      {true, 0, &kMorning, u"M'/'dd'/'yy", "1/02/24"},
      {true, 0, &kEvening, u"M'/'dd'/'yyyy ", "12/31/2024 "},
      {true, 0, &kMorning, u"MM/d/y", "01/2/24"},
      {true, 0, &kMidnight, u"y", "9"},
      {true, 0, &kMorning, u"dddd, MMMM dd, yyyy", "Tuesday, January 02, 2024"},
      {true, 0, &kMidnight, u"ddd MMM d", "Sun Mar 1"},
      {true, 0, &kMorning, u"'It''s' d", "It's 2"},
      {true, 0, &kMorning, u"H:mm", "H:mm"},  // time pictures are plain text to the date
      {false, TIME_FORCE24HOURFORMAT, &kMorning, u"H':'mm':'ss", "9:05:07"},
      {false, TIME_FORCE24HOURFORMAT, &kEvening, u"H':'mm':'ss ", "14:05:09 "},
      {false, TIME_FORCE24HOURFORMAT, &kEvening, u"hh:mm tt", "14:05 "},
      {false, 0, &kEvening, u"h:mm:ss tt", "2:05:09 PM"},
      {false, 0, &kMidnight, u"hh:mm t", "12:30 A"},
      {false, 0, &kMorning, u"HH'h'mm", "09h05"},
      {false, 0, &kMorning, u"yy d", "yy d"},  // date pictures are plain text to the time
      // Longer than the texts made in place.
      {true, 0, &kEvening, u"dddd, MMMM dd, yyyy' - 'dddd, MMMM dd, yyyy' - 'dddd, MMMM dd, yyyy",
       "Tuesday, December 31, 2024 - Tuesday, December 31, 2024 - Tuesday, December 31, 2024"},
  };
  for (const auto& c : cases) {
    WCHAR buffer[128] = {};
    int written = c.date ? GetDateFormatW(LOCALE_USER_DEFAULT, c.flags, c.time, c.picture, buffer, 128)
                         : GetTimeFormatW(LOCALE_USER_DEFAULT, c.flags, c.time, c.picture, buffer, 128);
    EXPECT_EQ(c.expected, narrowed(buffer)) << narrowed(c.picture);
    // The count includes the terminator.
    EXPECT_EQ(static_cast<int>(std::string(c.expected).size()) + 1, written) << narrowed(c.picture);
  }
}

// The logs' buffers: "12/31/2024 " needs 12 characters with its terminator.
TEST(DateTimeFormat, ABufferTooSmallIsRefusedAndBadInputIsAnInvalidParameter) {
  WCHAR buffer[12];
  EXPECT_EQ(12, GetDateFormatW(LOCALE_USER_DEFAULT, 0, &kEvening, u"M'/'dd'/'yyyy ", nullptr, 0));
  EXPECT_EQ(12, GetDateFormatW(LOCALE_USER_DEFAULT, 0, &kEvening, u"M'/'dd'/'yyyy ", buffer, 12));
  SYSTEMTIME zero = {}, late = kEvening;
  late.wHour = 24;
  SetLastError(0);
  EXPECT_EQ(failure(!GetDateFormatW(LOCALE_USER_DEFAULT, 0, &kEvening, u"M'/'dd'/'yyyy ", buffer, 11)),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(failure(!GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &kEvening, u"H':'mm", buffer, 5)),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(failure(!GetDateFormatW(LOCALE_USER_DEFAULT, 0, &zero, u"M'/'dd'/'yy", buffer, 12)),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(failure(!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &late, u"H", buffer, 12)), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(failure(!GetDateFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &kEvening, u"d", buffer, 12)),
            ERROR_INVALID_FLAGS);
}

}  // namespace
