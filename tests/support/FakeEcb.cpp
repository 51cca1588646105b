#include "tests/support/FakeEcb.h"

#include <algorithm>
#include <cstring>

FakeEcb::FakeEcb(const std::string& method, const std::string& path, const std::string& query)
    : methodText(method), pathText(path), queryText(query) {
  std::memset(&block, 0, sizeof(block));
  block.cbSize = sizeof(block);
  block.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  block.ConnID = this;
  block.lpszMethod = &methodText[0];
  block.lpszQueryString = &queryText[0];
  block.lpszPathInfo = &pathText[0];
  block.lpszContentType = &contentTypeText[0];
  block.GetServerVariable = &FakeEcb::getServerVariable;
  block.WriteClient = &FakeEcb::writeClient;
  block.ReadClient = &FakeEcb::readClient;
  block.ServerSupportFunction = &FakeEcb::serverSupport;
}

void FakeEcb::setBody(const std::string& contentType, const std::string& bodyBytes, DWORD preloaded,
                      DWORD pieceSize) {
  contentTypeText = contentType;
  bodyText = bodyBytes;
  readSize = pieceSize == 0 ? 1 : pieceSize;
  preloaded = std::min<DWORD>(preloaded, static_cast<DWORD>(bodyText.size()));
  block.lpszContentType = &contentTypeText[0];
  block.cbTotalBytes = static_cast<DWORD>(bodyText.size());
  block.cbAvailable = preloaded;
  block.lpbData = reinterpret_cast<LPBYTE>(&bodyText[0]);
  bodyOffset = preloaded;
}

void FakeEcb::reset() {
  status.clear();
  header.clear();
  body.clear();
  log.clear();
  headerCalls = writeCalls = readCalls = 0;
  bodyOffset = block.cbAvailable;
}

void FakeEcb::setDeclaredLength(DWORD declaredLength) { block.cbTotalBytes = declaredLength; }

void FakeEcb::setNullQuery() { block.lpszQueryString = nullptr; }

BOOL WINAPI FakeEcb::getServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
  FakeEcb* self = static_cast<FakeEcb*>(conn);
  if (name == nullptr || size == nullptr || std::strcmp(name, "PATH_INFO") != 0) {
    SetLastError(ERROR_INVALID_INDEX);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(self->pathText.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, self->pathText.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL WINAPI FakeEcb::writeClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD) {
  FakeEcb* self = static_cast<FakeEcb*>(conn);
  self->writeCalls++;
  if (self->failWrite) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  self->body.append(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

BOOL WINAPI FakeEcb::readClient(HCONN conn, LPVOID buffer, LPDWORD size) {
  FakeEcb* self = static_cast<FakeEcb*>(conn);
  if (self->failReadAfter >= 0 && self->readCalls >= self->failReadAfter) {
    self->readCalls++;
    *size = 0;
    SetLastError(self->readError);
    return FALSE;
  }
  self->readCalls++;
  size_t left = self->bodyText.size() - self->bodyOffset;
  if (left == 0 && !self->zeroReadAtEnd) {
    *size = 0;
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  DWORD n = static_cast<DWORD>(std::min<size_t>({left, *size, self->readSize}));
  std::memcpy(buffer, self->bodyText.data() + self->bodyOffset, n);
  self->bodyOffset += n;
  *size = n;
  return TRUE;
}

BOOL WINAPI FakeEcb::serverSupport(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD) {
  FakeEcb* self = static_cast<FakeEcb*>(conn);
  if (request == HSE_REQ_SEND_RESPONSE_HEADER_EX) {
    self->headerCalls++;
    if (self->failHeader) {
      SetLastError(ERROR_WRITE_FAULT);
      return FALSE;
    }
    const HSE_SEND_HEADER_EX_INFO* info = static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
    // cchStatus counts the terminator on the device; take the text up to it.
    self->status.assign(info->pszStatus, strnlen(info->pszStatus, info->cchStatus));
    self->header.assign(info->pszHeader, info->cchHeader);
    self->keepConn = info->fKeepConn != FALSE;
    return TRUE;
  }
  if (request == HSE_APPEND_LOG_PARAMETER) {
    self->log.append(static_cast<const char*>(buffer), size ? *size : std::strlen(static_cast<const char*>(buffer)));
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
