// `clean`: removes the device root's named objects (the live-status block, the
// mailbox and their mutexes). They outlive the processes that made them, like
// files, so a root that is thrown away should be cleaned first.
#include <stdlib.h>

#include <string>

#include <QuentaPlatform.h>

#include "tools/machine/Commands.h"

namespace machine {

namespace {
const char kCleanHelp[] =
    "usage: quenta-machine --root DIR clean\n"
    "\n"
    "Removes the named shared memory and mutexes of the device root (the live\n"
    "status \"DNET_DATA\", the mailbox \"DB_LOG_DATA\" and their mutexes). Run it\n"
    "only when nothing is running on the root: the files under it stay.\n";
}  // namespace

int runClean(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kCleanHelp);
  if (argc > 1) return complain(kExitUsage, "clean takes no arguments (see clean --help)");
  if (context.root.empty()) return complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
  setenv("QUENTA_ROOT", context.root.c_str(), 1);
  std::string error;
  if (!quenta::removeNamedObjects(&error)) return complain(kExitFailure, "cannot clean: " + error);
  return kExitOk;
}

}  // namespace machine
