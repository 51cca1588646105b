// quenta-machine status: the control process's side of the live-status block
// "DNET_DATA" (121 bytes, guarded by "DNET_MMF_MUTEX"), which the module serves
// as "/current_status.js". The layout is the module's own table of fields.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "links/CurrentStatus.h"
#include "tools/machine/Commands.h"
#include "tools/machine/SharedBlocks.h"

namespace machine {

namespace {

// How long a writer waits for the module to finish its copy.
const DWORD kWriteWaitMs = 1000;

const char kStatusHelp[] =
    "usage: quenta-machine [--root DIR] status COMMAND\n"
    "\n"
    "Plays the machine's control process: writes the live-status block that the\n"
    "web module serves as /current_status.js, always while holding its mutex.\n"
    "\n"
    "commands:\n"
    "  set FIELD=VALUE ...   write fields (all or none); see 'status set --help'\n"
    "  show                  print the block as one JSON object\n"
    "  run [--hz N] [--speed X]\n"
    "                        publish a simulated weld cycle until stopped (Ctrl-C)\n"
    "  lock --ms N           hold the mutex for N ms (the module waits 1000 ms)\n";

const char kSetHelp[] =
    "usage: quenta-machine [--root DIR] status set FIELD=VALUE ...\n"
    "\n"
    "Writes the named fields of the live-status block under its mutex; the other\n"
    "fields keep their values. Every assignment is checked before anything is\n"
    "written: an unknown field, a number outside the field's range or a text\n"
    "longer than its width changes nothing (exit code 2).\n"
    "\n"
    "fields (the keys of /current_status.js):\n";

const char kRunHelp[] =
    "usage: quenta-machine [--root DIR] status run [--hz N] [--speed X]\n"
    "\n"
    "Publishes a simulated weld cycle N times a second (default 10, at most 1000)\n"
    "until SIGINT or SIGTERM. One cycle lasts 10 s (X times faster with --speed,\n"
    "1 to 100): idle 1.5 s, preflow 0.5 s, start 0.5 s, weld 5 s, crater 1 s,\n"
    "postflow 1.5 s; sequence_state is 0 idle, 1 preflow, 2 start, 3 weld,\n"
    "4 crater, 5 postflow. Current (A), voltage (0.1 V) and wire feed speed\n"
    "(in/min) follow the stage's set points with a lag and some noise; dnetflags\n"
    "bit 0 is the gas valve, bit 1 the arc, bit 2 the wire drive. The raw ADC\n"
    "readings always carry a little noise.\n";

const char kLockHelp[] =
    "usage: quenta-machine [--root DIR] status lock --ms N\n"
    "\n"
    "Takes DNET_MMF_MUTEX, prints 'holding DNET_MMF_MUTEX for N ms', holds it for\n"
    "N ms (Ctrl-C ends it early) and releases it. While it is held for more than\n"
    "1000 ms, /current_status.js keeps answering its previous text.\n";

const StatusField* findField(const std::string& key) {
  for (const StatusField& field : kStatusFields) {
    if (key == field.key) return &field;
  }
  return nullptr;
}

void rangeOf(const StatusField& field, long* low, long* high) {
  switch (field.type) {
    case kStatusSigned16:
      *low = -32768;
      *high = 32767;
      break;
    case kStatusUnsigned16:
      *low = 0;
      *high = 65535;
      break;
    default:
      *low = 0;
      *high = 255;
      break;
  }
}

// A decimal number with an optional minus sign, or 0x and hex digits.
bool parseInteger(const std::string& text, long* value) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && text[at] == '-') {
    negative = true;
    ++at;
  }
  int base = 10;
  if (text.size() - at > 2 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
    base = 16;
    at += 2;
  }
  if (at >= text.size() || text.size() - at > 8) return false;
  long result = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    result = result * base + digit;
  }
  *value = negative ? -result : result;
  return true;
}

