// statusName: every named code spelled exactly, and the fallback text for the
// rest in signed decimal.
#include "core/StatusName.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(StatusName, NamedCodesAndSignedDecimalFallback) {
  const struct { unsigned long code; const char* name; } rows[] = {
      {0, "S_OK"}, {6, "ERROR_INVALID_HANDLE"}, {8, "ERROR_NOT_ENOUGH_MEMORY"}, {25, "ERROR_SEEK"},
      {32, "ERROR_SHARING_VIOLATION"}, {38, "ERROR_HANDLE_EOF"}, {87, "ERROR_INVALID_PARAMETER"},
      {122, "ERROR_INSUFFICIENT_BUFFER"}, {232, "ERROR_NO_DATA"}, {259, "ERROR_NO_MORE_ITEMS"},
      {1004, "ERROR_INVALID_FLAGS"}, {1018, "ERROR_KEY_DELETED"}, {1113, "ERROR_NO_UNICODE_TRANSLATION"},
      {1413, "ERROR_INVALID_INDEX"}, {18001, "ERROR_INVALID_MIME_FORMAT"}, {18002, "ERROR_BAD_MIME_PART"},
      {18003, "ERROR_BAD_CONTENT_DISPOSITION"}, {18004, "ERROR_MIME_PART_TOO_LONG"},
      {18005, "ERROR_COULDNT_WRITE_FILE"}, {18006, "ERROR_NO_MORE_DATA"}, {0x8007000Eu, "E_OUTOFMEMORY"},
      {0x80070026u, "STRSAFE_E_END_OF_FILE"}, {0x80070057u, "STRSAFE_E_INVALID_PARAMETER"},
      {0x8007007Au, "STRSAFE_E_INSUFFICIENT_BUFFER"}, {5, "Unknown Error: 5"},
      {0x80004005u, "Unknown Error: -2147467259"}, {18000, "Unknown Error: 18000"},
      {18007, "Unknown Error: 18007"}, {0xFFFFFFFFu, "Unknown Error: -1"}, {14, "Unknown Error: 14"},
  };
  for (const auto& row : rows) {
    SafeCString s = statusName(static_cast<HRESULT>(row.code));
    EXPECT_EQ(row.name, std::string(s.c_str(), s.getLength())) << row.code;
    EXPECT_EQ(S_OK, s.getStatus());
  }
}

}  // namespace
