#include "core/StatusName.h"

#include <strsafe.h>

namespace {

struct StatusNameRow {
  HRESULT code;
  const char* name;
};

// The codes the module meets: success, the Win32 errors its platform calls
// report, the parser's own codes and the HRESULTs of allocation and the
// safe-string primitives.
const StatusNameRow kStatusNames[] = {
    {S_OK, "S_OK"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
    {25, "ERROR_SEEK"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
    {ERROR_HANDLE_EOF, "ERROR_HANDLE_EOF"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
    {ERROR_NO_DATA, "ERROR_NO_DATA"},
    {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS"},
    {ERROR_INVALID_FLAGS, "ERROR_INVALID_FLAGS"},
    {ERROR_KEY_DELETED, "ERROR_KEY_DELETED"},
    {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION"},
    {ERROR_INVALID_INDEX, "ERROR_INVALID_INDEX"},
    {ERROR_INVALID_MIME_FORMAT, "ERROR_INVALID_MIME_FORMAT"},
    {ERROR_BAD_MIME_PART, "ERROR_BAD_MIME_PART"},
    {ERROR_BAD_CONTENT_DISPOSITION, "ERROR_BAD_CONTENT_DISPOSITION"},
    {ERROR_MIME_PART_TOO_LONG, "ERROR_MIME_PART_TOO_LONG"},
    {ERROR_COULDNT_WRITE_FILE, "ERROR_COULDNT_WRITE_FILE"},
    {ERROR_NO_MORE_DATA, "ERROR_NO_MORE_DATA"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {STRSAFE_E_END_OF_FILE, "STRSAFE_E_END_OF_FILE"},
    {STRSAFE_E_INVALID_PARAMETER, "STRSAFE_E_INVALID_PARAMETER"},
    {STRSAFE_E_INSUFFICIENT_BUFFER, "STRSAFE_E_INSUFFICIENT_BUFFER"},
};

const char kUnknownPrefix[] = "Unknown Error: ";

}  // namespace

SafeCString statusName(HRESULT code) {
  const char* known = nullptr;
  for (const StatusNameRow& row : kStatusNames) {
    if (row.code == code) {
      known = row.name;
      break;
    }
  }
  SafeCString name(known != nullptr ? known : kUnknownPrefix);
  if (known == nullptr) {
    // Signed decimal: 0x80004005 prints as -2147467259.
    name += SafeCString(static_cast<int>(code));
  }
  return name;
}
