#include "host/IsapiRequest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace quenta {
namespace {

// A status line or header block this long is not an answer but a fault.
const size_t kMaxStatusText = 256;
const size_t kMaxHeaderBlock = 64 * 1024;
// Text the module may append to one log entry; the rest is dropped.
const size_t kMaxLogText = 1024;
// Body writes up to this size travel in the same write as the held header.
const size_t kCoalesceLimit = 16 * 1024;
// The connection counts the bytes of one read or write in an int.
const size_t kLargestTransfer = 1u << 30;

const char kServerSoftware[] = "quenta-httpd";

bool equalsIgnoringCase(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// "HTTP_USER_AGENT" names the header "User-Agent": upper case, '-' as '_'.
bool headerMatchesVariable(const char* header, const char* suffix) {
  for (; *header != '\0' && *suffix != '\0'; ++header, ++suffix) {
    char c = *header == '-' ? '_' : *header;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    char s = *suffix;
    if (s >= 'a' && s <= 'z') s = static_cast<char>(s - 'a' + 'A');
    if (c != s) return false;
  }
  return *header == '\0' && *suffix == '\0';
}

bool startsWithIgnoringCase(const char* text, size_t length, const char* prefix) {
  size_t prefixLength = std::strlen(prefix);
  return length >= prefixLength && strncasecmp(text, prefix, prefixLength) == 0;
}

// The value of a header line "Name: value" without leading blanks.
std::string headerValue(const char* line, size_t length, size_t nameLength) {
  size_t start = nameLength;
  while (start < length && (line[start] == ' ' || line[start] == '\t')) ++start;
  size_t end = length;
  while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  return std::string(line + start, end - start);
}

bool containsIgnoringCase(const std::string& text, const char* word) {
  size_t wordLength = std::strlen(word);
  for (size_t i = 0; i + wordLength <= text.size(); ++i) {
    if (strncasecmp(text.c_str() + i, word, wordLength) == 0) return true;
  }
  return false;
}

IsapiRequest* requestOf(HCONN connId) { return static_cast<IsapiRequest*>(connId); }

}  // namespace

const char* RequestHead::header(const char* name) const {
  for (int i = 0; i < headerCount; ++i) {
    if (headers[i].name != nullptr && equalsIgnoringCase(headers[i].name, name)) {
      return headers[i].value != nullptr ? headers[i].value : "";
    }
  }
  return nullptr;
}

IsapiRequest::IsapiRequest(ClientConnection& connection, const RequestHead& head, const std::string& documentRoot)
    : connection_(connection), head_(head) {
  method_ = head.method;
  query_ = head.query != nullptr ? head.query : "";
  path_ = head.path;
  pathTranslated_ = documentRoot + path_;
  const char* contentType = head.header("Content-Type");
  contentType_ = contentType != nullptr ? contentType : "";
  isHead_ = method_ == "HEAD";
  bodyLeft_ = head.contentLength > 0 ? head.contentLength : 0;
  const char* expect = head.header("Expect");
  expectsContinue_ = expect != nullptr && equalsIgnoringCase(expect, "100-continue") && bodyLeft_ > 0 &&
                     std::strcmp(head.httpVersion, "1.1") == 0;

  std::memset(&ecb_, 0, sizeof(ecb_));
  ecb_.cbSize = sizeof(ecb_);
  ecb_.dwVersion = (static_cast<DWORD>(HSE_VERSION_MAJOR) << 16) | HSE_VERSION_MINOR;
  ecb_.ConnID = this;
  ecb_.dwHttpStatusCode = 200;
  ecb_.lpszMethod = &method_[0];
  ecb_.lpszQueryString = &query_[0];
  ecb_.lpszPathInfo = &path_[0];
  ecb_.lpszPathTranslated = &pathTranslated_[0];
  // A length of 4 GiB or more is announced as 0xFFFFFFFF, as ISAPI does; the
  // body is still read to its real end.
  ecb_.cbTotalBytes = bodyLeft_ > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<DWORD>(bodyLeft_);
  // Nothing is read ahead: the whole body comes through ReadClient, so a client
  // that expects "100 Continue" gets it only when the module asks for the body.
  ecb_.cbAvailable = 0;
  ecb_.lpbData = noPreloadedData_;
  ecb_.lpszContentType = &contentType_[0];
  ecb_.GetServerVariable = &IsapiRequest::getServerVariable;
  ecb_.WriteClient = &IsapiRequest::writeClient;
  ecb_.ReadClient = &IsapiRequest::readClient;
  ecb_.ServerSupportFunction = &IsapiRequest::serverSupportFunction;
}

int IsapiRequest::run(PFN_HTTPEXTENSIONPROC httpExtensionProc) {
  DWORD result = httpExtensionProc(&ecb_);

  if (!held_.empty()) flushHeld(nullptr, 0);
  size_t logDataLength = strnlen(ecb_.lpszLogData, HSE_LOG_BUFFER_LEN);
  if (logDataLength > 0) appendLog(ecb_.lpszLogData, logDataLength);

  if (!headerGiven_ && !rawAnswer_) {
    sendServerError();
  } else if (rawAnswer_) {
    // Whatever the module wrote, it is delimited only by the close.
    keepConnection_ = false;
    if (status_ == 0) status_ = 200;
  } else if (!isHead_ && !chunkedAnswer_ && status_ != 204 && status_ != 304 &&
             !(status_ >= 100 && status_ < 200)) {
    if (declaredLength_ < 0 || static_cast<uint64_t>(declaredLength_) != bodyBytesSent_) {
      keepConnection_ = false;
    }
  }
  if (result != HSE_STATUS_SUCCESS && result != HSE_STATUS_SUCCESS_AND_KEEP_CONN) {
    // HSE_STATUS_ERROR, and HSE_STATUS_PENDING, which this host does not
    // support: the control block is gone once this call returns.
    keepConnection_ = false;
  }
  // A body the module left unread would have to be drained, at the client's
  // pace, before the next request: the connection is closed instead.
  if (sendFailed_ || clientGone_ || bodyLeft_ > 0) keepConnection_ = false;
  if (!keepConnection_) connection_.closeAfterAnswer();
  return status_ > 0 && status_ < 1000 ? status_ : 200;
}

void IsapiRequest::sendServerError() {
  static const char kBody[] = "500 Internal Server Error: the module sent no answer.\n";
  char answer[256];
  int length = snprintf(answer, sizeof(answer),
                        "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\n"
                        "Content-Length: %zu\r\n\r\n%s",
                        sizeof(kBody) - 1, isHead_ ? "" : kBody);
  status_ = 500;
  if (send(answer, static_cast<size_t>(length)) && !isHead_) bodyBytesSent_ = sizeof(kBody) - 1;
}

bool IsapiRequest::lookUpVariable(const char* name, std::string* value) const {
  char number[24];
  if (equalsIgnoringCase(name, "PATH_INFO") || equalsIgnoringCase(name, "URL")) {
    *value = path_;
  } else if (equalsIgnoringCase(name, "PATH_TRANSLATED")) {
    *value = pathTranslated_;
  } else if (equalsIgnoringCase(name, "QUERY_STRING")) {
    *value = query_;
  } else if (equalsIgnoringCase(name, "REQUEST_METHOD")) {
    *value = method_;
  } else if (equalsIgnoringCase(name, "CONTENT_TYPE")) {
    *value = contentType_;
  } else if (equalsIgnoringCase(name, "CONTENT_LENGTH")) {
    snprintf(number, sizeof(number), "%lld", head_.contentLength > 0 ? head_.contentLength : 0LL);
    *value = number;
  } else if (equalsIgnoringCase(name, "REMOTE_ADDR") || equalsIgnoringCase(name, "REMOTE_HOST")) {
    *value = head_.remoteAddress;
  } else if (equalsIgnoringCase(name, "REMOTE_PORT")) {
    snprintf(number, sizeof(number), "%d", head_.remotePort);
    *value = number;
  } else if (equalsIgnoringCase(name, "SERVER_PORT")) {
    snprintf(number, sizeof(number), "%d", head_.serverPort);
    *value = number;
  } else if (equalsIgnoringCase(name, "SERVER_PROTOCOL")) {
    *value = std::string("HTTP/") + head_.httpVersion;
  } else if (equalsIgnoringCase(name, "SERVER_SOFTWARE")) {
    *value = kServerSoftware;
  } else if (strncasecmp(name, "HTTP_", 5) == 0 && name[5] != '\0') {
    for (int i = 0; i < head_.headerCount; ++i) {
      const HeaderField& header = head_.headers[i];
      if (header.name != nullptr && headerMatchesVariable(header.name, name + 5)) {
        *value = header.value != nullptr ? header.value : "";
        return true;
      }
    }
    return false;
  } else {
    return false;
  }
  return true;
}

BOOL WINAPI IsapiRequest::getServerVariable(HCONN connId, LPSTR name, LPVOID buffer, LPDWORD size) {
  IsapiRequest* request = requestOf(connId);
  if (request == nullptr || name == nullptr || size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string value;
  if (!request->lookUpVariable(name, &value)) {
    SetLastError(ERROR_INVALID_INDEX);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (buffer == nullptr || *size < needed) {
    // Nothing is copied: the caller's buffer keeps what it held.
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL WINAPI IsapiRequest::writeClient(HCONN connId, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  IsapiRequest* request = requestOf(connId);
  // Asynchronous writes would need a completion callback, which this host
  // does not offer: refused rather than silently made synchronous.
  if (request == nullptr || bytes == nullptr || (buffer == nullptr && *bytes > 0) || (reserved & HSE_IO_ASYNC) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return request->write(buffer, *bytes);
}

BOOL IsapiRequest::write(const void* data, DWORD size) {
  if (sendFailed_) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  if (size == 0) return TRUE;
  if (!headerGiven_) {
    // The module writes its own status line and headers; the host cannot tell
    // where this answer ends.
    rawAnswer_ = true;
    answerStarted_ = true;
    if (!send(data, size)) return FALSE;
    bodyBytesSent_ += size;
    return TRUE;
  }
  if (isHead_) {
    // An answer to HEAD has no body: the module's bytes are taken and dropped.
    if (!held_.empty() && !flushHeld(nullptr, 0)) return FALSE;
    return TRUE;
  }
  bool sent = held_.empty() ? send(data, size) : flushHeld(data, size);
  if (!sent) return FALSE;
  bodyBytesSent_ += size;
  return TRUE;
}

bool IsapiRequest::flushHeld(const void* body, size_t size) {
  bool sent;
  if (body != nullptr && size <= kCoalesceLimit) {
    held_.append(static_cast<const char*>(body), size);
    sent = send(held_.data(), held_.size());
  } else {
    sent = send(held_.data(), held_.size()) && (body == nullptr || send(body, size));
  }
  held_.clear();
  held_.shrink_to_fit();
  return sent;
}

bool IsapiRequest::send(const void* data, size_t size) {
  answerStarted_ = true;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    // The connection reports its count as an int.
    size_t piece = size < kLargestTransfer ? size : kLargestTransfer;
    int written = connection_.write(bytes, piece);
    if (written < 0 || static_cast<size_t>(written) != piece) {
      sendFailed_ = true;
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

BOOL WINAPI IsapiRequest::readClient(HCONN connId, LPVOID buffer, LPDWORD size) {
  IsapiRequest* request = requestOf(connId);
  if (request == nullptr || size == nullptr || (buffer == nullptr && *size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return request->read(buffer, size);
}

BOOL IsapiRequest::read(void* buffer, DWORD* size) {
  if (*size == 0 || bodyLeft_ <= 0 || clientGone_) {
    // The end of the body, or a client that went away: TRUE with 0 bytes.
    *size = 0;
    return TRUE;
  }
  if (expectsContinue_) {
    expectsContinue_ = false;
    // Once the final answer has started, an interim answer may not follow it.
    if (!answerStarted_) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      if (connection_.write(kContinue, sizeof(kContinue) - 1) != static_cast<int>(sizeof(kContinue) - 1)) {
        clientGone_ = true;
        *size = 0;
        return TRUE;
      }
    }
  }
  size_t wanted = *size < kLargestTransfer ? *size : kLargestTransfer;
  if (static_cast<long long>(wanted) > bodyLeft_) wanted = static_cast<size_t>(bodyLeft_);
  int got = connection_.read(buffer, wanted);
  if (got <= 0) {
    // Gone, or cut off for sending too slowly: the module sees the body end
    // here and the connection is closed after its answer.
    clientGone_ = true;
    *size = 0;
    return TRUE;
  }
  bodyLeft_ -= got;
  *size = static_cast<DWORD>(got);
  return TRUE;
}

BOOL WINAPI IsapiRequest::serverSupportFunction(HCONN connId, DWORD request, LPVOID buffer, LPDWORD size,
                                                LPDWORD dataType) {
  IsapiRequest* self = requestOf(connId);
  if (self == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (request == HSE_REQ_SEND_RESPONSE_HEADER_EX) {
    return self->sendResponseHeader(static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer));
  }
  if (request == HSE_APPEND_LOG_PARAMETER) {
    if (buffer == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const char* text = static_cast<const char*>(buffer);
    size_t limit = size != nullptr && *size > 0 ? *size : kMaxLogText;
    self->appendLog(text, strnlen(text, limit));
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

void IsapiRequest::appendLog(const char* text, size_t length) {
  if (logText_.size() >= kMaxLogText) return;
  if (length > kMaxLogText - logText_.size()) length = kMaxLogText - logText_.size();
  logText_.append(text, length);
}

BOOL IsapiRequest::sendResponseHeader(const HSE_SEND_HEADER_EX_INFO* info) {
  if (info == nullptr || headerGiven_ || rawAnswer_) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // On the device cchStatus counts the terminator ("200 OK" has 7), elsewhere
  // it does not: the status text is what comes before its NUL either way.
  std::string status = "200 OK";
  if (info->pszStatus != nullptr) {
    size_t limit = info->cchStatus > 0 && info->cchStatus < kMaxStatusText ? info->cchStatus : kMaxStatusText;
    size_t length = strnlen(info->pszStatus, limit);
    // A line break inside the status would start a header of its own.
    size_t lineEnd = 0;
    while (lineEnd < length && info->pszStatus[lineEnd] != '\r' && info->pszStatus[lineEnd] != '\n') ++lineEnd;
    if (lineEnd > 0) status.assign(info->pszStatus, lineEnd);
  }
  const char* block = info->pszHeader != nullptr ? info->pszHeader : "";
  size_t limit = info->cchHeader > 0 && info->cchHeader < kMaxHeaderBlock ? info->cchHeader : kMaxHeaderBlock;
  size_t blockLength = strnlen(block, limit);

  held_.reserve(16 + status.size() + blockLength);
  held_ = "HTTP/1.1 ";
  held_ += status;
  held_ += "\r\n";
  if (blockLength == 0) {
    held_ += "\r\n";  // no header lines: the empty line still ends the head
  } else {
    held_.append(block, blockLength);
  }
  headerGiven_ = true;
  status_ = 0;
  for (size_t i = 0; i < status.size() && i < 3 && status[i] >= '0' && status[i] <= '9'; ++i) {
    status_ = status_ * 10 + (status[i] - '0');
  }
  if (status_ < 100) status_ = 200;
  if (!info->fKeepConn) keepConnection_ = false;

  // The lines that decide whether the connection can carry another request.
  size_t lineStart = 0;
  while (lineStart < blockLength) {
    const char* line = block + lineStart;
    const char* newline = static_cast<const char*>(std::memchr(line, '\n', blockLength - lineStart));
    size_t lineLength = newline != nullptr ? static_cast<size_t>(newline - line) : blockLength - lineStart;
    if (startsWithIgnoringCase(line, lineLength, "Content-Length:")) {
      std::string value = headerValue(line, lineLength, 15);
      long long length = -1;
      if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos && value.size() < 19) {
        length = std::strtoll(value.c_str(), nullptr, 10);
      }
      if (length < 0 || (declaredLength_ >= 0 && declaredLength_ != length)) keepConnection_ = false;
      if (declaredLength_ < 0) declaredLength_ = length;
    } else if (startsWithIgnoringCase(line, lineLength, "Transfer-Encoding:")) {
      chunkedAnswer_ = containsIgnoringCase(headerValue(line, lineLength, 18), "chunked");
    } else if (startsWithIgnoringCase(line, lineLength, "Connection:")) {
      if (containsIgnoringCase(headerValue(line, lineLength, 11), "close")) keepConnection_ = false;
    }
    lineStart += lineLength + 1;
  }
  return TRUE;
}

}  // namespace quenta
