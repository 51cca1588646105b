#include <sys/stat.h>

#include <cstdio>

#include "tools/machine/Commands.h"

namespace machine {

int complain(int code, const std::string& message) {
  std::fprintf(stderr, "quenta-machine: %s\n", message.c_str());
  return code;
}

int showHelp(const char* text) {
  std::fputs(text, stdout);
  return kExitOk;
}

bool wantsHelp(int argc, char** argv) {
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty()) return false;
  unsigned long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    unsigned long digit = static_cast<unsigned long>(c - '0');
    // Saturates: a number of any length is still a number, just too large.
    result = result > (~0UL - digit) / 10 ? ~0UL : result * 10 + digit;
  }
  if (result > max) return false;
  *value = result;
  return true;
}

bool parsePCode(const std::string& text, WORD* code) {
  unsigned long number = 0;
  if (!parseNumber(text, ~0UL, &number)) {
    complain(kExitUsage, "parameter code '" + text + "' is not a decimal number");
    return false;
  }
  if (number == 0 || number > 65535) {
    complain(kExitUsage, "parameter code " + text + " is out of range: a code is a number from 1 to 65535");
    return false;
  }
  *code = static_cast<WORD>(number);
  return true;
}

bool parseWordValue(const std::string& text, WORD* value) {
  unsigned long number = 0;
  if (!parseNumber(text, ~0UL, &number)) {
    complain(kExitUsage, "value '" + text + "' is not a decimal number");
    return false;
  }
  if (number > 65535) {
    complain(kExitUsage, "value " + text + " does not fit 16 bits: a value is a number from 0 to 65535");
    return false;
  }
  *value = static_cast<WORD>(number);
  return true;
}

int openSettings(const Context& context, quenta::SettingsStore* store, bool create) {
  if (context.root.empty()) return complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
  std::string path = quenta::SettingsStore::databasePath(context.root);
  struct stat info;
  if (!create && stat(path.c_str(), &info) != 0) {
    return complain(kExitFailure, "no settings database at " + path + " (\"quenta-machine --root " +
                                      context.root + " init\" creates it)");
  }
  if (!store->open(path, create)) {
    return complain(kExitFailure, "cannot open " + path + ": " + store->lastError());
  }
  return kExitOk;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace machine
