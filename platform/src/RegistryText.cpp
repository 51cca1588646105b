// The registry tree in memory and its .reg text.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"
#include "RegistryStore.h"

namespace quenta {
namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";
const char kHive[] = "HKEY_LOCAL_MACHINE";
// Hex data lines are wrapped before this many characters, as regedit does.
const size_t kHexLineWidth = 77;

std::u16string orderKey(const std::u16string& path) {
  std::u16string key = foldRegistryName(path);
  for (char16_t& unit : key) {
    if (unit == u'\\') unit = 1;
  }
  return key;
}

std::u16string parentOf(const std::u16string& path) {
  size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// ---- Writing ---------------------------------------------------------------

void appendQuoted(const std::u16string& text, std::string* out) {
  *out += '"';
  for (char c : narrow(text)) {
    if (c == '"' || c == '\\') *out += '\\';
    *out += c;
  }
  *out += '"';
}

// A REG_SZ whose bytes are exactly a text and its terminator can be written
// as "text"; anything else (no terminator, a zero inside, a broken surrogate,
// a line break) keeps its bytes only as hex(1).
bool asPlainText(const RegistryValue& value, std::u16string* text) {
  const std::vector<BYTE>& data = value.data;
  if (value.type != REG_SZ || data.size() < 2 || data.size() % 2 != 0) return false;
  size_t units = data.size() / 2 - 1;
  text->resize(units);
  std::memcpy(&(*text)[0], data.data(), units * 2);
  if (data[units * 2] != 0 || data[units * 2 + 1] != 0) return false;
  for (size_t i = 0; i < units;) {
    char32_t codePoint;
    bool valid = true;
    i += decodeUtf16(text->data() + i, units - i, &codePoint, &valid);
    if (!valid || codePoint < 0x20) return false;
  }
  return true;
}

void appendValue(const RegistryValue& value, std::string* out) {
  if (value.name.empty()) {
    *out += '@';
  } else {
    appendQuoted(value.name, out);
  }
  *out += '=';
  std::u16string text;
  char number[16];
  if (asPlainText(value, &text)) {
    appendQuoted(text, out);
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD word = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                 static_cast<DWORD>(value.data[2]) << 16 | static_cast<DWORD>(value.data[3]) << 24;
    std::snprintf(number, sizeof number, "dword:%08x", static_cast<unsigned>(word));
    *out += number;
  } else {
    if (value.type == REG_BINARY) {
      *out += "hex:";
    } else {
      std::snprintf(number, sizeof number, "hex(%x):", static_cast<unsigned>(value.type));
      *out += number;
    }
    size_t lineStart = out->rfind('\n') + 1;
    for (size_t i = 0; i < value.data.size(); ++i) {
      if (out->size() - lineStart + 3 > kHexLineWidth) {
        *out += "\\\n  ";
        lineStart = out->size() - 2;
      }
      std::snprintf(number, sizeof number, i + 1 < value.data.size() ? "%02x," : "%02x", value.data[i]);
      *out += number;
    }
  }
  *out += '\n';
}

// ---- Reading ---------------------------------------------------------------

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly count hex digits at text[at..]; false if any is not one.
bool hexNumber(const std::string& text, size_t at, size_t count, DWORD* number) {
  if (at + count > text.size()) return false;
  *number = 0;
  for (size_t i = at; i < at + count; ++i) {
    int digit = hexDigit(text[i]);
    if (digit < 0) return false;
    *number = *number << 4 | static_cast<DWORD>(digit);
  }
  return true;
}

struct Parser {
  std::vector<std::string> lines;
  size_t index = 0;  // the line being read
  bool unicode = true;
  RegistryTree* tree = nullptr;
  RegistryKey* key = nullptr;
  std::string* error = nullptr;

  bool fail(const std::string& why) {
    *error = "line " + std::to_string(index + 1) + ": " + why;
    return false;
  }

  // A quoted text with \\ and \" escapes, from *at to its closing quote.
  bool quoted(const std::string& line, size_t* at, std::u16string* text) {
    std::string bytes;
    size_t i = *at + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      bytes += line[i];
    }
    if (i >= line.size()) return fail("a quoted text has no closing quote");
    *at = i + 1;
    *text = widen(bytes);
    return true;
  }

  // Hex bytes "xx,xx,..." with "\" line continuations.
  bool hexBytes(std::string data, std::vector<BYTE>* bytes) {
    std::string all;
    for (;;) {
      while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.pop_back();
      if (data.empty() || data.back() != '\\') break;
      data.pop_back();
      all += data;
      if (++index >= lines.size()) return fail("hex data continues past the end");
      data = lines[index];
      data.erase(0, data.find_first_not_of(" \t"));
    }
    all += data;
    size_t i = 0;
    while (i < all.size()) {
      while (i < all.size() && (all[i] == ' ' || all[i] == '\t')) ++i;
      if (i == all.size()) break;
      DWORD byte;
      if (!hexNumber(all, i, 2, &byte)) return fail("bad hex data");
      bytes->push_back(static_cast<BYTE>(byte));
      i += 2;
      while (i < all.size() && (all[i] == ' ' || all[i] == '\t')) ++i;
      if (i < all.size() && all[i++] != ',') return fail("bad hex data");
    }
    return true;
  }

  bool section(const std::string& line) {
    if (line.back() != ']') return fail("a key line must end in ]");
    std::string name = line.substr(1, line.size() - 2);
    if (!name.empty() && name[0] == '-') return fail("deleting keys is not supported");
    size_t hiveLength = sizeof kHive - 1;
    if (name.size() < hiveLength || strncasecmp(name.c_str(), kHive, hiveLength) != 0 ||
        (name.size() > hiveLength && name[hiveLength] != '\\')) {
      return fail("only keys of HKEY_LOCAL_MACHINE are kept");
    }
    std::u16string path = widen(name.substr(name.size() > hiveLength ? hiveLength + 1 : hiveLength));
    if (!path.empty() && (path.front() == u'\\' || path.back() == u'\\' || path.find(u"\\\\") != path.npos)) {
      return fail("a key path has an empty name in it");
    }
    key = &tree->ensure(path, nullptr);
    return true;
  }

  bool value(const std::string& line) {
    if (key == nullptr) return fail("a value before the first key");
    RegistryValue value;
    value.type = REG_SZ;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!quoted(line, &at, &value.name)) {
      return false;
    }
    if (at >= line.size() || line[at] != '=') return fail("a value name must be followed by =");
    std::string data = line.substr(at + 1);
    if (data == "-") return fail("deleting values is not supported");
    if (!data.empty() && data[0] == '"') {
      std::u16string text;
      size_t end = 0;
      if (!quoted(data, &end, &text)) return false;
      if (end != data.size()) return fail("text after the closing quote");
      text.push_back(0);
      value.data.resize(text.size() * 2);
      std::memcpy(value.data.data(), text.data(), value.data.size());
    } else if (data.compare(0, 6, "dword:") == 0) {
      DWORD word;
      if (data.size() != 14 || !hexNumber(data, 6, 8, &word)) return fail("dword: needs 8 hex digits");
      value.type = REG_DWORD;
      for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<BYTE>(word >> shift));
    } else if (data.compare(0, 4, "hex:") == 0 || data.compare(0, 4, "hex(") == 0) {
      size_t colon = data.find(':');
      value.type = REG_BINARY;
      if (data[3] == '(') {
        size_t close = data.find("):");
        if (close == std::string::npos || close < 5 || close > 12 || !hexNumber(data, 4, close - 4, &value.type)) {
          return fail("bad hex(type)");
        }
        colon = close + 1;
      }
      if (!hexBytes(data.substr(colon + 1), &value.data)) return false;
      // REGEDIT4 files hold expandable and multiple texts as 8-bit bytes.
      if (!unicode && (value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ)) {
        std::u16string wide = widen(std::string(value.data.begin(), value.data.end()));
        value.data.resize(wide.size() * 2);
        std::memcpy(value.data.data(), wide.data(), value.data.size());
      }
    } else {
      return fail("unknown value data");
    }
    RegistryTree::setValue(key, std::move(value));
    return true;
  }

  bool run() {
    bool headerSeen = false;
    for (; index < lines.size(); ++index) {
      std::string line = lines[index];
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
      line.erase(0, line.find_first_not_of(" \t"));
      if (line.empty() || line[0] == ';') continue;
      if (!headerSeen) {
        if (line != kHeader5 && line != kHeader4) return fail("not a registry file (no REGEDIT header)");
        unicode = line == kHeader5;
        headerSeen = true;
      } else if (line[0] == '[') {
        if (!section(line)) return false;
      } else if (!value(line)) {
        return false;
      }
    }
    if (!headerSeen) return fail("not a registry file (no REGEDIT header)");
    return true;
  }
};

