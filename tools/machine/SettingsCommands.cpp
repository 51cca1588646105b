// quenta-machine settings: parameter codes, the setter journal and the records.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/machine/Commands.h"

namespace machine {
namespace {

const char kSettingsHelp[] =
    "usage: quenta-machine [--root DIR] settings COMMAND [ARGUMENTS]\n"
    "\n"
    "The settings database of the device root, DIR/settings.db.\n"
    "\n"
    "commands:\n"
    "  get-pcode CODE         print the value of a parameter code\n"
    "  set-pcode CODE VALUE   store a value (the code's row is made if missing)\n"
    "  list-pcodes            every stored code and value, one \"CODE VALUE\" a line\n"
    "  journal                the web module's setter calls, one JSON object a line,\n"
    "                         oldest first\n"
    "  readers                every record reader: keys, stride, fields (JSON lines)\n"
    "  dump READER [KEY ...]  the records a reader answers, JSON lines with \"raw\"\n"
    "  load READER [KEY ...]  make a reader answer the JSON lines on standard input\n"
    "\n"
    "CODE is 1 to 65535, VALUE 0 to 65535. COMMAND --help tells more.\n";

const char kGetHelp[] =
    "usage: quenta-machine [--root DIR] settings get-pcode CODE\n"
    "\n"
    "Prints the 16-bit value stored for parameter CODE (1 to 65535), as a decimal.\n"
    "Exit code 1 when the code is not stored or the database cannot be read.\n";

const char kSetHelp[] =
    "usage: quenta-machine [--root DIR] settings set-pcode CODE VALUE\n"
    "\n"
    "Stores VALUE (0 to 65535) for parameter CODE (1 to 65535), adding the code\n"
    "when it is not stored yet. The web module sees it on its next read.\n";

const char kListHelp[] =
    "usage: quenta-machine [--root DIR] settings list-pcodes\n"
    "\n"
    "Prints every stored parameter code with its value, \"CODE VALUE\", by code.\n";

const char kJournalHelp[] =
    "usage: quenta-machine [--root DIR] settings journal\n"
    "\n"
    "Prints the journal of the web module's setter calls, oldest first, one JSON\n"
    "object a line:\n"
    "  {\"id\":1,\"time\":\"2024-03-07T08:15:00.123Z\",\"setter\":\"SetPCode\",\n"
    "   \"view\":\"SetPCodeView\",\"arguments\":{\"pcode\":602,\"value\":1234},\n"
    "   \"record\":\"d2045a02\",\"count\":1}\n"
    "record is the record the setter read from its view, in hex; count the number\n"
    "of records it updated (0: nothing was written).\n";

int getPCode(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kGetHelp);
  if (argc != 2) return complain(kExitUsage, "settings get-pcode takes one CODE (see --help)");
  WORD code = 0;
  if (!parsePCode(argv[1], &code)) return kExitUsage;
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  WORD value = 0;
  switch (store.getPCode(code, &value)) {
    case quenta::SettingsStore::kFound:
      std::printf("%u\n", value);
      return kExitOk;
    case quenta::SettingsStore::kMissing:
      return complain(kExitFailure, "parameter code " + std::to_string(code) + " is not stored");
    default:
      return complain(kExitFailure, "cannot read parameter code " + std::to_string(code) + ": " + store.lastError());
  }
}

int setPCode(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kSetHelp);
  if (argc != 3) return complain(kExitUsage, "settings set-pcode takes CODE and VALUE (see --help)");
  WORD code = 0;
  WORD value = 0;
  if (!parsePCode(argv[1], &code) || !parseWordValue(argv[2], &value)) return kExitUsage;
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  if (!store.putPCode(code, value, true)) {
    return complain(kExitFailure, "cannot store parameter code " + std::to_string(code) + ": " + store.lastError());
  }
  return kExitOk;
}

int listPCodes(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kListHelp);
  if (argc != 1) return complain(kExitUsage, "settings list-pcodes takes no arguments (see --help)");
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  std::vector<std::pair<WORD, WORD>> rows;
  if (!store.listPCodes(&rows)) return complain(kExitFailure, "cannot read parameter codes: " + store.lastError());
  for (const auto& row : rows) std::printf("%u %u\n", row.first, row.second);
  return kExitOk;
}

int journal(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kJournalHelp);
  if (argc != 1) return complain(kExitUsage, "settings journal takes no arguments (see --help)");
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  std::vector<quenta::JournalRow> rows;
  if (!store.readJournal(&rows)) return complain(kExitFailure, "cannot read the journal: " + store.lastError());
  for (const quenta::JournalRow& row : rows) {
    // The bridge stores the key arguments as a JSON object; anything else
    // (a hand edit) is passed on as a string.
    bool object = !row.arguments.empty() && row.arguments.front() == '{' && row.arguments.back() == '}';
    std::printf("{\"id\":%lld,\"time\":%s,\"setter\":%s,\"view\":%s,\"arguments\":%s,\"record\":%s,\"count\":%d}\n",
                static_cast<long long>(row.id), jsonString(row.time).c_str(), jsonString(row.setter).c_str(),
                jsonString(row.view).c_str(), object ? row.arguments.c_str() : jsonString(row.arguments).c_str(),
                jsonString(row.record).c_str(), row.count);
  }
  return kExitOk;
}

const SettingsCommand kCommands[] = {
    {"get-pcode", getPCode},
    {"set-pcode", setPCode},
    {"list-pcodes", listPCodes},
    {"journal", journal},
};

}  // namespace

int runSettings(const Context& context, int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kSettingsHelp, stderr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h") return showHelp(kSettingsHelp);
  for (const SettingsCommand& command : kCommands) {
    if (name == command.name) return command.run(context, argc - 1, argv + 1);
  }
  for (size_t k = 0; k < kRecordCommandCount; ++k) {
    if (name == kRecordCommands[k].name) return kRecordCommands[k].run(context, argc - 1, argv + 1);
  }
  return complain(kExitUsage, "unknown settings command '" + name + "' (see settings --help)");
}

}  // namespace machine
