// The access log: one line per request, written with a single write() so that
// lines from concurrent request threads never interleave (each line is kept
// under PIPE_BUF bytes). A log file rotates at its size cap (RotatingLog).
//
// Line layout, fields separated by one space:
//   2024-05-01T12:00:00Z 127.0.0.1 GET /querytest.js?a=1&b=2 200 26 0.41ms [module text]
// time (UTC), client address, method, decoded path with the raw query, status,
// body bytes sent ("-" when unknown), time spent in milliseconds ("-" when
// unknown), and whatever the module appended to the request's log entry.
#ifndef QUENTA_HOST_ACCESSLOG_H_
#define QUENTA_HOST_ACCESSLOG_H_

#include <string>

#include <RotatingLog.h>

namespace quenta {

struct AccessLogEntry {
  std::string client;
  std::string method;
  std::string target;       // path, and "?" + query when there is one
  int status = 0;
  long long bytes = -1;     // -1: unknown
  double milliseconds = -1; // negative: unknown
  std::string moduleText;
};

class AccessLog {
 public:
  // Empty path: standard output; "off": no log at all. Otherwise the file is
  // opened for appending.
  bool open(const std::string& path, std::string* error);

  void write(const AccessLogEntry& entry) const;

 private:
  bool off_ = false;
  mutable RotatingLog file_;
};

}  // namespace quenta

#endif  // QUENTA_HOST_ACCESSLOG_H_