// Regedit writes UTF-16LE with a byte-order mark; this store writes UTF-8.
std::string toUtf8(const std::string& text) {
  if (text.size() >= 2 && static_cast<BYTE>(text[0]) == 0xFF && static_cast<BYTE>(text[1]) == 0xFE) {
    std::u16string wide((text.size() - 2) / 2, u'\0');
    std::memcpy(&wide[0], text.data() + 2, wide.size() * 2);
    return narrow(wide);
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
  return text;
}

}  // namespace

std::u16string foldRegistryName(const std::u16string& name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) {
    if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) unit -= 0x20;
  }
  return folded;
}

RegistryTree::RegistryTree() { byOrder[std::u16string()] = RegistryKey{}; }

const RegistryKey* RegistryTree::find(const std::u16string& path) const {
  auto found = byOrder.find(orderKey(path));
  return found == byOrder.end() ? nullptr : &found->second;
}

RegistryKey* RegistryTree::find(const std::u16string& path) {
  auto found = byOrder.find(orderKey(path));
  return found == byOrder.end() ? nullptr : &found->second;
}

RegistryKey& RegistryTree::ensure(const std::u16string& path, bool* created) {
  if (created != nullptr) *created = false;
  RegistryKey* existing = find(path);
  if (existing != nullptr) return *existing;
  if (created != nullptr) *created = true;
  ensure(parentOf(path), nullptr);
  RegistryKey& key = byOrder[orderKey(path)];
  key.path = path;
  return key;
}

