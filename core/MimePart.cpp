#include "core/MimePart.h"

#include <new>

#include "core/GrowableArray.h"

namespace {

const SafeCString kFileMarker("FILE");
const DWORD kDumpShortFrom = 50;
const DWORD kDumpShownValue = 32;
const DWORD kDumpShownContents = 50;

bool isSeparator(WCHAR c) { return c == TEXT('\\') || c == TEXT('/'); }

// Characters that never appear in a stored file name: controls, and those that
// Windows reserves (":" would also name a device such as "COM1:").
bool isRefused(WCHAR c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case TEXT(':'):
    case TEXT('*'):
    case TEXT('?'):
    case TEXT('"'):
    case TEXT('<'):
    case TEXT('>'):
    case TEXT('|'):
      return true;
    default:
      return false;
  }
}

// The name after its last "\" or "/", or an empty text when that is not a
// name a file may be stored under.
SafeWString bareName(const SafeWString& name) {
  const WCHAR* text = name.c_str();
  DWORD length = name.getLength();
  if (text == nullptr || name.getStatus() < 0) return SafeWString(TEXT(""));
  DWORD begin = 0;
  for (DWORD k = 0; k < length; ++k) {
    if (isSeparator(text[k])) begin = k + 1;
  }
  bool onlyDots = true;
  for (DWORD k = begin; k < length; ++k) {
    if (isRefused(text[k])) return SafeWString(TEXT(""));
    if (text[k] != TEXT('.')) onlyDots = false;
  }
  if (onlyDots) return SafeWString(TEXT(""));  // also the empty name
  return SafeWString(const_cast<WCHAR*>(text + begin), length - begin, false);
}

}  // namespace

MimePart::MimePart(const SafeCString& partName) : name(partName), value("") {}

MimePart::MimePart(const SafeCString& partName, const SafeCString& partValue) : name(partName), value(partValue) {}

MimePart::~MimePart() {}

bool MimePart::isFile() const { return value == kFileMarker; }

bool MimePart::truncate(DWORD length) {
  if (length >= value.getLength()) return true;
  return value.erase(length, value.getLength());
}

SafeCString MimePart::dump() {
  SafeCString text = SafeCString("Name:\t\t") + name + SafeCString("\nValue:\t\t");
  if (value.getLength() < kDumpShortFrom) {
    text += value;
    return text;
  }
  text += value.substring(0, kDumpShownValue);
  text += SafeCString("\t (");
  text += SafeCString(static_cast<int>(value.getLength()));
  text += SafeCString(")");
  return text;
}

FileMimePart::FileMimePart(const SafeCString& partName, const SafeWString& clientFileName, DWORD type,
                           DWORD bufferCapacity)
    : MimePart(partName, kFileMarker),
      buffer(bufferCapacity),
      fileName(bareName(clientFileName)),
      contentType(type),
      directory(TEXT("\\Temp\\")),
      bytesWritten(0),
      file(INVALID_HANDLE_VALUE) {}

