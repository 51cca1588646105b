// The registry's contents and its file. A RegistryTree is the whole of
// HKEY_LOCAL_MACHINE in memory; the store keeps it as .reg text in
// "<root>/registry.reg". Readers take the current tree, parsed once per version
// of the file; writers change a copy under an flock on "<root>/registry.lock"
// and replace the file with rename, so a reader sees the old or the new file,
// never a mix.
#ifndef QUENTA_PLATFORM_SRC_REGISTRYSTORE_H_
#define QUENTA_PLATFORM_SRC_REGISTRYSTORE_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace quenta {

struct RegistryValue {
  std::u16string name;  // as first written; "" is the default value
  DWORD type;
  std::vector<BYTE> data;
};

struct RegistryKey {
  std::u16string path;  // below HKEY_LOCAL_MACHINE, components joined by '\'; "" is the hive
  std::vector<RegistryValue> values;  // in the order they were made
};

// Names compared as the registry compares them: ASCII and Latin-1 letters
// without regard to case.
std::u16string foldRegistryName(const std::u16string& name);

class RegistryTree {
 public:
  RegistryTree();
  const RegistryKey* find(const std::u16string& path) const;
  RegistryKey* find(const std::u16string& path);
  // The key, made with every missing key above it. *created (may be null)
  // tells whether it was missing.
  RegistryKey& ensure(const std::u16string& path, bool* created);
  // The paths of the direct subkeys, in the order of their folded names.
  std::vector<std::u16string> children(const std::u16string& path) const;
  const std::map<std::u16string, RegistryKey>& keys() const { return byOrder; }

  static const RegistryValue* findValue(const RegistryKey& key, const std::u16string& name);
  static void setValue(RegistryKey* key, RegistryValue value);

 private:
  // Keyed by the folded path with '\' as the lowest character, so the map's
  // order walks the tree: a key, then its subtree, then its next sibling.
  std::map<std::u16string, RegistryKey> byOrder;
};

// .reg text: "Windows Registry Editor Version 5.00" (or REGEDIT4) files in
// UTF-8 or UTF-16LE with a byte-order mark, keys of HKEY_LOCAL_MACHINE only.
// parseRegText merges the text into *tree; on failure *error says which line
// and why, and *tree is partly merged (parse into a copy to keep it whole).
bool parseRegText(const std::string& text, RegistryTree* tree, std::string* error);
// Every key in tree order, values in their order: strings that can be written
// as text are, every other value is written as hex with its exact bytes.
std::string formatRegText(const RegistryTree& tree);

// The current contents of the store (an empty tree when there is none or no
// root). A store that cannot be parsed is reported on the debug output once
// and read as empty.
std::shared_ptr<const RegistryTree> currentRegistry();

// Changes the store: runs change on a copy of the current tree under the
// store's lock and, when it returns ERROR_SUCCESS with *changed set, writes
// the copy. Returns change's error or the error of writing. A store that
// cannot be parsed is moved aside to "registry.reg.bad" before the new one is
// written.
DWORD updateRegistry(const std::function<DWORD(RegistryTree* tree, bool* changed)>& change);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_REGISTRYSTORE_H_
