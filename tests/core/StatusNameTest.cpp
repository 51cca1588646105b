// statusName: every named code spelled exactly, and the fallback text for the
// rest in signed decimal.
#include "core/StatusName.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string name(HRESULT code) {
  SafeCString s = statusName(code);
  return std::string(s.c_str(), s.getLength());
}

TEST(StatusName, NamedCodes) {
  const struct {
    HRESULT code;
    const char* name;
  } rows[] = {
      {0, "S_OK"},
      {6, "ERROR_INVALID_HANDLE"},
      {8, "ERROR_NOT_ENOUGH_MEMORY"},
      {25, "ERROR_SEEK"},
      {32, "ERROR_SHARING_VIOLATION"},
      {38, "ERROR_HANDLE_EOF"},
      {87, "ERROR_INVALID_PARAMETER"},
      {122, "ERROR_INSUFFICIENT_BUFFER"},
      {232, "ERROR_NO_DATA"},
      {259, "ERROR_NO_MORE_ITEMS"},
      {1004, "ERROR_INVALID_FLAGS"},
      {1018, "ERROR_KEY_DELETED"},
      {1113, "ERROR_NO_UNICODE_TRANSLATION"},
      {1413, "ERROR_INVALID_INDEX"},
      {18001, "ERROR_INVALID_MIME_FORMAT"},
      {18002, "ERROR_BAD_MIME_PART"},
      {18003, "ERROR_BAD_CONTENT_DISPOSITION"},
      {18004, "ERROR_MIME_PART_TOO_LONG"},
      {18005, "ERROR_COULDNT_WRITE_FILE"},
      {18006, "ERROR_NO_MORE_DATA"},
      {static_cast<HRESULT>(0x8007000Eu), "E_OUTOFMEMORY"},
      {static_cast<HRESULT>(0x80070026u), "STRSAFE_E_END_OF_FILE"},
      {static_cast<HRESULT>(0x80070057u), "STRSAFE_E_INVALID_PARAMETER"},
      {static_cast<HRESULT>(0x8007007Au), "STRSAFE_E_INSUFFICIENT_BUFFER"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.name, name(row.code)) << row.code;
  }
  EXPECT_EQ(ERROR_BAD_MIME_PART, 18002);
  EXPECT_EQ(ERROR_NO_MORE_DATA, 18006);
}

TEST(StatusName, UnknownCodesInSignedDecimal) {
  EXPECT_EQ("Unknown Error: 5", name(5));
  EXPECT_EQ("Unknown Error: -2147467259", name(static_cast<HRESULT>(0x80004005u)));
  EXPECT_EQ("Unknown Error: 18007", name(18007));
  EXPECT_EQ("Unknown Error: 18000", name(18000));
  EXPECT_EQ("Unknown Error: -1", name(-1));
  EXPECT_EQ("Unknown Error: 14", name(ERROR_OUTOFMEMORY));
  EXPECT_EQ(S_OK, statusName(5).getStatus());
}

}  // namespace
