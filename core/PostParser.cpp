#include "core/PostParser.h"

#include <new>

#include "core/StatusName.h"

namespace {

const SafeCString kLineEnd("\r\n");
const SafeCString kQuote("\"");
const SafeCString kHeaderEnd("\r\n\r\n");
const SafeCString kMultipartPrefix("multipart/form-data; boundary=");
const SafeCString kDispositionPrefix("Content-Disposition: form-data; name=\"");
const SafeCString kFileNamePrefix("filename=\"");
const SafeCString kContentTypePrefix("Content-Type: ");
const SafeCString kFileMarker("FILE");

const DWORD kMultipartPrefixLength = 30;
const DWORD kDispositionPrefixLength = 38;
const DWORD kFileNamePrefixLength = 10;
const DWORD kContentTypePrefixLength = 14;

const DWORD kMaxBufferSize = 512000;
const DWORD kRefillThreshold = 10000;
// The status of a completed upload that could not be buffered whole.
const HRESULT kCannotBufferFile = 266;
// CR, LF and "--" stand between a value and the boundary that ends it.
const DWORD kDelimiterLead = 4;

const SafeCString kLogCouldNotFinish("\r\nPostResponse::post Could not finish part.\r\n");
const SafeCString kLogUnknownField("\r\nPostResponse::post --> Unknown field recieved\r\n");

// Content-type classes of a file part: the first prefix that matches gives
// its index; then "octet-stream" anywhere gives 5, anything else 6.
const SafeCString kContentTypeClasses[] = {SafeCString("text"), SafeCString("image"), SafeCString("program"),
                                           SafeCString("library"), SafeCString("configuration")};
const SafeCString kOctetStream("octet-stream");

DWORD classifyContentType(const SafeCString& type) {
  const DWORD prefixes = sizeof(kContentTypeClasses) / sizeof(kContentTypeClasses[0]);
  for (DWORD k = 0; k < prefixes; ++k) {
    if (type.startsWith(kContentTypeClasses[k])) return k;
  }
  return type.find(kOctetStream, 0) >= 0 ? 5 : 6;
}

// The window's bytes [begin, end) as a text.
SafeCString windowText(const ByteBuffer& window, DWORD begin, DWORD end) {
  SafeCString text("");
  if (end > begin) text.append(reinterpret_cast<const char*>(window.data()) + begin, end - begin);
  return text;
}

}  // namespace

PostParser::PostParser(EXTENSION_CONTROL_BLOCK* requestBlock, const FormFieldList& declared)
    : error(S_OK),
      ecb(requestBlock),
      fields(declared),
      boundary(""),
      buffer(requestBlock->cbTotalBytes < kMaxBufferSize ? requestBlock->cbTotalBytes : kMaxBufferSize),
      bytesRead(requestBlock->cbAvailable),
      currentPart(nullptr),
      previousPart(nullptr),
      partComplete(true),
      finished(false),
      currentOwned(false) {
  if (ecb->cbAvailable != 0 && ecb->lpbData != nullptr) buffer.append(ecb->lpbData, ecb->cbAvailable);
  if (buffer.getStatus() < 0) {
    error = buffer.getStatus();
    NKDbgPrintfW(TEXT("PostParser: Failed\r\n"));
    return;
  }
  SafeCString contentType(ecb->lpszContentType);
  if (!contentType.startsWith(kMultipartPrefix)) {
    error = ERROR_INVALID_MIME_FORMAT;
    NKDbgPrintfW(TEXT("PostParser: Bad mime\r\n"));
    return;
  }
  boundary = contentType.substring(kMultipartPrefixLength, contentType.getLength());
  if (boundary.getStatus() < 0) {
    error = boundary.getStatus();
  } else if (contentType.getStatus() < 0) {
    error = contentType.getStatus();
  } else if (boundary.getLength() == 0) {
    // Nothing could ever delimit a part.
    error = ERROR_INVALID_MIME_FORMAT;
    NKDbgPrintfW(TEXT("PostParser: Bad mime\r\n"));
    return;
  } else {
    error = S_OK;
  }
  NKDbgPrintfW(TEXT("PostParser: ok?\r\n"));
  if (error == S_OK && !boundarySearch.setPattern(boundary)) error = E_OUTOFMEMORY;
}

PostParser::~PostParser() { releaseCurrent(); }

DWORD PostParser::bufferSize() const {
  return ecb->cbTotalBytes < kMaxBufferSize ? ecb->cbTotalBytes : kMaxBufferSize;
}

bool PostParser::hasMore() const {
  if (finished) return false;
  return bytesRead < ecb->cbTotalBytes || buffer.getLength() != 0;
}

