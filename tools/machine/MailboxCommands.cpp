// quenta-machine mailbox: the log process's side of the system-log mailbox
// "DB_LOG_DATA" (guarded by "DB_LOG_MMF_MUTEX"), into which the module's form
// handlers post one event per change. The reader owns `tail`: it takes events
// from tail up to head and moves tail on; it never writes head or the slots.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "links/DbLogMailbox.h"
#include "sqlbridge/SettingsStore.h"
#include "tools/machine/Commands.h"
#include "tools/machine/SharedBlocks.h"

namespace machine {

namespace {

const char kMailboxHelp[] =
    "usage: quenta-machine [--root DIR] mailbox COMMAND\n"
    "\n"
    "Plays the machine's log process: reads the ring of events that the web\n"
    "module's form handlers post after each change, always under its mutex.\n"
    "\n"
    "commands:\n"
    "  show                  head, tail and every unread event; nothing is taken\n"
    "  drain [--follow] [--interval-ms N]\n"
    "                        take the events into the system log of the settings\n"
    "                        database; see 'mailbox drain --help'\n"
    "  lock --ms N           hold the mutex for N ms (the module waits 3000 ms)\n";

const char kShowHelp[] =
    "usage: quenta-machine [--root DIR] mailbox show\n"
    "\n"
    "Prints {\"head\":H,\"tail\":T}, then one JSON object per unread event, oldest\n"
    "first: {\"slot\":S,\"code\":C,\"arg1\":A,\"arg2\":B,\"arg3\":D,\"description\":\"...\"}.\n"
    "Nothing is taken out of the ring.\n";

const char kDrainHelp[] =
    "usage: quenta-machine [--root DIR] mailbox drain [--follow] [--interval-ms N]\n"
    "\n"
    "Takes the unread events out in order and appends each to the system log of\n"
    "the settings database (time, the three arguments, the event code as its\n"
    "type, and a description such as \"Parameter 602 changed from the web page\"),\n"
    "printing each as 'mailbox show' does. The events are stored first and tail\n"
    "is moved on after, so an event is never lost (a drain killed in between\n"
    "logs it again next time). With --follow it keeps draining every N ms\n"
    "(default 200) until SIGINT or SIGTERM.\n";

const char kLockHelp[] =
    "usage: quenta-machine [--root DIR] mailbox lock --ms N\n"
    "\n"
    "Takes DB_LOG_MMF_MUTEX, prints 'holding DB_LOG_MMF_MUTEX for N ms', holds it\n"
    "for N ms (Ctrl-C ends it early) and releases it. A form post that cannot\n"
    "have it within 3000 ms loses its event.\n";

const DWORD kSlotMask = DB_LOG_SLOTS - 1;

struct Event {
  WORD slot;
  WORD code;
  WORD arg[3];
};

// What the log process makes of each event code. Rows are tried in order; a
// row with an argument number (2 or 3) applies only when that argument has
// the given value. %1, %2 and %3 stand for the arguments.
struct EventText {
  WORD code;
  int argument;
  WORD value;
  const char* text;
};

const EventText kEventTexts[] = {
    {3, 3, 9998, "Run-in wire feed speed of sequence %1 changed from the web page"},
    {3, 3, 9997, "Burnback time of sequence %1 changed from the web page"},
    {3, 0, 0, "Process selection of program %1 changed from the web page"},
    {4, 2, 1, "Encoder lock of bank %1 changed from the web page"},
    {4, 0, 0, "Error enables or gun load of bank %1 changed from the web page"},
    {8, 0, 0, "Parameter %1 changed from the web page"},
    {11, 2, 4, "Trigger sequence %1 changed from the web page"},
    {11, 0, 0, "Sequence %1 changed from the web page"},
    {17, 3, 1, "All weld files disabled from the web page"},
    {17, 3, 2, "All weld files enabled from the web page"},
    {17, 3, 3, "Name and description of weld file %1 changed from the web page"},
    {17, 3, 4, "Retract start of sequence %1 changed from the web page"},
    {17, 0, 0, "Weld file %1 changed from the web page"},
    {22, 0, 0, "Weld cable configuration %1 changed from the web page"},
    {23, 0, 0, "Wire information of feeder %1 changed from the web page"},
    {26, 0, 0, "Manual calibration %1 changed from the web page"},
    {31, 0, 0, "Region selection %1 changed from the web page"},
    {33, 0, 0, "Robot maker %1 selected from the web page"},
    {34, 0, 0, "Wi-Fi encryption %1 selected from the web page"},
    {35, 0, 0, "Wi-Fi authentication %1 selected from the web page"},
    {37, 0, 0, "Robot interface board settings changed from the web page"},
    {38, 0, 0, "Clock set from the web page"},
};

const char kUnknownEventText[] = "Event %0 (%1, %2, %3) from the web page";

std::string describe(const Event& event) {
  const char* pattern = kUnknownEventText;
  for (const EventText& row : kEventTexts) {
    if (row.code != event.code) continue;
    if (row.argument != 0 && event.arg[row.argument - 1] != row.value) continue;
    pattern = row.text;
    break;
  }
  std::string text;
  for (const char* at = pattern; *at != 0; ++at) {
    if (at[0] == '%' && at[1] >= '0' && at[1] <= '3') {
      int which = at[1] - '0';
      text += std::to_string(which == 0 ? event.code : event.arg[which - 1]);
      ++at;
    } else {
      text += *at;
    }
  }
  return text;
}

std::string eventJson(const Event& event) {
  return "{\"slot\":" + std::to_string(event.slot) + ",\"code\":" + std::to_string(event.code) +
         ",\"arg1\":" + std::to_string(event.arg[0]) + ",\"arg2\":" + std::to_string(event.arg[1]) +
         ",\"arg3\":" + std::to_string(event.arg[2]) + ",\"description\":" + jsonString(describe(event)) + "}";
}

// The unread events, oldest first; the caller holds the mutex. A head or tail
// beyond the ring (a corrupted block) is taken modulo the ring.
std::vector<Event> unreadEvents(const BYTE* block, WORD* head, WORD* tail) {
  *head = dbLogWord(block, DB_LOG_HEAD_OFFSET);
  *tail = dbLogWord(block, DB_LOG_TAIL_OFFSET);
  std::vector<Event> events;
  for (DWORD slot = *tail & kSlotMask; slot != (*head & kSlotMask); slot = (slot + 1) & kSlotMask) {
    Event event;
    event.slot = static_cast<WORD>(slot);
    event.code = dbLogWord(block, DB_LOG_CODE_OFFSET + 2 * slot);
    event.arg[0] = dbLogWord(block, DB_LOG_ARG1_OFFSET + 2 * slot);
    event.arg[1] = dbLogWord(block, DB_LOG_ARG2_OFFSET + 2 * slot);
    event.arg[2] = dbLogWord(block, DB_LOG_ARG3_OFFSET + 2 * slot);
    events.push_back(event);
  }
  return events;
}

bool openMailbox(const Context& context, SharedBlock* block) {
  return openBlock(context, block, DB_LOG_MAPPING, DB_LOG_BLOCK_SIZE, DB_LOG_MUTEX);
}

int runShow(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) {
    std::fputs(kShowHelp, stdout);
    return kExitOk;
  }
  if (argc > 1) return complain(kExitUsage, "mailbox show takes no arguments");
  SharedBlock block;
  if (!openMailbox(context, &block)) return kExitFailure;
  if (!lockBlock(block, DB_LOG_WAIT_MS, DB_LOG_MUTEX)) return complain(kExitFailure, "DB_LOG_MMF_MUTEX is held elsewhere");
  WORD head = 0;
  WORD tail = 0;
  std::vector<Event> events = unreadEvents(block.data(), &head, &tail);
  block.unlock();
  std::printf("{\"head\":%u,\"tail\":%u}\n", head, tail);
  for (const Event& event : events) std::puts(eventJson(event).c_str());
  return kExitOk;
}

// Appends the events to the system log in one transaction.
bool storeEvents(quenta::SettingsStore* store, const std::vector<Event>& events) {
  if (!store->begin()) return false;
  for (const Event& event : events) {
    quenta::SystemLogRow row;
    GetLocalTime(&row.time);
    row.first = event.arg[0];
    row.second = event.arg[1];
    row.third = event.arg[2];
    row.eventType = event.code;
    row.description = describe(event);
    if (!store->appendSystemLog(row)) {
      store->rollback();
      return false;
    }
  }
  if (store->commit()) return true;
  store->rollback();
  return false;
}

// One pass: false when the pass failed (the events stay in the ring).
bool drainOnce(SharedBlock* block, quenta::SettingsStore* store, bool* stored) {
  *stored = false;
  if (!lockBlock(*block, DB_LOG_WAIT_MS, DB_LOG_MUTEX)) {
    complain(kExitFailure, "DB_LOG_MMF_MUTEX is held elsewhere; nothing taken");
    return false;
  }
  WORD head = 0;
  WORD tail = 0;
  std::vector<Event> events = unreadEvents(block->data(), &head, &tail);
  block->unlock();
  if (events.empty()) return true;

  // Stored before tail moves, and without holding the mutex meanwhile, so
  // that form posts are not kept waiting on the database.
  if (!storeEvents(store, events)) {
    complain(kExitFailure, "cannot append to the system log: " + store->lastError() + "; events kept");
    return false;
  }
  // The events are logged: tail must move now, however long it takes.
  while (!lockBlock(*block, DB_LOG_WAIT_MS, DB_LOG_MUTEX)) {
    if (stopRequested()) {
      complain(kExitFailure, "stopped before tail could move: these events will be logged again");
      return false;
    }
    std::fprintf(stderr, "quenta-machine: DB_LOG_MMF_MUTEX busy; still waiting to move tail\n");
  }
  if (dbLogWord(block->data(), DB_LOG_TAIL_OFFSET) == tail) {
    setDbLogWord(block->data(), DB_LOG_TAIL_OFFSET,
                 static_cast<WORD>(((tail & kSlotMask) + events.size()) & kSlotMask));
  } else {
    std::fprintf(stderr, "quenta-machine: another reader moved tail; its events may be logged twice\n");
  }
  block->unlock();
  for (const Event& event : events) std::puts(eventJson(event).c_str());
  std::fflush(stdout);
  *stored = true;
  return true;
}

int runDrain(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) {
    std::fputs(kDrainHelp, stdout);
    return kExitOk;
  }
  bool follow = false;
  unsigned long interval = 200;
  for (int index = 1; index < argc;) {
    bool bad = false;
    if (std::strcmp(argv[index], "--follow") == 0) {
      follow = true;
      ++index;
      continue;
    }
    if (numberOption(argc, argv, &index, "interval-ms", 10, 60000, &interval, &bad)) {
      if (bad) return kExitUsage;
      continue;
    }
    return complain(kExitUsage, std::string("mailbox drain: unknown argument '") + argv[index] + "' (see --help)");
  }
  SharedBlock block;
  if (!openMailbox(context, &block)) return kExitFailure;
  quenta::SettingsStore store;
  int opened = openSettings(context, &store, false);
  if (opened != kExitOk) return opened;
  if (!follow) {
    bool stored = false;
    return drainOnce(&block, &store, &stored) ? kExitOk : kExitFailure;
  }
  installStopHandlers();
  while (!stopRequested()) {
    bool stored = false;
    if (!drainOnce(&block, &store, &stored) && store.connectionBroken()) {
      // Open the database afresh on the next pass.
      store.close();
      opened = openSettings(context, &store, false);
      if (opened != kExitOk) return opened;
    }
    sleepUnlessStopped(static_cast<unsigned>(interval));
  }
  return kExitOk;
}

}  // namespace

int runMailbox(const Context& context, int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kMailboxHelp, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  std::string command = argv[1];
  if (command == "show") return runShow(context, argc - 1, argv + 1);
  if (command == "drain") return runDrain(context, argc - 1, argv + 1);
  if (command == "lock") {
    if (wantsHelp(argc - 1, argv + 1)) {
      std::fputs(kLockHelp, stdout);
      return kExitOk;
    }
    return holdMutexCommand(context, argc - 1, argv + 1, DB_LOG_MAPPING, DB_LOG_BLOCK_SIZE, DB_LOG_MUTEX);
  }
  return complain(kExitUsage, "unknown mailbox command '" + command + "' (see mailbox --help)");
}

}  // namespace machine
