// quenta-machine: the command groups and what they share.
//
// main.cpp reads the global options (--root DIR) and hands the rest of the
// command line to the handler of the named group, found in its fixed table.
// A group lives in its own file (InitCommand.cpp, SettingsCommands.cpp, ...);
// adding a group means declaring its handler here, writing its file, and
// filling its row in the table of main.cpp.
#ifndef QUENTA_TOOLS_MACHINE_COMMANDS_H_
#define QUENTA_TOOLS_MACHINE_COMMANDS_H_

#include <cstddef>
#include <string>

#include "sqlbridge/SettingsStore.h"

namespace machine {

// Exit codes of every command.
const int kExitOk = 0;
const int kExitFailure = 1;  // the command could not be carried out
const int kExitUsage = 2;    // the command line was wrong: nothing was done

struct Context {
  std::string program;  // as the user typed it, for messages
  std::string root;     // --root DIR, else $QUENTA_ROOT; empty when neither
};

// A group's handler: argv[0] is the group's name, the rest its arguments.
typedef int (*GroupHandler)(const Context& context, int argc, char** argv);

int runInit(const Context& context, int argc, char** argv);      // InitCommand.cpp
int runSettings(const Context& context, int argc, char** argv);  // SettingsCommands.cpp
// Groups written separately; their rows in main.cpp are filled with them.
int runStatus(const Context& context, int argc, char** argv);    // StatusCommands.cpp
int runMailbox(const Context& context, int argc, char** argv);   // MailboxCommands.cpp
int runClean(const Context& context, int argc, char** argv);     // CleanCommand.cpp
int runDio(const Context& context, int argc, char** argv);       // DioCommands.cpp
int runClock(const Context& context, int argc, char** argv);     // ClockCommands.cpp

// A command of the settings group; the record commands (readers, dump, load)
// live in RecordCommands.cpp.
struct SettingsCommand {
  const char* name;
  int (*run)(const Context& context, int argc, char** argv);
};
extern const SettingsCommand kRecordCommands[];
extern const size_t kRecordCommandCount;

// ---- Helpers shared by the groups (CommandSupport.cpp) ----

// "quenta-machine: <message>" on stderr; returns code.
int complain(int code, const std::string& message);
// Prints a command's help on stdout; returns kExitOk.
int showHelp(const char* text);
// True when any argument is --help or -h.
bool wantsHelp(int argc, char** argv);
// A plain decimal number (no sign, no spaces) no larger than max.
bool parseNumber(const std::string& text, unsigned long max, unsigned long* value);
// A parameter code (1 to 65535) and a 16-bit value (0 to 65535); on bad input
// a clear message is printed and false returned (exit with kExitUsage).
bool parsePCode(const std::string& text, WORD* code);
bool parseWordValue(const std::string& text, WORD* value);
// Opens <root>/settings.db (which must exist unless create). Returns kExitOk,
// or the exit code after printing why it cannot (no root: kExitUsage).
int openSettings(const Context& context, quenta::SettingsStore* store, bool create);
// Fills "Time Zones" of the root's registry from CLDR's Windows zone names and
// tzdata's rules (TimeZoneInstall.cpp); the current zone, when none is set
// yet, becomes `defaultZone`. Returns kExitOk or the exit code after saying why.
int installTimeZones(const Context& context, const char* defaultZone);
// Text as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace machine

#endif  // QUENTA_TOOLS_MACHINE_COMMANDS_H_