void PostParser::releaseCurrent() {
  if (!currentOwned) return;
  // An upload that did not complete leaves no file behind; a file of the same
  // name that this part never opened (an earlier upload's) stays.
  if (currentPart->isFile()) {
    FileMimePart* part = static_cast<FileMimePart*>(currentPart);
    if (part->file != INVALID_HANDLE_VALUE) part->deleteFile();
  }
  delete currentPart;
  currentPart = nullptr;
  currentOwned = false;
}

bool PostParser::parse(MimePartMap& parts) {
  // Construction failed: without a window or a boundary there is nothing to
  // parse, and the caller answers as for any other failed parse.
  if (error != S_OK) return false;
  NKDbgPrintfW(TEXT("PostParser: running\r\n"));
  while (hasMore()) {
    MimePart* part = nextPart();
    if (part == nullptr) break;
    const FormField* field = nullptr;
    for (DWORD k = 0; k < fields.count(); ++k) {
      if (fields.at(k)->matches(part)) {
        field = fields.at(k);
        break;
      }
    }
    if (field != nullptr) {
      bool placed = true;
      if (field->isFile) {
        // The upload is stored under the field's own name; the client's
        // file name is never used for a file.
        FileMimePart* filePart = static_cast<FileMimePart*>(part);
        placed = filePart->setDirectory(field->directory) && filePart->setFileName(SafeWString(field->name));
        if (!placed) error = ERROR_INVALID_NAME;
      }
      if (!placed || !finishPart(field->maxLength)) {
        appendLogText(ecb, kLogCouldNotFinish, false);
        NKDbgPrintfW(TEXT("PostParser: part not finished\r\n"));
        releaseCurrent();
        return false;
      }
      if (!parts.put(part)) {
        error = E_OUTOFMEMORY;
        releaseCurrent();
        return false;
      }
      currentOwned = false;
    } else {
      appendLogText(ecb, kLogUnknownField, false);
      NKDbgPrintfW(TEXT("PostParser: Bad field\r\n"));
      buffer.consume(boundary.getLength());
      if (!discard()) {
        releaseCurrent();
        return false;
      }
    }
  }
  return true;
}

bool PostParser::refill() {
  DWORD received = 0;
  BYTE* destination = buffer.freeStart();
  if (!readClient(destination, buffer.freeSpace(), &received)) return false;
  return buffer.setLength(buffer.getLength() + received);
}

MimePart* PostParser::nextPart() {
  if (!(partComplete && hasMore())) {
    NKDbgPrintfW(TEXT("PostParser::nextPart() called with current part not yet complete.\r\n"));
    return nullptr;
  }
  // Headers are parsed from the window only, so it is filled up to the
  // threshold (or the end of the body) however small the server's reads are.
  while (buffer.getLength() < kRefillThreshold && bytesRead < ecb->cbTotalBytes) {
    if (!refill()) {
      NKDbgPrintfW(TEXT("PostParser::nextPart() readClient returned false.\r\n"));
      return nullptr;
    }
  }
  int at = boundarySearch.find(buffer);
  if (at < 0) {
    error = ERROR_BAD_MIME_PART;
    NKDbgPrintfW(TEXT("Bad mime part.\r\n"));
    return nullptr;
  }
  // `at` lies inside the window, so this consume cannot fail.
  buffer.consume(static_cast<DWORD>(at));
  const DWORD m = boundary.getLength();
  const char* window = reinterpret_cast<const char*>(buffer.data());
  if (buffer.getLength() >= m + 2 && window[m] == '-' && window[m + 1] == '-') {
    finished = true;  // the closing delimiter: the normal end of the body
    return nullptr;
  }
  int boundaryLineEnd = buffer.find(kLineEnd, m);
  int headerLineEnd = boundaryLineEnd < 0 ? -1 : buffer.find(kLineEnd, static_cast<DWORD>(boundaryLineEnd) + 2);
  if (headerLineEnd < 0) {
    error = ERROR_BAD_MIME_PART;
    NKDbgPrintfW(TEXT("Bad mime part.\r\n"));
    return nullptr;
  }
  const DWORD lineStart = static_cast<DWORD>(boundaryLineEnd) + 2;
  const DWORD lineEnd = static_cast<DWORD>(headerLineEnd) + 2;
  SafeCString line = windowText(buffer, lineStart, lineEnd);
  if (!line.startsWith(kDispositionPrefix)) {
    error = ERROR_BAD_CONTENT_DISPOSITION;
    NKDbgPrintfW(TEXT("PostParser::nextPart Bad content disposition.\r\n"));
    return nullptr;
  }
  int nameEnd = line.find(kQuote, kDispositionPrefixLength);
  if (nameEnd < 0) {
    error = ERROR_BAD_MIME_PART;
    NKDbgPrintfW(TEXT("Bad mime part.\r\n"));
    return nullptr;
  }
  SafeCString name = line.substring(kDispositionPrefixLength, static_cast<DWORD>(nameEnd));
  MimePart* part = nullptr;
  int fileNameAt = line.find(kFileNamePrefix, static_cast<DWORD>(nameEnd));
  if (fileNameAt < 0) {
    part = new (std::nothrow) MimePart(name);
  } else {
    const DWORD fileNameStart = static_cast<DWORD>(fileNameAt) + kFileNamePrefixLength;
    int fileNameEnd = line.find(kQuote, fileNameStart);
    int typeLineEnd = fileNameEnd < 0 ? -1 : buffer.find(kLineEnd, lineEnd);
    SafeCString typeLine = typeLineEnd < 0 ? SafeCString("") : windowText(buffer, lineEnd, static_cast<DWORD>(typeLineEnd) + 2);
    if (typeLineEnd < 0 || !typeLine.startsWith(kContentTypePrefix)) {
      error = ERROR_BAD_MIME_PART;
      NKDbgPrintfW(TEXT("Bad mime part.\r\n"));
      return nullptr;
    }
    SafeWString clientFileName(line.substring(fileNameStart, static_cast<DWORD>(fileNameEnd)));
    DWORD contentType = classifyContentType(typeLine.substring(kContentTypePrefixLength, typeLine.getLength()));
    NKDbgPrintfW(TEXT("PostParser: end of found file\r\n"));
    part = new (std::nothrow) FileMimePart(name, clientFileName, contentType, bufferSize());
    if (part != nullptr && static_cast<FileMimePart*>(part)->buffer.getStatus() < 0) {
      delete part;
      part = nullptr;
    }
  }
  if (part == nullptr || part->name.getStatus() < 0 || part->value.getStatus() < 0 || name.getStatus() < 0 ||
      line.getStatus() < 0) {
    delete part;
    error = E_OUTOFMEMORY;
    NKDbgPrintfW(TEXT("PostParser::nextPart working string error: %S\r\n"), statusName(error).c_str());
    return nullptr;
  }
  previousPart = currentPart;
  currentPart = part;
  currentOwned = true;
  partComplete = false;
  return part;
}