void putNumber(BYTE* block, const StatusField& field, long value) {
  unsigned long bits = static_cast<unsigned long>(value);
  block[field.offset] = static_cast<BYTE>(bits & 0xFF);
  if (field.width == 2) block[field.offset + 1] = static_cast<BYTE>((bits >> 8) & 0xFF);
}

// The text and zeros to the end of the field.
void putText(BYTE* block, const StatusField& field, const std::string& text) {
  for (WORD i = 0; i < field.width; ++i) {
    block[field.offset + i] = i < text.size() ? static_cast<BYTE>(text[i]) : 0;
  }
}

long readNumber(const BYTE* block, const StatusField& field) {
  unsigned value = block[field.offset];
  if (field.width == 2) value |= static_cast<unsigned>(block[field.offset + 1]) << 8;
  if (field.type == kStatusSigned16) return static_cast<int16_t>(value);
  return static_cast<long>(value);
}

std::string readText(const BYTE* block, const StatusField& field) {
  std::string text;
  for (WORD i = 0; i < field.width && block[field.offset + i] != 0; ++i) {
    text += static_cast<char>(block[field.offset + i]);
  }
  return text;
}

struct Assignment {
  const StatusField* field;
  long number;
  std::string text;
};

int runSet(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) {
    std::fputs(kSetHelp, stdout);
    for (const StatusField& field : kStatusFields) {
      long low = 0;
      long high = 0;
      rangeOf(field, &low, &high);
      if (field.type == kStatusText) {
        std::printf("  %-27s text of at most %u bytes\n", field.key, field.width);
      } else {
        std::printf("  %-27s %ld to %ld\n", field.key, low, high);
      }
    }
    return kExitOk;
  }
  if (argc < 2) return complain(kExitUsage, "status set needs at least one FIELD=VALUE (see --help)");
  std::vector<Assignment> assignments;
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    size_t equals = arg.find('=');
    if (equals == std::string::npos) return complain(kExitUsage, "'" + arg + "' is not FIELD=VALUE");
    std::string key = arg.substr(0, equals);
    std::string value = arg.substr(equals + 1);
    Assignment assignment;
    assignment.field = findField(key);
    assignment.number = 0;
    if (assignment.field == nullptr) {
      return complain(kExitUsage, "unknown field '" + key + "' (status set --help lists them)");
    }
    if (assignment.field->type == kStatusText) {
      if (value.size() > assignment.field->width) {
        return complain(kExitUsage, "'" + value + "' is longer than " + key + "'s " +
                                        std::to_string(assignment.field->width) + " bytes");
      }
      assignment.text = value;
    } else {
      long low = 0;
      long high = 0;
      rangeOf(*assignment.field, &low, &high);
      if (!parseInteger(value, &assignment.number) || assignment.number < low || assignment.number > high) {
        return complain(kExitUsage, key + " takes a number from " + std::to_string(low) + " to " +
                                        std::to_string(high) + ", not '" + value + "'");
      }
    }
    assignments.push_back(assignment);
  }
  SharedBlock block;
  if (!openBlock(context, &block, CURRENT_STATUS_MAPPING, CURRENT_STATUS_BLOCK_SIZE, CURRENT_STATUS_MUTEX)) {
    return kExitFailure;
  }
  if (!lockBlock(block, 5000, CURRENT_STATUS_MUTEX)) return complain(kExitFailure, "DNET_MMF_MUTEX is held elsewhere: nothing written");
  for (const Assignment& assignment : assignments) {
    if (assignment.field->type == kStatusText) {
      putText(block.data(), *assignment.field, assignment.text);
    } else {
      putNumber(block.data(), *assignment.field, assignment.number);
    }
  }
  block.unlock();
  return kExitOk;
}

