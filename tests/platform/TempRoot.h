// A fresh temporary directory as the device root for one test: created and
// named in QUENTA_ROOT on construction, removed with everything in it after.
#ifndef QUENTA_TESTS_PLATFORM_TEMPROOT_H_
#define QUENTA_TESTS_PLATFORM_TEMPROOT_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <QuentaPlatform.h>

class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/quenta-platform-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
    setenv("QUENTA_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() {
    // Named objects outlive their processes like files; they go with the root.
    quenta::removeNamedObjects(nullptr);
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string host(const std::string& relative) const { return path_ + "/" + relative; }

  void write(const std::string& relative, const std::string& content) const {
    std::ofstream out(host(relative), std::ios::binary);
    out << content;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(host(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& relative) const { return std::filesystem::exists(host(relative)); }

 private:
  std::string path_;
};

#endif  // QUENTA_TESTS_PLATFORM_TEMPROOT_H_
