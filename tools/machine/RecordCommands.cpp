// quenta-machine settings readers/dump/load: every record reader of the
// settings database, for backing up, restoring and preparing a machine.
//
// The members are named as the data files name them (the module's record
// rows, js_vars/RecordValues.cpp); the records are packed and stored by the
// library's own reader table (sqlbridge/RecordReaders.cpp).
#include <QuentaPlatform.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "js_vars/RecordValues.h"
#include "sqlbridge/RecordReaders.h"
#include "tools/machine/Commands.h"

namespace machine {
namespace {

const char* kindName(RecordMemberKind kind) {
  switch (kind) {
    case kMemberWord: return "u16";
    case kMemberFloat: return "u32";
    case kMemberSigned: return "i32";
    case kMemberText: return "text";
    case kMemberWideText: return "wide text";
    case kMemberStamp: return "time";
    case kMemberOne: return "constant 1";
  }
  return "";
}

// The module's row of a reader: its members name the record's fields.
const RecordRow* rowOf(const std::string& reader) {
  for (const RecordRow& row : kRecordRows) {
    if (reader == row.reader.name) return &row;
  }
  return nullptr;
}

unsigned long valueAt(const std::string& record, size_t offset, size_t bytes) {
  unsigned long value = 0;
  for (size_t k = 0; k < bytes; ++k) value |= static_cast<unsigned long>(static_cast<unsigned char>(record[offset + k])) << (8 * k);
  return value;
}
void putValue(std::string* record, size_t offset, size_t bytes, unsigned long value) {
  for (size_t k = 0; k < bytes; ++k) (*record)[offset + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
}

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 0x0F];
  }
  return text;
}