int runShow(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) {
    std::puts("usage: quenta-machine [--root DIR] status show\n\nPrints the live-status block as one JSON object.");
    return kExitOk;
  }
  if (argc > 1) return complain(kExitUsage, "status show takes no arguments");
  SharedBlock block;
  if (!openBlock(context, &block, CURRENT_STATUS_MAPPING, CURRENT_STATUS_BLOCK_SIZE, CURRENT_STATUS_MUTEX)) {
    return kExitFailure;
  }
  BYTE copy[CURRENT_STATUS_BLOCK_SIZE];
  if (!lockBlock(block, 5000, CURRENT_STATUS_MUTEX)) return complain(kExitFailure, "DNET_MMF_MUTEX is held elsewhere");
  std::memcpy(copy, block.data(), sizeof copy);
  block.unlock();
  std::string line = "{";
  for (const StatusField& field : kStatusFields) {
    if (line.size() > 1) line += ",";
    line += jsonString(field.key) + ":";
    line += field.type == kStatusText ? jsonString(readText(copy, field)) : std::to_string(readNumber(copy, field));
  }
  std::puts((line + "}").c_str());
  return kExitOk;
}

// ---- the simulated weld cycle ----------------------------------------------

struct Stage {
  const char* name;
  WORD state;
  double seconds;
  // Set points: current (A), voltage (0.1 V), wire feed speed (in/min).
  double current;
  double voltage;
  double wfs;
  bool gas;
};

const Stage kCycle[] = {
    {"idle", 0, 1.5, 0, 0, 0, false},       {"preflow", 1, 0.5, 0, 0, 0, true},
    {"start", 2, 0.5, 160, 185, 220, true}, {"weld", 3, 5.0, 225, 238, 360, true},
    {"crater", 4, 1.0, 120, 172, 190, true}, {"postflow", 5, 1.5, 0, 0, 0, true},
};
const Stage& kWeldStage = kCycle[3];

// The weld program the simulated machine runs.
const char* const kProgramTexts[][2] = {
    {"processNameID", "MIG-Pulse"}, {"wireTypeID", "ER70S"}, {"alloyID", "Steel"},
    {"wireSizeID", ".035"},         {"gasID", "C25"},        {"name", "Program 1"},
};

class WeldSimulation {
 public:
  explicit WeldSimulation(unsigned seed) : random(seed) {}

  // Advances to `elapsed` seconds into the run, `step` seconds after the last call.
  void advance(double elapsed, double step) {
    double cycleLength = 0;
    for (const Stage& stage : kCycle) cycleLength += stage.seconds;
    double into = std::fmod(elapsed, cycleLength);
    stage = &kCycle[0];
    for (const Stage& candidate : kCycle) {
      stage = &candidate;
      if (into < candidate.seconds) break;
      into -= candidate.seconds;
    }
    // First-order lag toward the set point: rises and settles; the arc dies
    // much faster than it builds.
    bool arc = stage->current > 0;
    double tau = arc ? 0.25 : 0.05;
    double follow = 1.0 - std::exp(-step / tau);
    current += (stage->current - current) * follow;
    voltage += (stage->voltage - voltage) * follow;
    wfs += (stage->wfs - wfs) * follow;
    if (!arc && current < 1) current = voltage = wfs = 0;
  }

  void publish(BYTE* block) {
    bool arc = stage->current > 0;
    put(block, "current_actual", noisy(current, arc ? 0.02 : 0));
    put(block, "voltage_actual", noisy(voltage, arc ? 0.015 : 0));
    put(block, "wfs_actual", noisy(wfs, arc ? 0.01 : 0));
    // Between arcs the commands show the weld set points the program holds.
    const Stage& set = arc ? *stage : kWeldStage;
    put(block, "voltage_command", std::lround(set.voltage));
    put(block, "wfs_command", std::lround(set.wfs));
    put(block, "arc_length_command", 50);
    put(block, "inductance_fendral_command", 30);
    put(block, "error_type", 0);
    long flags = (stage->gas ? 1 : 0) | (arc ? 2 : 0) | (wfs > 1 ? 4 : 0);
    put(block, "dnetflags", flags);
    put(block, "sequence_state", stage->state);
    put(block, "bankandprogram", 0x0101);
    put(block, "voltage_or_trim", 0);
    put(block, "inductance_or_fendral", 0);
    put(block, "wfs_or_current", 0);
    // The converters read a small offset and some counts of noise even at rest.
    put(block, "volts_adc", clamp(std::lround(voltage * 4) + 40 + jitter(20), 0, 65535));
    put(block, "wfs_adc", clamp(std::lround(wfs * 2) + 40 + jitter(20), 0, 65535));
    put(block, "volts_analog", clamp(std::lround(voltage * 255 / 500), 0, 255));
    put(block, "wfs_analog", clamp(std::lround(wfs * 255 / 800), 0, 255));
    for (const auto& text : kProgramTexts) putText(block, *findField(text[0]), text[1]);
  }

