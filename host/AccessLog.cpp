#include "host/AccessLog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace quenta {
namespace {

// Longest module text kept in a line; the rest is cut.
const size_t kMaxModuleText = 1024;
// Lines stay below PIPE_BUF so that a write to a pipe is never split.
const size_t kMaxLine = 4000;

// Spaces, control bytes and bytes above ASCII are written as %XX so that the
// target stays one field.
void appendTarget(std::string* line, const std::string& target) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : target) {
    if (c <= 0x20 || c >= 0x7f) {
      line->push_back('%');
      line->push_back(kHex[c >> 4]);
      line->push_back(kHex[c & 15]);
    } else {
      line->push_back(static_cast<char>(c));
    }
  }
}

}  // namespace

bool AccessLog::open(const std::string& path, std::string* error) {
  off_ = path == "off";
  if (off_ || file_.open(path, error)) return true;
  *error = "access log: " + *error;
  return false;
}

void AccessLog::write(const AccessLogEntry& entry) const {
  if (off_) return;
  char stamp[32];
  time_t now = time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", &utc);

  std::string line;
  line.reserve(256);
  line += stamp;
  line += ' ';
  line += entry.client.empty() ? "-" : entry.client;
  line += ' ';
  appendTarget(&line, entry.method.empty() ? std::string("-") : entry.method);
  line += ' ';
  appendTarget(&line, entry.target.empty() ? std::string("-") : entry.target);

  char numbers[96];
  char bytes[24] = "-";
  char milliseconds[32] = "-";
  if (entry.bytes >= 0) snprintf(bytes, sizeof(bytes), "%lld", entry.bytes);
  if (entry.milliseconds >= 0) snprintf(milliseconds, sizeof(milliseconds), "%.2fms", entry.milliseconds);
  snprintf(numbers, sizeof(numbers), " %d %s %s", entry.status, bytes, milliseconds);
  line += numbers;

  if (!entry.moduleText.empty()) {
    line += ' ';
    size_t kept = entry.moduleText.size() < kMaxModuleText ? entry.moduleText.size() : kMaxModuleText;
    for (size_t i = 0; i < kept; ++i) {
      unsigned char c = static_cast<unsigned char>(entry.moduleText[i]);
      line.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
    }
  }
  if (line.size() > kMaxLine) line.resize(kMaxLine);
  line += '\n';

  file_.write(line.data(), line.size());
}

}  // namespace quenta
