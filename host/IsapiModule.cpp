#include "host/IsapiModule.h"

#include <dlfcn.h>

namespace quenta {

IsapiModule::~IsapiModule() { unload(); }

bool IsapiModule::load(const std::string& path, std::string* error) {
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load module " + path + ": " + (reason != nullptr ? reason : "unknown error");
    return false;
  }
  const char* names[] = {"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"};
  void* symbols[3];
  for (int i = 0; i < 3; ++i) {
    symbols[i] = dlsym(library_, names[i]);
    if (symbols[i] == nullptr) {
      *error = "module " + path + " does not export " + names[i];
      dlclose(library_);
      library_ = nullptr;
      return false;
    }
  }
  getExtensionVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(symbols[0]);
  httpExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(symbols[1]);
  terminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(symbols[2]);
  return true;
}

void IsapiModule::unload() {
  if (library_ == nullptr) return;
  dlclose(library_);
  library_ = nullptr;
  getExtensionVersion = nullptr;
  httpExtensionProc = nullptr;
  terminateExtension = nullptr;
}

}  // namespace quenta
