// The module's and the platform's debug lines, kept while a DebugCapture lives.
#ifndef QUENTA_TESTS_SUPPORT_DEBUGCAPTURE_H_
#define QUENTA_TESTS_SUPPORT_DEBUGCAPTURE_H_

#include <QuentaPlatform.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

// Keeps the debug lines while it lives; while keepLines is off (quiet loops,
// leak checks that must count no kept line) it drops them.
class DebugCapture {
 public:
  explicit DebugCapture(bool keepLines = true) : keep(keepLines) { quenta::setDebugSink(&DebugCapture::sink, this); }
  ~DebugCapture() { quenta::setDebugSink(nullptr, nullptr); }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> hold(guard);
    return kept;
  }
  void keepLines(bool on) {
    std::lock_guard<std::mutex> hold(guard);
    keep = on;
  }
  bool contains(const std::string& line) {
    std::vector<std::string> all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

 private:
  static void sink(const char* line, void* context) {
    DebugCapture* self = static_cast<DebugCapture*>(context);
    std::lock_guard<std::mutex> hold(self->guard);
    if (self->keep) self->kept.push_back(line);
  }
  bool keep;
  std::mutex guard;
  std::vector<std::string> kept;
};

#endif  // QUENTA_TESTS_SUPPORT_DEBUGCAPTURE_H_
