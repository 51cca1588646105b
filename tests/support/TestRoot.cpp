#include "tests/support/TestRoot.h"

#include <QuentaPlatform.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string makeTempDir(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  char* made = mkdtemp(&pattern[0]);
  return made ? std::string(made) : std::string();
}
}  // namespace

std::string TestRoot::cardDir() { return QUENTA_SOURCE_DIR "/card"; }

TestRoot::TestRoot(bool withCard) : rootPath(makeTempDir("quenta-root-")) {
  if (rootPath.empty()) return;
  std::error_code ignored;
  if (withCard) {
    fs::create_directories(webRoot(), ignored);
    fs::copy(cardDir(), webRoot(), fs::copy_options::recursive | fs::copy_options::overwrite_existing,
             ignored);
    fs::create_directories(rootPath + "/Temp", ignored);
  }
}

void removeNamedObjectsOf(const std::string& root) {
  const char* current = getenv("QUENTA_ROOT");
  std::string saved = current ? current : "";
  setenv("QUENTA_ROOT", root.c_str(), 1);
  quenta::removeNamedObjects(nullptr);
  if (current) {
    setenv("QUENTA_ROOT", saved.c_str(), 1);
  } else {
    unsetenv("QUENTA_ROOT");
  }
}

TestRoot::~TestRoot() {
  if (!rootPath.empty()) removeNamedObjectsOf(rootPath);
  std::error_code ignored;
  if (!rootPath.empty()) fs::remove_all(rootPath, ignored);
}

void TestRoot::writeFile(const std::string& relative, const std::string& content, bool executable) const {
  fs::path target = fs::path(rootPath) / relative;
  std::error_code ignored;
  fs::create_directories(target.parent_path(), ignored);
  std::ofstream(target, std::ios::binary) << content;
  if (executable) {
    fs::permissions(target, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, ignored);
  }
}

void TestRoot::removeFile(const std::string& relative) const {
  std::error_code ignored;
  fs::remove(fs::path(rootPath) / relative, ignored);
}

std::string TestRoot::readFile(const std::string& relative) const {
  std::ifstream in(fs::path(rootPath) / relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

LoadedModule::LoadedModule(const std::string& root) {
  static std::atomic<int> serial{0};
  setenv("QUENTA_ROOT", root.c_str(), 1);
  std::string source = QUENTA_BINARY_DIR "/lib/libwebquenta.so";
  copyPath = (fs::temp_directory_path() /
              ("libwebquenta-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".so"))
                 .string();
  std::error_code copyError;
  fs::copy_file(source, copyPath, fs::copy_options::overwrite_existing, copyError);
  if (copyError) {
    loadError = "cannot copy " + source + ": " + copyError.message();
    return;
  }
  handle = dlopen(copyPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loadError = dlerror();
    return;
  }
  getVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(handle, "GetExtensionVersion"));
  proc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(dlsym(handle, "HttpExtensionProc"));
  terminate = reinterpret_cast<PFN_TERMINATEEXTENSION>(dlsym(handle, "TerminateExtension"));
}

LoadedModule::~LoadedModule() {
  if (handle != nullptr) dlclose(handle);
  std::error_code ignored;
  if (!copyPath.empty()) fs::remove(copyPath, ignored);
}
