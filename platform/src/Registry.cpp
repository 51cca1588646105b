// The registry functions over the store (RegistryStore.h). An open key is a
// handle-table entry holding the key's path; each call looks the path up in
// the store as it is at that moment.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <QuentaPlatform.h>
#include <windows.h>

#include "Handles.h"
#include "RegistryStore.h"

namespace quenta {
namespace {

// Win32 limits: 255 characters in one key name, 16383 in a value name.
const size_t kMaxKeyName = 255;
const size_t kMaxValueName = 16383;

struct KeyObject : HandleObject {
  explicit KeyObject(std::u16string keyPath) : HandleObject(HandleType::kRegistryKey), path(std::move(keyPath)) {}
  const std::u16string path;
};

LONG finish(DWORD error) {
  if (error != ERROR_SUCCESS) SetLastError(error);
  return static_cast<LONG>(error);
}

std::u16string textOf(LPCWSTR text) { return text == nullptr ? std::u16string() : std::u16string(text); }

bool hasControlCharacter(const std::u16string& name) {
  for (char16_t unit : name) {
    if (unit < 0x20) return true;
  }
  return false;
}

// The path of an open key (HKEY_LOCAL_MACHINE is the empty path).
DWORD pathOf(HKEY key, std::u16string* path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
    return ERROR_SUCCESS;
  }
  auto object = lookupHandleAs<KeyObject>(reinterpret_cast<HANDLE>(key), HandleType::kRegistryKey);
  if (!object) return ERROR_INVALID_HANDLE;
  *path = object->path;
  return ERROR_SUCCESS;
}

// The path of a subkey of an open key. One leading and one trailing
// backslash are allowed; an empty name inside is not.
DWORD subkeyPath(HKEY key, LPCWSTR subKey, std::u16string* path) {
  DWORD error = pathOf(key, path);
  if (error != ERROR_SUCCESS) return error;
  std::u16string relative = textOf(subKey);
  if (!relative.empty() && relative.front() == u'\\') relative.erase(0, 1);
  if (!relative.empty() && relative.back() == u'\\') relative.pop_back();
  if (relative.empty()) return ERROR_SUCCESS;
  size_t start = 0;
  for (;;) {
    size_t end = relative.find(u'\\', start);
    size_t length = (end == std::u16string::npos ? relative.size() : end) - start;
    if (length == 0 || length > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  if (hasControlCharacter(relative)) return ERROR_INVALID_PARAMETER;
  if (!path->empty()) path->push_back(u'\\');
  *path += relative;
  return ERROR_SUCCESS;
}

DWORD openHandle(const std::u16string& path, PHKEY result) {
  HANDLE handle = registerHandle(std::make_shared<KeyObject>(path));
  if (handle == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of *count characters; on
// success *count is the length without the terminator.
DWORD copyName(const std::u16string& name, LPWSTR buffer, LPDWORD count) {
  if (buffer == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *count) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *count = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The type and data of a value, as RegQueryValueExW and RegEnumValueW give them.
DWORD copyValue(const RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(value.data.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && needed != 0) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// The key an open handle names, in the store as it is now. *tree keeps the
// snapshot that *key lies in.
DWORD readKey(HKEY handle, std::shared_ptr<const RegistryTree>* tree, const RegistryKey** key) {
  std::u16string path;
  DWORD error = pathOf(handle, &path);
  if (error != ERROR_SUCCESS) return error;
  *tree = currentRegistry();
  *key = (*tree)->find(path);
  return *key == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

template <typename Body>
DWORD guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

bool exportRegistry(std::string* text, std::string* error) {
  if (deviceRoot().empty()) {
    if (error != nullptr) *error = "no device root";
    return false;
  }
  *text = formatRegText(*currentRegistry());
  return true;
}

bool importRegistry(const std::string& text, std::string* error) {
  std::string reason;
  DWORD result = updateRegistry([&](RegistryTree* tree, bool* changed) -> DWORD {
    if (!parseRegText(text, tree, &reason)) return ERROR_INVALID_DATA;
    *changed = true;
    return ERROR_SUCCESS;
  });
  if (result != ERROR_SUCCESS && reason.empty()) reason = "the store cannot be written (error " + std::to_string(result) + ")";
  if (result != ERROR_SUCCESS && error != nullptr) *error = reason;
  return result == ERROR_SUCCESS;
}

}  // namespace quenta

using quenta::RegistryTree;
using quenta::RegistryValue;

extern "C" {

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string path;
    DWORD error = quenta::subkeyPath(hKey, lpSubKey, &path);
    if (error != ERROR_SUCCESS) return error;
    auto tree = quenta::currentRegistry();
    const quenta::RegistryKey* key = tree->find(path);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    return quenta::openHandle(key->path, phkResult);
  }));
}

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string path;
    DWORD error = quenta::subkeyPath(hKey, lpSubKey, &path);
    if (error != ERROR_SUCCESS) return error;
    std::u16string stored;
    bool created = false;
    error = quenta::updateRegistry([&](RegistryTree* tree, bool* changed) -> DWORD {
      stored = tree->ensure(path, &created).path;
      *changed = created;
      return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) return error;
    if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return quenta::openHandle(stored, phkResult);
  }));
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    std::shared_ptr<const RegistryTree> tree;
    const quenta::RegistryKey* key = nullptr;
    DWORD error = quenta::readKey(hKey, &tree, &key);
    if (error != ERROR_SUCCESS) return error;
    const RegistryValue* value = RegistryTree::findValue(*key, quenta::textOf(lpValueName));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    return quenta::copyValue(*value, lpType, lpData, lpcbData);
  }));
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
    RegistryValue value{quenta::textOf(lpValueName), dwType, {}};
    if (value.name.size() > quenta::kMaxValueName || quenta::hasControlCharacter(value.name)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (cbData != 0) value.data.assign(lpData, lpData + cbData);
    std::u16string path;
    DWORD error = quenta::pathOf(hKey, &path);
    if (error != ERROR_SUCCESS) return error;
    return quenta::updateRegistry([&](RegistryTree* tree, bool* changed) -> DWORD {
      quenta::RegistryKey* key = tree->find(path);
      if (key == nullptr) return ERROR_KEY_DELETED;
      RegistryTree::setValue(key, std::move(value));
      *changed = true;
      return ERROR_SUCCESS;
    });
  }));
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    std::shared_ptr<const RegistryTree> tree;
    const quenta::RegistryKey* key = nullptr;
    DWORD error = quenta::readKey(hKey, &tree, &key);
    if (error != ERROR_SUCCESS) return error;
    std::vector<std::u16string> names = tree->children(key->path);
    if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
    error = quenta::copyName(names[dwIndex], lpName, lpcchName);
    if (error == ERROR_SUCCESS && lpClass != nullptr && lpcchClass != nullptr) {
      error = quenta::copyName(std::u16string(), lpClass, lpcchClass);
    }
    return error;
  }));
}

LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return quenta::finish(quenta::guarded([&]() -> DWORD {
    std::shared_ptr<const RegistryTree> tree;
    const quenta::RegistryKey* key = nullptr;
    DWORD error = quenta::readKey(hKey, &tree, &key);
    if (error != ERROR_SUCCESS) return error;
    if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegistryValue& value = key->values[dwIndex];
    error = quenta::copyName(value.name, lpValueName, lpcchValueName);
    if (error != ERROR_SUCCESS) return error;
    return quenta::copyValue(value, lpType, lpData, lpcbData);
  }));
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (!quenta::lookupHandle(reinterpret_cast<HANDLE>(hKey), quenta::HandleType::kRegistryKey)) {
    return quenta::finish(ERROR_INVALID_HANDLE);
  }
  return quenta::closeHandle(reinterpret_cast<HANDLE>(hKey)) ? ERROR_SUCCESS : quenta::finish(GetLastError());
}

}  // extern "C"
