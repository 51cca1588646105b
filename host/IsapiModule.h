// The loaded ISAPI module: its library handle and its three entry points.
// Loaded once at start, before the server accepts connections, and unloaded
// after the server has stopped; the entry points never change in between, so
// request threads call them without a lock.
#ifndef QUENTA_HOST_ISAPIMODULE_H_
#define QUENTA_HOST_ISAPIMODULE_H_

#include <httpext.h>

#include <string>

namespace quenta {

class IsapiModule {
 public:
  IsapiModule() = default;
  ~IsapiModule();
  IsapiModule(const IsapiModule&) = delete;
  IsapiModule& operator=(const IsapiModule&) = delete;

  // dlopen(RTLD_NOW | RTLD_LOCAL) and dlsym of the three entry points. On
  // failure `error` says which step failed and nothing stays loaded.
  bool load(const std::string& path, std::string* error);

  // Closes the library; the module's static objects are destroyed then. The
  // caller has already called TerminateExtension when GetExtensionVersion had
  // succeeded. Safe to call twice.
  void unload();

  PFN_GETEXTENSIONVERSION getExtensionVersion = nullptr;
  PFN_HTTPEXTENSIONPROC httpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION terminateExtension = nullptr;

 private:
  void* library_ = nullptr;
};

}  // namespace quenta

#endif  // QUENTA_HOST_ISAPIMODULE_H_
