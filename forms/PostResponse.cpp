#include "forms/PostResponse.h"

#include <strsafe.h>

#include <cmath>
#include <cstring>
#include <new>

#include "core/PostParser.h"
#include "frame/StoredPage.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const WCHAR kSetPCodeView[] = TEXT("SetPCodeView");
const WORD kParameterEvent = 8;

// The low 16 bits of a number truncated toward zero, for any double: values
// beyond the range of int keep their low bits too, and NaN gives 0.
WORD lowWord(double number) {
  if (!std::isfinite(number)) return 0;
  double remainder = std::fmod(std::trunc(number), 65536.0);
  if (remainder < 0) remainder += 65536.0;
  return static_cast<WORD>(static_cast<unsigned long>(remainder));
}

}  // namespace

PostResponse::PostResponse(const SafeCString& formPath, const SafeWString& pageFile)
    : path(formPath), page(new (std::nothrow) StoredPage(pageFile, false)), declarationsFailed(false) {
  // The mailbox's handles stay open for the handler's life; a mailbox that
  // could not be opened only loses the events.
  mailbox.open();
}

PostResponse::~PostResponse() {
  delete page;
  NKDbgPrintfW(TEXT("PostResponse: Deleting\r\n"));
  fields.clear();
}

bool PostResponse::isComplete() const {
  return page != nullptr && path.getStatus() >= 0 && path.c_str() != nullptr && !declarationsFailed;
}

void PostResponse::declareField(const char* name, DWORD maxLength) {
  FormField* field = new (std::nothrow) FormField(SafeCString(name), maxLength);
  if (field == nullptr || field->name.getStatus() < 0) {
    delete field;
    declarationsFailed = true;
    return;
  }
  if (!fields.append(field)) declarationsFailed = true;
}

DWORD PostResponse::pageIdleTime() { return page->idleTime(); }

void PostResponse::releasePage() {
  if (errorPage400().idleTime() > page->idleTime()) errorPage400().unload();
  NKDbgPrintfW(TEXT("PostResponse: Freedom\r\n"));
  page->unload();
}

bool PostResponse::matchesPath(const SafeCString& requestPath) {
  NKDbgPrintfW(TEXT("PostResponse: Path Match\r\n"));
  return path == requestPath;
}

SafeCString* PostResponse::post(EXTENSION_CONTROL_BLOCK* ecb) {
  MimePartMap parts;
  StoredPage* answer = page;
  bool applied = false;
  {
    PostParser parser(ecb, fields);
    if (parser.parse(parts)) {
      bool complete = true;
      for (DWORD k = 0; k < fields.count(); ++k) {
        if (parts.lookup(fields.at(k)->name) == nullptr) {
          NKDbgPrintfW(TEXT("PostResponse: Missing field %S\r\n"), fields.at(k)->name.c_str());
          complete = false;
          break;
        }
      }
      applied = complete && apply(parts);
    }
  }
  if (!applied) answer = &errorPage400();
  parts.clear();
  NKDbgPrintfW(TEXT("PostResponse: Meatiness\r\n"));
  return answer->content();
}

bool PostResponse::fieldWord(MimePartMap& parts, const char* field, FieldScale scale, WORD* value) {
  const MimePart* part = parts.lookup(SafeCString(field));
  if (part == nullptr) return false;
  if (scale == kAsInteger) {
    *value = static_cast<WORD>(static_cast<unsigned int>(part->value.toInt()));
  } else if (scale == kWholeTimesTen) {
    *value = static_cast<WORD>(static_cast<unsigned int>(part->value.toInt()) * 10u);
  } else {
    *value = lowWord(part->value.toDouble() * static_cast<double>(scale));
  }
  return true;
}

int PostResponse::writePCode(WORD pcode, WORD value, bool withEvent) {
  pcode_only_struct record;
  std::memset(&record, 0, sizeof record);
  record.value = value;
  record.recordID = pcode;
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  LPVOID view = CreateView(kSetPCodeView, &mapHandle);
  int count = 0;
  // A view that could not be made is a write that updated nothing.
  if (view != nullptr) {
    std::memcpy(view, &record, sizeof record);
    count = SetPCode(pcode, value, kSetPCodeView);
  }
  NKDbgPrintfW(TEXT("UPDATED %i pcode_only_struct records at recordID %i\r\n"), count, static_cast<int>(pcode));
  if (count != 0 && withEvent) mailbox.post(kParameterEvent, pcode, 1, 0);
  if (view != nullptr) CleanupView(reinterpret_cast<DWORD_PTR>(view), mapHandle);
  return count;
}

int PostResponse::writeRecord(LPCWSTR viewName, const void* record, DWORD size, SetterCall setter,
                              const char* recordType, WORD key, WORD eventCode, WORD eventKey, WORD arg2, WORD arg3,
                              void (*note)(const BYTE* record, int count)) {
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  DWORD_PTR releaseHandle = SQLBRIDGE_NO_RELEASE;
  LPVOID view = CreateView(viewName, &mapHandle);
  int count = 0;
  if (view != nullptr) {
    std::memcpy(view, record, size);
    count = setter(view, key, viewName, &releaseHandle);
  }
  NKDbgPrintfW(TEXT("UPDATED %i %S records at recordID %i\r\n"), count, recordType, static_cast<int>(key));
  if (note != nullptr) note(static_cast<const BYTE*>(record), count);
  if (count != 0 && eventCode != 0) mailbox.post(eventCode, eventKey, arg2, arg3);
  ReleaseView(releaseHandle);
  if (view != nullptr) CleanupView(reinterpret_cast<DWORD_PTR>(view), mapHandle);
  return count;
}

int PostResponse::writeSystemLogText(LPCWSTR viewName, WORD first, WORD second, WORD kind, LPCWSTR text) {
  system_log_struct record;
  std::memset(&record, 0, sizeof record);
  GetLocalTime(&record.time);
  record.first = first;
  record.second = second;
  record.third = 0;
  record.kind = kind;
  // A longer text is cut at 129 characters; the record keeps its terminator.
  StringCchCopyW(record.text, sizeof record.text / sizeof record.text[0], text);
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  DWORD_PTR releaseHandle = SQLBRIDGE_NO_RELEASE;
  LPVOID view = CreateView(viewName, &mapHandle);
  int count = 0;
  if (view != nullptr) {
    std::memcpy(view, &record, sizeof record);
    count = SetSystemLog(viewName, &releaseHandle);
  }
  ReleaseView(releaseHandle);
  if (view != nullptr) CleanupView(reinterpret_cast<DWORD_PTR>(view), mapHandle);
  return count;
}