bool unhex(const std::string& text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t k = 0; k < text.size(); k += 2) {
    int value = 0;
    for (size_t j = k; j < k + 2; ++j) {
      char c = text[j];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

// A member of a packed record as JSON.
std::string memberJson(const RecordMember& member, const std::string& record) {
  switch (member.kind) {
    case kMemberWord:
      return std::to_string(valueAt(record, member.offset, 2));
    case kMemberFloat:
      return std::to_string(valueAt(record, member.offset, 4));
    case kMemberSigned:
      return std::to_string(static_cast<int>(static_cast<unsigned>(valueAt(record, member.offset, 4))));
    case kMemberText:
    case kMemberWideText:
      return jsonString(
          quenta::RecordTables::textAt(record, member.offset, member.size, member.kind == kMemberWideText));
    case kMemberStamp: {
      unsigned long w[8];
      for (size_t k = 0; k < 8; ++k) w[k] = valueAt(record, member.offset + 2 * k, 2);
      char text[64];
      std::snprintf(text, sizeof text, "%04lu-%02lu-%02luT%02lu:%02lu:%02lu.%03lu", w[0], w[1], w[3], w[4], w[5], w[6],
                    w[7]);
      return jsonString(text);
    }
    case kMemberOne:
      break;
  }
  return std::string();
}

// One JSON line of `load`: an object of numbers and strings.
struct JsonValue {
  bool isText = false;
  std::string text;
  long long number = 0;
};

class JsonLine {
 public:
  explicit JsonLine(const std::string& line) : s(line), at(0) {}

  bool parse(std::map<std::string, JsonValue>* members) {
    skip();
    if (!eat('{')) return false;
    skip();
    if (eat('}')) return end();
    for (;;) {
      std::string name;
      JsonValue value;
      skip();
      if (!string(&name)) return false;
      skip();
      if (!eat(':')) return false;
      skip();
      if (at < s.size() && s[at] == '"') {
        value.isText = true;
        if (!string(&value.text)) return false;
      } else if (!number(&value.number)) {
        return false;
      }
      if (members->count(name)) return false;
      (*members)[name] = value;
      skip();
      if (eat('}')) return end();
      if (!eat(',')) return false;
    }
  }

 private:
  void skip() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r')) ++at;
  }
  bool eat(char c) {
    if (at < s.size() && s[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool end() {
    skip();
    return at == s.size();
  }
  bool number(long long* out) {
    size_t start = at;
    if (at < s.size() && s[at] == '-') ++at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - start < 18) ++at;
    if (at == start || (at == start + 1 && s[start] == '-')) return false;
    if (at < s.size() && s[at] >= '0' && s[at] <= '9') return false;  // too long to be in range
    *out = std::stoll(s.substr(start, at - start));
    return true;
  }
  bool string(std::string* out) {
    if (!eat('"')) return false;
    std::u16string pending;
    while (at < s.size() && s[at] != '"') {
      char c = s[at++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (at >= s.size()) return false;
      char e = s[at++];
      const char* simple = "\"\\/bfnrt";
      const char* meaning = "\"\\/\b\f\n\r\t";
      const char* found = std::strchr(simple, e);
      if (found != nullptr && e != 0) {
        out->push_back(meaning[found - simple]);
      } else if (e == 'u' && at + 4 <= s.size()) {
        unsigned code = 0;
        if (std::sscanf(s.substr(at, 4).c_str(), "%4x", &code) != 1) return false;
        at += 4;
        std::u16string unit(1, static_cast<char16_t>(code));
        // A surrogate pair is two escapes; join them before converting.
        if (code >= 0xD800 && code < 0xDC00 && s.compare(at, 2, "\\u") == 0 && at + 6 <= s.size()) {
          unsigned low = 0;
          if (std::sscanf(s.substr(at + 2, 4).c_str(), "%4x", &low) == 1 && low >= 0xDC00 && low < 0xE000) {
            unit += static_cast<char16_t>(low);
            at += 6;
          }
        }
        *out += quenta::narrow(unit);
      } else {
        return false;
      }
    }
    return eat('"');
  }

  const std::string& s;
  size_t at;
};

// Named members into a packed record of `stride` bytes, or why not.
bool packMembers(const RecordRow& row, const std::map<std::string, JsonValue>& members, size_t stride,
                 std::string* record, std::string* error) {
  record->assign(stride, '\0');
  for (const auto& entry : members) {
    const RecordMember* member = nullptr;
    for (const RecordMember& m : row.members) {
      if (entry.first == m.name && m.kind != kMemberOne) member = &m;
    }
    if (member == nullptr) {
      *error = "unknown member '" + entry.first + "'";
      return false;
    }
    const JsonValue& value = entry.second;
    const bool wantsText = member->kind == kMemberText || member->kind == kMemberWideText || member->kind == kMemberStamp;
    if (value.isText != wantsText) {
      *error = "member '" + entry.first + "' takes " + (wantsText ? "a string" : "a number");
      return false;
    }
    long long low = 0, high = 65535;
    if (member->kind == kMemberFloat) high = 4294967295LL;
    if (member->kind == kMemberSigned) low = INT_MIN, high = INT_MAX;
    bool fits = true;
    switch (member->kind) {
      case kMemberWord:
      case kMemberFloat:
      case kMemberSigned:
        fits = value.number >= low && value.number <= high;
        if (fits) putValue(record, member->offset, member->kind == kMemberWord ? 2 : 4, static_cast<unsigned long>(value.number));
        break;
      case kMemberText:
        fits = value.text.size() <= member->size && value.text.find('\0') == std::string::npos;
        if (fits) record->replace(member->offset, value.text.size(), value.text);
        break;
      case kMemberWideText: {
        std::u16string wide = quenta::widen(value.text);
        fits = wide.size() * 2 <= member->size;
        for (size_t k = 0; fits && k < wide.size(); ++k) putValue(record, member->offset + 2 * k, 2, wide[k]);
        break;
      }
      case kMemberStamp: {
        unsigned y, mo, d, h, mi, s, ms;
        char tail;
        fits = std::sscanf(value.text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u.%3u%c", &y, &mo, &d, &h, &mi, &s, &ms, &tail) == 7 &&
               mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h < 24 && mi < 60 && s < 60;
        if (fits) {
          // The day of the week is the library's to work out; 0 here.
          const unsigned long words[] = {y, mo, 0, d, h, mi, s, ms};
          for (size_t k = 0; k < 8; ++k) putValue(record, member->offset + 2 * k, 2, words[k]);
        }
        break;
      }
      case kMemberOne:
        break;
    }
    if (!fits) {
      *error = "member '" + entry.first + "' is out of range for its " + kindName(member->kind) + " field";
      return false;
    }
  }
  return true;
}

const char kReadersHelp[] =
    "usage: quenta-machine [--root DIR] settings readers\n"
    "\n"
    "Every record reader, one JSON object a line: its name, the data file that\n"
    "shows it, its key columns (in call order), its record stride and the\n"
    "members the data file shows, with their kind and offset.\n";

const char kDumpHelp[] =
    "usage: quenta-machine [--root DIR] settings dump READER [KEY ...]\n"
    "\n"
    "The records READER answers for the KEYs (as many as it has), one JSON\n"
    "object a line: the members as the data file names them, and \"raw\", the\n"
    "packed record in hex, exactly as the web module receives it.\n";

const char kLoadHelp[] =
    "usage: quenta-machine [--root DIR] settings load READER [KEY ...] < LINES\n"
    "\n"
    "Makes READER answer exactly the records read from standard input, in that\n"
    "order, for the KEYs: one JSON object a line, either {\"raw\": \"<hex>\"} (a\n"
    "whole record; other members beside it are not read, so dump's lines load\n"
    "as they are) or named members (missing ones are zero; times as\n"
    "\"2024-03-07T08:15:00.000\"). One transaction: on any error nothing is\n"
    "written (exit 2 for bad input). Columns of the table that READER does not\n"
    "show are kept for rows already there.\n";

// READER and its keys, from the command line of dump and load.
struct RecordCommandLine {
  const quenta::RecordReader* reader = nullptr;
  const RecordRow* row = nullptr;
  std::vector<long long> keys;
};

bool readerAndKeys(int argc, char** argv, RecordCommandLine* line) {
  const quenta::RecordReader** reader = &line->reader;
  const RecordRow** row = &line->row;
  std::vector<long long>* keys = &line->keys;
  if (argc < 2) {
    complain(kExitUsage, "name a READER (see settings readers)");
    return false;
  }
  *reader = quenta::RecordTables::find(argv[1]);
  *row = rowOf(argv[1]);
  if (*reader == nullptr || *row == nullptr) {
    complain(kExitUsage, std::string("unknown reader '") + argv[1] + "' (see settings readers)");
    return false;
  }
  if (static_cast<size_t>(argc - 2) != (*reader)->keys.size()) {
    complain(kExitUsage, std::string(argv[1]) + " takes " + std::to_string((*reader)->keys.size()) + " key(s), not " +
                             std::to_string(argc - 2));
    return false;
  }
  for (int k = 2; k < argc; ++k) {
    char* end = nullptr;
    long long key = std::strtoll(argv[k], &end, 10);
    if (*argv[k] == 0 || *end != 0 || key < INT_MIN || key > INT_MAX) {
      complain(kExitUsage, std::string("key '") + argv[k] + "' is not a 32-bit number");
      return false;
    }
    keys->push_back(key);
  }
  return true;
}

int readers(const Context&, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kReadersHelp);
  if (argc != 1) return complain(kExitUsage, "settings readers takes no arguments (see --help)");
  for (const RecordRow& row : kRecordRows) {
    const quenta::RecordReader* reader = quenta::RecordTables::find(row.reader.name);
    if (reader == nullptr) continue;
    std::string line = "{\"reader\":" + jsonString(reader->name) + ",\"file\":" + jsonString(row.path) + ",\"keys\":[";
    for (size_t k = 0; k < reader->keys.size(); ++k) line += (k ? "," : "") + jsonString(reader->keys[k]);
    line += "],\"stride\":" + std::to_string(reader->stride) + ",\"fields\":[";
    bool first = true;
    for (const RecordMember& member : row.members) {
      if (member.kind == kMemberOne) continue;
      line += std::string(first ? "" : ",") + "{\"name\":" + jsonString(member.name) + ",\"kind\":" +
              jsonString(kindName(member.kind)) + ",\"offset\":" + std::to_string(member.offset);
      if (member.size != 0) line += ",\"bytes\":" + std::to_string(member.size);
      line += "}";
      first = false;
    }
    std::printf("%s]}\n", line.c_str());
  }
  return kExitOk;
}

int dump(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kDumpHelp);
  RecordCommandLine command;
  if (!readerAndKeys(argc, argv, &command)) return kExitUsage;
  const quenta::RecordReader* reader = command.reader;
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  std::string records;
  if (!quenta::RecordTables::read(store, *reader, command.keys.data(), &records)) {
    return complain(kExitFailure, std::string("cannot read ") + reader->name + ": " + store.lastError());
  }
  for (size_t at = 0; at < records.size(); at += reader->stride) {
    std::string record = records.substr(at, reader->stride);
    std::string line = "{";
    for (const RecordMember& member : command.row->members) {
      if (member.kind == kMemberOne) continue;
      line += jsonString(member.name) + ":" + memberJson(member, record) + ",";
    }
    std::printf("%s\"raw\":\"%s\"}\n", line.c_str(), hex(record).c_str());
  }
  return kExitOk;
}

int load(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kLoadHelp);
  RecordCommandLine command;
  if (!readerAndKeys(argc, argv, &command)) return kExitUsage;
  const quenta::RecordReader* reader = command.reader;
  std::string records;
  std::string line;
  for (int number = 1; std::getline(std::cin, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::map<std::string, JsonValue> members;
    std::string record;
    std::string error;
    if (!JsonLine(line).parse(&members)) {
      error = "not a JSON object of numbers and strings";
    } else if (members.count("raw")) {
      // A line of dump loads as it is: its raw record is what counts.
      if (!members["raw"].isText || !unhex(members["raw"].text, &record)) {
        error = "\"raw\" takes a hex string";
      } else if (record.size() != reader->stride) {
        error = "a raw record of " + std::to_string(record.size()) + " bytes; " + reader->name + " records have " +
                std::to_string(reader->stride);
      }
    } else {
      packMembers(*command.row, members, reader->stride, &record, &error);
    }
    if (!error.empty()) return complain(kExitUsage, "line " + std::to_string(number) + ": " + error + "; nothing written");
    records += record;
  }
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  std::string error;
  if (!quenta::RecordTables::load(store, *reader, command.keys.data(), records, &error)) {
    return complain(kExitFailure, std::string("cannot load ") + reader->name + ": " + error);
  }
  return kExitOk;
}

}  // namespace

const SettingsCommand kRecordCommands[] = {
    {"readers", readers},
    {"dump", dump},
    {"load", load},
};
const size_t kRecordCommandCount = sizeof kRecordCommands / sizeof kRecordCommands[0];

}  // namespace machine
