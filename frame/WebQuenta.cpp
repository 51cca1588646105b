// The module's three entry points: load, every request, unload.
//
// Every answer goes out with status "200 OK"; an error is visible only in the
// page text. Script answers carry the cache header twice, because the second
// copy rides behind the media type in the Content-Type value.
#include <httpext.h>
#include <strsafe.h>

#include <new>

#include "core/JSFile.h"
#include "core/SafeString.h"
#include "forms/PostResponse.h"
#include "frame/Registry.h"
#include "frame/StoredPage.h"

namespace {

const SafeCString kGet("GET");
const SafeCString kPost("POST");
const char kTextHtml[] = "text/html";
const char kTextJavascript[] = "text/javascript\r\nCache-Control: max-age=0, no-cache, no-store, must-revalidate";
const char kHeaderFormat[] =
    "Cache-Control: max-age=0, no-cache, no-store, must-revalidate\r\n"
    "Content-Length: %d\r\n"
    "Content-Type: %s\r\n"
    "\r\n";
const char kStatusOk[] = "200 OK";
const DWORD kPathBufferSize = 64;
const size_t kMaxQueryLength = 128;
const size_t kHeaderBufferSize = 256;

// A path that matches no entry: every registered path begins with "/". The
// buffer holds it when the server could not give "PATH_INFO" (for example a
// path longer than the buffer), so such a request is answered as unmatched.
const char kUnmatchablePath[] = "*";

// The data file's text is copied out under the file's lock, so that no other
// request rebuilds it while this one is still sending it. Null when the copy
// could not be allocated; the request is then answered as unmatched.
SafeCString* produceCopy(JSFile* file, const SafeCString& query) {
  file->lock();
  SafeCString* produced = file->produce(query);
  SafeCString* copy = new (std::nothrow) SafeCString(*produced);
  file->unlock();
  if (copy != nullptr && copy->getStatus() < 0) {
    delete copy;
    copy = nullptr;
  }
  return copy;
}

SafeCString* serveGet(EXTENSION_CONTROL_BLOCK* ecb, const SafeCString& path, SafeCString** owned) {
  size_t queryLength = 0;
  if (ecb->lpszQueryString != nullptr &&
      FAILED(StringCchLengthA(ecb->lpszQueryString, kMaxQueryLength, &queryLength))) {
    return errorPage414().content();
  }
  // A null query string gives the null-buffer empty string.
  SafeCString query(ecb->lpszQueryString, static_cast<DWORD>(queryLength), false);
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    JSFile* file = JSFileTable[k];
    if (file != nullptr && file->matches(path)) {
      *owned = produceCopy(file, query);
      return *owned;
    }
  }
  return nullptr;
}

SafeCString* servePost(EXTENSION_CONTROL_BLOCK* ecb, const SafeCString& path) {
  for (int k = 0; k < POST_RESPONSE_COUNT; ++k) {
    PostResponse* handler = PostResponseTable[k];
    if (handler != nullptr && handler->matchesPath(path)) return handler->post(ecb);
  }
  return nullptr;
}

DWORD send(EXTENSION_CONTROL_BLOCK* ecb, SafeCString* body, const char* contentType) {
  static const char kEmpty[] = "";
  const char* text = body != nullptr && body->c_str() != nullptr ? body->c_str() : kEmpty;
  DWORD length = body != nullptr && body->c_str() != nullptr ? body->getLength() : 0;

  char header[kHeaderBufferSize];
  char* headerEnd = header;
  HRESULT formatted = StringCchPrintfExA(header, kHeaderBufferSize, &headerEnd, nullptr, 0, kHeaderFormat,
                                         static_cast<int>(length), contentType);
  if (FAILED(formatted)) return HSE_STATUS_ERROR;

  HSE_SEND_HEADER_EX_INFO info;
  info.pszStatus = kStatusOk;
  info.cchStatus = sizeof(kStatusOk);  // the six characters and the terminator
  info.pszHeader = header;
  info.cchHeader = static_cast<DWORD>(headerEnd - header);
  info.fKeepConn = TRUE;
  if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr)) {
    return HSE_STATUS_ERROR;
  }
  DWORD written = length;
  if (!ecb->WriteClient(ecb->ConnID, const_cast<char*>(text), &written, HSE_IO_SYNC)) {
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

}  // namespace

extern "C" ISAPI_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  NKDbgPrintfW(TEXT("WebQuenta: GetExtensionVersion called\r\n"));
  buildRegistries();
  pVer->dwExtensionVersion = 100;
  StringCchCopyA(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN,
                 "\r\n  ISAPI backend for Quenta II Web interface  \r\n");
  return TRUE;
}

extern "C" ISAPI_EXPORT BOOL WINAPI TerminateExtension(DWORD dwFlags) {
  if (dwFlags == HSE_TERM_MUST_UNLOAD) NKDbgPrintfW(TEXT("WebQuenta: TerminateExtension called\r\n"));
  destroyRegistries();
  return TRUE;
}

extern "C" ISAPI_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  if (ecb == nullptr) return HSE_STATUS_ERROR;  // nowhere to send even the 403 page

  char* pathBuffer = new (std::nothrow) char[kPathBufferSize];
  if (pathBuffer == nullptr) return HSE_STATUS_ERROR;
  StringCchCopyA(pathBuffer, kPathBufferSize, kUnmatchablePath);
  DWORD pathSize = kPathBufferSize;
  if (!ecb->GetServerVariable(ecb->ConnID, const_cast<char*>("PATH_INFO"), pathBuffer, &pathSize)) {
    StringCchCopyA(pathBuffer, kPathBufferSize, kUnmatchablePath);
  }
  SafeCString path(pathBuffer, kPathBufferSize, true);  // owns and frees the buffer

  SafeCString* body = nullptr;
  SafeCString* owned = nullptr;  // a private copy of a data file's text
  const char* contentType = kTextHtml;
  SafeCString method(ecb->lpszMethod);

  if (path.getLength() == 0) {
    body = errorPage403().content();
  } else if (method == kGet) {
    body = serveGet(ecb, path, &owned);
    if (owned != nullptr) contentType = kTextJavascript;
  } else if (method == kPost) {
    body = servePost(ecb, path);
  } else {
    body = errorPage405().content();
  }
  if (body == nullptr) body = errorPage404().content();

  DWORD result = send(ecb, body, contentType);
  delete owned;
  return result;
}