bool PostParser::finishPart(DWORD maxLength) {
  if (partComplete || !hasMore()) return false;
  int headerEnd = buffer.find(kHeaderEnd, 0);
  if (headerEnd < 0) {
    error = ERROR_BAD_MIME_PART;
    NKDbgPrintfW(TEXT("PostParser: bad mime part\r\n"));
    return false;
  }
  buffer.consume(static_cast<DWORD>(headerEnd) + kHeaderEnd.getLength());
  if (currentPart->value != kFileMarker) return finishNormal(maxLength);
  return finishFile(maxLength);
}

bool PostParser::finishNormal(DWORD maxLength) {
  SafeCString& value = currentPart->value;
  const DWORD holdBack = boundary.getLength() + 3;
  int at = boundarySearch.find(buffer);
  NKDbgPrintfW(TEXT("PostParser: finish normal\r\n"));
  while (at < 0) {
    if (buffer.getLength() > holdBack) {
      DWORD taken = buffer.getLength() - holdBack;
      if (!value.append(reinterpret_cast<const char*>(buffer.data()), taken)) {
        error = value.getStatus() < 0 ? value.getStatus() : E_OUTOFMEMORY;
        return false;
      }
      buffer.consume(taken);
    }
    if (value.getLength() > maxLength) {
      error = ERROR_MIME_PART_TOO_LONG;
      discard();
      return false;
    }
    if (!refill()) return false;
    at = boundarySearch.find(buffer);
    if (at >= 0) {
      // Fewer bytes before the boundary than its own CR, LF and "--": the
      // part is malformed and has no value.
      if (static_cast<DWORD>(at) < kDelimiterLead) break;
      if (!value.append(reinterpret_cast<const char*>(buffer.data()), static_cast<DWORD>(at) - kDelimiterLead)) {
        error = value.getStatus() < 0 ? value.getStatus() : E_OUTOFMEMORY;
        return false;
      }
      // The window still starts before the boundary; the next part's header
      // parsing consumes up to it.
      partComplete = true;
      return true;
    }
  }
  if (static_cast<DWORD>(at) < kDelimiterLead) {
    error = ERROR_BAD_MIME_PART;
    NKDbgPrintfW(TEXT("PostParser: bad mime part\r\n"));
    return false;
  }
  // Arrived whole within the window: taken at any length.
  if (static_cast<DWORD>(at) > kDelimiterLead) {
    value.append(reinterpret_cast<const char*>(buffer.data()), static_cast<DWORD>(at) - kDelimiterLead);
  }
  if (value.getStatus() < 0) {
    error = value.getStatus();
    return false;
  }
  buffer.consume(static_cast<DWORD>(at));
  error = buffer.getStatus();
  partComplete = true;
  return true;
}

