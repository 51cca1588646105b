// quenta-machine [--root DIR] GROUP [ARGUMENTS...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QuentaPlatform.h>

#include "tools/machine/Commands.h"

namespace {

struct Group {
  const char* name;
  machine::GroupHandler run;
  const char* help;
};

// The command groups, in the order --help lists them.
const Group kGroups[] = {
    {"init", machine::runInit, "lay out a device root (web root, Temp/, settings database)"},
    {"settings", machine::runSettings, "read and write parameter codes; show the setter journal"},
    {"status", machine::runStatus, "write the live status the module serves; simulate a weld cycle"},
    {"mailbox", machine::runMailbox, "show the system-log mailbox; drain it into the system log"},
    {"clean", machine::runClean, "remove the root's named shared memory and mutexes"},
    {"registry", machine::runRegistry, "export, import, read and write the registry"},
    {"adapters", machine::runAdapters, "list the network adapters as the module sees them"},
    {"clock", machine::runClock, "show and set the device clock and time zone"},
    {"dio", machine::runDio, "a simulated digital I/O module (ADAM-6050, Modbus/TCP)"},
};

void printHelp(FILE* out, const char* program) {
  std::fprintf(out,
               "usage: %s [--root DIR] GROUP [ARGUMENTS...]\n"
               "\n"
               "Stands in for the machine around the web module: lays out device roots and\n"
               "looks after their settings database.\n"
               "\n"
               "options:\n"
               "  --root DIR   the device root (default: $QUENTA_ROOT)\n"
               "  --help       this text; GROUP --help tells about a group\n"
               "\n"
               "groups:\n",
               program);
  for (const Group& group : kGroups) std::fprintf(out, "  %-10s %s\n", group.name, group.help);
  std::fprintf(out, "\nexit codes: 0 done, 1 failed, 2 wrong command line (nothing done)\n");
}

}  // namespace

int main(int argc, char** argv) {
  machine::Context context;
  context.program = "quenta-machine";
  context.root = quenta::deviceRoot();

  int index = 1;
  while (index < argc && argv[index][0] == '-') {
    std::string option = argv[index];
    if (option == "--help" || option == "-h") {
      printHelp(stdout, context.program.c_str());
      return machine::kExitOk;
    }
    if (option == "--root") {
      if (index + 1 >= argc) return machine::complain(machine::kExitUsage, "--root needs a directory");
      context.root = argv[index + 1];
      index += 2;
      continue;
    }
    if (option.compare(0, 7, "--root=") == 0) {
      context.root = option.substr(7);
      ++index;
      continue;
    }
    return machine::complain(machine::kExitUsage, "unknown option " + option + " (see --help)");
  }
  if (index >= argc) {
    printHelp(stderr, context.program.c_str());
    return machine::kExitUsage;
  }
  for (const Group& group : kGroups) {
    if (std::strcmp(group.name, argv[index]) == 0) return group.run(context, argc - index, argv + index);
  }
  return machine::complain(machine::kExitUsage,
                           std::string("unknown command group '") + argv[index] + "' (see --help)");
}
