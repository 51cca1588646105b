// Status codes of the module and their names. Codes are 0, Win32 error numbers
// (positive), HRESULTs (negative) or the multipart parser's own codes.
#ifndef QUENTA_CORE_STATUSNAME_H_
#define QUENTA_CORE_STATUSNAME_H_

#include <windows.h>

#include "core/SafeString.h"

#define ERROR_INVALID_MIME_FORMAT 18001
#define ERROR_BAD_MIME_PART 18002
#define ERROR_BAD_CONTENT_DISPOSITION 18003
#define ERROR_MIME_PART_TOO_LONG 18004
#define ERROR_COULDNT_WRITE_FILE 18005
#define ERROR_NO_MORE_DATA 18006

// "S_OK", "ERROR_BAD_MIME_PART", ... or "Unknown Error: " + signed decimal.
SafeCString statusName(HRESULT code);

#endif  // QUENTA_CORE_STATUSNAME_H_