bool PostParser::finishFile(DWORD maxLength) {
  FileMimePart* part = static_cast<FileMimePart*>(currentPart);
  const DWORD holdBack = boundary.getLength() + 3;
  int at = boundarySearch.find(buffer);
  if (at >= 0) {
    if (static_cast<DWORD>(at) < kDelimiterLead) {
      error = ERROR_BAD_MIME_PART;
      NKDbgPrintfW(TEXT("PostParser: bad mime part\r\n"));
      return false;
    }
    const DWORD size = static_cast<DWORD>(at) - kDelimiterLead;
    part->buffer.append(buffer.data(), size);
    if (part->buffer.getLength() != size) {
      NKDbgPrintfW(TEXT("Cannot copy completed file into FileMimePart\r\n"));
      error = kCannotBufferFile;
      return false;
    }
    buffer.consume(static_cast<DWORD>(at));
    error = buffer.getStatus();
    partComplete = true;
    DWORD result = part->write(0);
    if (result != 0) {
      error = static_cast<HRESULT>(result);
      NKDbgPrintfW(TEXT("Could not write complete FileMimePart\r\n"));
      return false;
    }
    return true;
  }
  for (;;) {
    if (buffer.getLength() > holdBack) {
      DWORD taken = buffer.getLength() - holdBack;
      if (part->buffer.append(buffer.data(), taken) != taken) {
        error = part->buffer.getStatus();
        return false;
      }
      buffer.consume(taken);
    }
    if (part->bytesWritten + part->buffer.getLength() > maxLength) {
      error = ERROR_MIME_PART_TOO_LONG;
      if (part->file != INVALID_HANDLE_VALUE) part->deleteFile();
      discard();
      return false;
    }
    if (part->write(0) != 0) {
      NKDbgPrintfW(TEXT("FileMimePart partial write failed\r\n"));
      error = ERROR_COULDNT_WRITE_FILE;
      return false;
    }
    if (!refill()) {
      NKDbgPrintfW(TEXT("PostParser: read Failed\r\n"));
      return false;
    }
    at = boundarySearch.find(buffer);
    if (at < 0) continue;
    if (static_cast<DWORD>(at) < kDelimiterLead) {
      error = ERROR_BAD_MIME_PART;
      NKDbgPrintfW(TEXT("PostParser: bad mime part\r\n"));
      return false;
    }
    const DWORD size = static_cast<DWORD>(at) - kDelimiterLead;
    if ((size != 0 && part->buffer.append(buffer.data(), size) != size) || part->write(0) != 0) {
      error = ERROR_COULDNT_WRITE_FILE;
      NKDbgPrintfW(TEXT("PostParser: write Failed\r\n"));
      return false;
    }
    partComplete = true;
    return true;
  }
}

bool PostParser::discard() {
  const DWORD keep = boundary.getLength() - 1;
  int at = boundarySearch.find(buffer);
  NKDbgPrintfW(TEXT("PostParser: discard\r\n"));
  if (at >= 0) {
    buffer.consume(static_cast<DWORD>(at));
    if (buffer.getStatus() < 0) {
      error = buffer.getStatus();
      return false;
    }
  }
  while (at < 0) {
    if (buffer.getLength() > keep) buffer.consume(buffer.getLength() - keep);
    if (!refill()) return false;
    at = boundarySearch.find(buffer);
  }
  if (currentOwned) delete currentPart;
  currentPart = previousPart;
  currentOwned = false;
  partComplete = true;
  return true;
}

bool PostParser::readClient(BYTE* destination, DWORD size, DWORD* received) {
  NKDbgPrintfW(TEXT("## PostParser::readClient\t%i\t%i\n"), static_cast<int>(bytesRead), static_cast<int>(size));
  *received = 0;
  if (bytesRead >= ecb->cbTotalBytes) {
    error = ERROR_NO_MORE_DATA;
    return false;
  }
  if (size == 0) {
    // The window is full of held-back bytes: the boundary is too long for it.
    error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  DWORD count = size;
  BOOL ok = ecb->ReadClient(ecb->ConnID, destination, &count);
  if (!ok) {
    error = static_cast<HRESULT>(GetLastError());
    if (count <= size) bytesRead += count;
    return false;
  }
  if (count > size) {
    // A server that claims more than it was given room for.
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  bytesRead += count;
  if (count == 0) {
    // Reported as success without a byte: the client went away early.
    error = ERROR_HANDLE_EOF;
    return false;
  }
  *received = count;
  return true;
}
