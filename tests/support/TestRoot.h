// Test helpers for whole-module tests:
// - TestRoot: a temporary device root laid out like a machine's flash card
//   (the card's web root under MMCMemory/www/wwwpub, an empty Temp folder),
//   removed again at the end of the test.
// - LoadedModule: the built module (libwebquenta.so) loaded with dlopen over a
//   given device root, the way quenta-httpd loads it. Each load uses a private
//   copy of the library file, so its static objects (the error pages read at
//   load) are built afresh for every test.
#ifndef QUENTA_TESTS_SUPPORT_TESTROOT_H_
#define QUENTA_TESTS_SUPPORT_TESTROOT_H_

#include <httpext.h>

#include <string>

// The root's named objects (live status, mailbox) outlive the processes that
// made them, like files; a test's root takes them with it.
void removeNamedObjectsOf(const std::string& root);

class TestRoot {
 public:
  // withCard false: an empty root.
  explicit TestRoot(bool withCard = true);
  ~TestRoot();

  const std::string& path() const { return rootPath; }
  std::string webRoot() const { return rootPath + "/MMCMemory/www/wwwpub"; }
  // Writes (or with remove, deletes) a file relative to the root, making its folders.
  void writeFile(const std::string& relative, const std::string& content, bool executable = false) const;
  void removeFile(const std::string& relative) const;
  std::string readFile(const std::string& relative) const;

  // The card folder of the source tree.
  static std::string cardDir();

 private:
  std::string rootPath;
};

class LoadedModule {
 public:
  // Sets QUENTA_ROOT to root before loading, as the host does.
  explicit LoadedModule(const std::string& root);
  ~LoadedModule();

  bool ok() const { return handle != nullptr && getVersion && proc && terminate; }
  const std::string& error() const { return loadError; }

  PFN_GETEXTENSIONVERSION getVersion = nullptr;
  PFN_HTTPEXTENSIONPROC proc = nullptr;
  PFN_TERMINATEEXTENSION terminate = nullptr;

 private:
  void* handle = nullptr;
  std::string copyPath;
  std::string loadError;
};

#endif  // QUENTA_TESTS_SUPPORT_TESTROOT_H_