FileMimePart::~FileMimePart() {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

SafeWString FileMimePart::path() const { return directory + fileName; }

bool FileMimePart::setDirectory(const SafeWString& newDirectory) {
  directory = newDirectory;
  if (directory.getStatus() < 0) return false;
  if (!directory.endsWith(SafeWString(TEXT("\\")))) directory += SafeWString(TEXT("\\"));
  return directory.getStatus() >= 0;
}

bool FileMimePart::setFileName(const SafeWString& newFileName) {
  fileName = bareName(newFileName);
  return fileName.getStatus() >= 0 && fileName.getLength() != 0;
}

DWORD FileMimePart::write(DWORD count) {
  if (file == INVALID_HANDLE_VALUE) {
    if (fileName.getLength() == 0 || fileName.getStatus() < 0) return ERROR_INVALID_NAME;
    SafeWString target = path();
    if (target.getStatus() < 0 || target.c_str() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
  }
  if (count == 0) count = buffer.getLength();
  DWORD written = count == 0 ? 0 : buffer.writeToFile(file, 0, count);
  bytesWritten += written;
  buffer.consume(written);
  if (written == count) return 0;
  HRESULT status = buffer.getStatus();
  return status != S_OK ? static_cast<DWORD>(status) : static_cast<DWORD>(ERROR_WRITE_FAULT);
}

bool FileMimePart::deleteFile() {
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (fileName.getLength() == 0) return false;
  SafeWString target = path();
  if (target.c_str() == nullptr || !DeleteFileW(target.c_str())) return false;
  bytesWritten = 0;
  return true;
}

bool FileMimePart::truncate(DWORD length) {
  if (length > bytesWritten) return false;
  bool openedHere = false;
  if (file == INVALID_HANDLE_VALUE) {
    if (fileName.getLength() == 0) return false;
    SafeWString target = path();
    if (target.c_str() == nullptr) return false;
    file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    openedHere = true;
  }
  bool done = SetFilePointer(file, static_cast<LONG>(length), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              SetEndOfFile(file);
  if (done) bytesWritten = length;
  if (openedHere) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return done;
}

SafeCString FileMimePart::dump() {
  SafeCString text = SafeCString("Name:\t\t") + name + SafeCString("\nFileName:\t") + SafeCString(fileName) +
                     SafeCString("\nPath:\t\t") + SafeCString(directory) + SafeCString("\nType:\t\t") +
                     SafeCString(static_cast<int>(contentType)) + SafeCString("\nContents:\t");
  DWORD shown = buffer.getLength() < kDumpShownContents ? buffer.getLength() : kDumpShownContents;
  if (shown != 0) text.append(reinterpret_cast<const char*>(buffer.data()), shown);
  return text;
}

MimePartMap::MimePartMap() : entries(nullptr), used(0), capacity(0), spare(nullptr) {}

MimePartMap::~MimePartMap() {
  clear();
  delete[] entries;
}

DWORD MimePartMap::position(const SafeCString& name, bool* found) const {
  DWORD low = 0;
  DWORD high = used;
  while (low < high) {
    DWORD middle = low + (high - low) / 2;
    if (*entries[middle].key < name) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  *found = low < used && *entries[low].key == name;
  return low;
}

MimePartMap::Entry* MimePartMap::insert(const SafeCString& name) {
  bool found = false;
  DWORD at = position(name, &found);
  if (found) return &entries[at];
  SafeCString* key = new (std::nothrow) SafeCString(name);
  if (key == nullptr) return nullptr;
  if (key->getStatus() < 0) {
    delete key;
    return nullptr;
  }
  if (!makeRoomForOne(entries, used, capacity)) {
    delete key;
    return nullptr;
  }
  for (DWORD k = used; k > at; --k) entries[k] = entries[k - 1];
  entries[at].key = key;
  entries[at].part = nullptr;
  ++used;
  return &entries[at];
}

MimePart*& MimePartMap::operator[](const SafeCString& name) {
  Entry* entry = insert(name);
  if (entry != nullptr) return entry->part;
  spare = nullptr;
  return spare;
}

MimePart* MimePartMap::lookup(const SafeCString& name) const {
  bool found = false;
  DWORD at = position(name, &found);
  return found ? entries[at].part : nullptr;
}

bool MimePartMap::put(MimePart* part) {
  if (part == nullptr) return false;
  Entry* entry = insert(part->name);
  if (entry == nullptr) return false;
  if (entry->part != part) delete entry->part;
  entry->part = part;
  return true;
}

void MimePartMap::clear() {
  for (DWORD k = 0; k < used; ++k) {
    delete entries[k].part;
    delete entries[k].key;
  }
  used = 0;
}

DWORD appendLogText(EXTENSION_CONTROL_BLOCK* ecb, const SafeCString& text, bool echo) {
  static char empty[] = "";
  char* bytes = text.c_str() != nullptr ? const_cast<char*>(text.c_str()) : empty;
  if (echo) NKDbgPrintfW(TEXT("HTTPD log echo: %S\r\n"), bytes);
  DWORD size = text.getLength();
  if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_APPEND_LOG_PARAMETER, bytes, &size, nullptr)) {
    return GetLastError();
  }
  return 0;
}
