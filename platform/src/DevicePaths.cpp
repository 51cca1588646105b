// Device paths: "\MMCMemory\www\wwwpub\404.htm" names a file under the device
// root, the directory in QUENTA_ROOT.
#include <cstdlib>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"

namespace quenta {
namespace {

bool isSeparator(char32_t codePoint) { return codePoint == u'\\' || codePoint == u'/'; }

// Characters that no Win32 file name may contain (':' stays allowed: device
// names such as "NDS0:" end in one).
bool isForbidden(char32_t codePoint) {
  return codePoint < 0x20 || codePoint == u'<' || codePoint == u'>' || codePoint == u'"' ||
         codePoint == u'|' || codePoint == u'?' || codePoint == u'*';
}

}  // namespace

std::string deviceRoot() {
  const char* root = std::getenv("QUENTA_ROOT");
  return root == nullptr ? std::string() : std::string(root);
}

DWORD mapDevicePath(LPCWSTR devicePath, std::string* hostPath) {
  if (devicePath == nullptr || hostPath == nullptr) return ERROR_INVALID_PARAMETER;
  std::string result = deviceRoot();
  if (result.empty()) return ERROR_PATH_NOT_FOUND;
  while (result.size() > 1 && result.back() == '/') result.pop_back();

  size_t length = 0;
  while (devicePath[length] != 0) ++length;
  // Every component is checked before anything is returned, so a path that
  // would climb out of the root is refused as a whole.
  std::string component;
  size_t position = 0;
  while (position <= length) {
    char32_t codePoint = 0;
    bool valid = true;
    if (position < length) {
      size_t used = decodeUtf16(devicePath + position, length - position, &codePoint, &valid);
      position += used;
    } else {
      ++position;  // the end closes the last component
    }
    if (!valid) return ERROR_INVALID_NAME;
    if (codePoint == 0 || isSeparator(codePoint)) {
      if (component == "..") return ERROR_ACCESS_DENIED;
      if (!component.empty() && component != ".") {
        if (result != "/") result += '/';
        result += component;
      }
      component.clear();
      continue;
    }
    if (isForbidden(codePoint)) return ERROR_INVALID_NAME;
    char bytes[4];
    component.append(bytes, encodeUtf8(codePoint, bytes));
  }
  *hostPath = std::move(result);
  return ERROR_SUCCESS;
}

bool toHostPath(LPCWSTR devicePath, std::string* hostPath) {
  return mapDevicePath(devicePath, hostPath) == ERROR_SUCCESS;
}

}  // namespace quenta