  const Stage& currentStage() const { return *stage; }

 private:
  static long clamp(long value, long low, long high) { return value < low ? low : (value > high ? high : value); }
  long noisy(double value, double spread) {
    if (spread <= 0 || value <= 0) return std::lround(value);
    std::normal_distribution<double> noise(0.0, spread * value);
    return std::lround(value + noise(random));
  }
  long jitter(int counts) { return std::uniform_int_distribution<int>(-counts, counts)(random); }
  static void put(BYTE* block, const char* key, long value) { putNumber(block, *findField(key), value); }

  std::mt19937 random;
  const Stage* stage = &kCycle[0];
  double current = 0;
  double voltage = 0;
  double wfs = 0;
};

int runRun(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) {
    std::fputs(kRunHelp, stdout);
    return kExitOk;
  }
  unsigned long hz = 10;
  unsigned long speed = 1;
  for (int index = 1; index < argc;) {
    bool bad = false;
    if (numberOption(argc, argv, &index, "hz", 1, 1000, &hz, &bad) ||
        numberOption(argc, argv, &index, "speed", 1, 100, &speed, &bad)) {
      if (bad) return kExitUsage;
      continue;
    }
    return complain(kExitUsage, std::string("status run: unknown argument '") + argv[index] + "' (see --help)");
  }
  SharedBlock block;
  if (!openBlock(context, &block, CURRENT_STATUS_MAPPING, CURRENT_STATUS_BLOCK_SIZE, CURRENT_STATUS_MUTEX)) {
    return kExitFailure;
  }
  installStopHandlers();
  std::printf("status run: publishing a weld cycle %lu times a second (Ctrl-C stops)\n", hz);
  std::fflush(stdout);

  WeldSimulation simulation(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  auto start = std::chrono::steady_clock::now();
  auto period = std::chrono::microseconds(1000000 / hz);
  auto next = start;
  double last = 0;
  bool busyReported = false;
  while (!stopRequested()) {
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * speed;
    simulation.advance(elapsed, elapsed - last);
    last = elapsed;
    if (lockBlock(block, kWriteWaitMs, CURRENT_STATUS_MUTEX)) {
      simulation.publish(block.data());
      block.unlock();
      busyReported = false;
    } else if (!busyReported) {
      std::fprintf(stderr, "quenta-machine: DNET_MMF_MUTEX busy; waiting to publish again\n");
      busyReported = true;
    }
    next += period;
    auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;  // fell behind (a long lock): no burst to catch up
    long long wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    sleepUnlessStopped(static_cast<unsigned>(wait));
  }
  std::printf("status run: stopped\n");
  return kExitOk;
}

}  // namespace

int runStatus(const Context& context, int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kStatusHelp, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  std::string command = argv[1];
  if (command == "set") return runSet(context, argc - 1, argv + 1);
  if (command == "show") return runShow(context, argc - 1, argv + 1);
  if (command == "run") return runRun(context, argc - 1, argv + 1);
  if (command == "lock") {
    if (wantsHelp(argc - 1, argv + 1)) {
      std::fputs(kLockHelp, stdout);
      return kExitOk;
    }
    return holdMutexCommand(context, argc - 1, argv + 1, CURRENT_STATUS_MAPPING, CURRENT_STATUS_BLOCK_SIZE,
                            CURRENT_STATUS_MUTEX);
  }
  return complain(kExitUsage, "unknown status command '" + command + "' (see status --help)");
}

}  // namespace machine