std::vector<std::u16string> RegistryTree::children(const std::u16string& path) const {
  std::vector<std::u16string> names;
  std::u16string prefix = orderKey(path);
  if (!prefix.empty()) prefix.push_back(1);
  for (auto it = byOrder.lower_bound(prefix); it != byOrder.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->first.size() > prefix.size() && it->first.find(char16_t(1), prefix.size()) == std::u16string::npos) {
      names.push_back(it->second.path.substr(path.empty() ? 0 : path.size() + 1));
    }
  }
  return names;
}

const RegistryValue* RegistryTree::findValue(const RegistryKey& key, const std::u16string& name) {
  std::u16string folded = foldRegistryName(name);
  for (const RegistryValue& value : key.values) {
    if (foldRegistryName(value.name) == folded) return &value;
  }
  return nullptr;
}

void RegistryTree::setValue(RegistryKey* key, RegistryValue value) {
  RegistryValue* existing = const_cast<RegistryValue*>(findValue(*key, value.name));
  if (existing == nullptr) {
    key->values.push_back(std::move(value));
  } else {
    existing->type = value.type;
    existing->data = std::move(value.data);
  }
}

bool parseRegText(const std::string& text, RegistryTree* tree, std::string* error) {
  Parser parser;
  parser.tree = tree;
  parser.error = error;
  std::string utf8 = toUtf8(text);
  size_t start = 0;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    std::string line = utf8.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    parser.lines.push_back(std::move(line));
    start = end + 1;
  }
  return parser.run();
}

std::string formatRegText(const RegistryTree& tree) {
  std::string out = std::string(kHeader5) + "\n";
  for (const auto& entry : tree.keys()) {
    const RegistryKey& key = entry.second;
    // The hive's own section only when it holds values.
    if (key.path.empty() && key.values.empty()) continue;
    out += "\n[";
    out += kHive;
    if (!key.path.empty()) out += "\\" + narrow(key.path);
    out += "]\n";
    for (const RegistryValue& value : key.values) appendValue(value, &out);
  }
  return out;
}

}  // namespace quenta
