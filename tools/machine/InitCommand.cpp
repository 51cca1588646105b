// quenta-machine init: lays out a device root as the machine's flash card and
// settings database look, optionally with demo settings. Running it again on
// a laid-out root is harmless: the web root is copied again, tables that
// exist stay, and values already stored are never replaced.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "adambridge/AdamConfig.h"
#include "sqlbridge/RecordReaders.h"
#include "tools/machine/Commands.h"

namespace machine {
namespace {

namespace fs = std::filesystem;

const char kInitHelp[] =
    "usage: quenta-machine --root DIR init [--demo] [--card DIR]\n"
    "\n"
    "Lays out the device root DIR (made if missing):\n"
    "  DIR/MMCMemory/www/wwwpub/  the card's web root, copied from the source tree's\n"
    "                             card/ folder (or --card DIR)\n"
    "  DIR/Temp/\n"
    "  DIR/settings.db            the settings database with its schema\n"
    "\n"
    "  --demo      also store plausible values for every parameter code the web\n"
    "              module reads or its forms write, both banks' configuration, and\n"
    "              a believable machine in every record table that is empty; the\n"
    "              digital I/O module is the simulated one on 127.0.0.1:1502\n"
    "              (DIR/ADAMbridge.conf)\n"
    "  --card DIR  copy the web root from DIR\n"
    "\n"
    "Values already stored are kept: init never overwrites a setting.\n";

struct DemoPCode {
  WORD code;
  WORD value;
};

// Plausible settings of a working machine. Times written by the forms in
// seconds are stored in milliseconds, and those in tenths as tenths.
const DemoPCode kDemoPCodes[] = {
    {101, 0},      // WFS units / metric enable: inches per minute
    {109, 1},      // software PCM, high word
    {110, 2301},   // software PCM, low word
    {117, 0},      // dry run off
    {118, 250},    // trigger hold delay time, ms
    {124, 1},      // dual programs
    {125, 1},      // set value status
    {136, 2},      // robot manufacturer
    {139, 1},      // robot program select
    {149, 0},      // factory reset request (the factory-reset form writes 1)
    {190, 2000},   // arc start error time, ms
    {196, 1},      // automatic calibration status
    {197, 150},    // automatic calibration: minimum WFS
    {198, 600},    //                        maximum WFS
    {199, 160},    //                        minimum volts, tenths
    {200, 320},    //                        maximum volts, tenths
    {269, 0},      // dual feeder check
    {390, 1500},   // arc error time, ms
    {391, 227},    // arc error volts, tenths
    {392, 350},    // arc error amps
    {600, 37},     // total arc seconds
    {601, 48},     // total arc minutes
    {602, 1234},   // total arc hours
    {603, 12},     // short-term arc hours
    {604, 30},     // short-term arc minutes
    {605, 48211},  // total arc starts, low word
    {606, 2},      // total arc starts, high word
    {608, 51234},  // total wire used, low word
    {609, 7},      // total wire used, high word
    {610, 6021},   // total pounds used, low word
    {611, 1},      // total pounds used, high word
    {615, 3000},   // trigger hold inactive time, ms
    {621, 15},     // other torch length
    {622, 12},     // other torch inductance
    {623, 85},     // other torch resistance
    {624, 50},     // jog speed minimum
    {625, 700},    // jog speed maximum
    {626, 25},     // retract minimum
    {627, 300},    // retract maximum
    {628, 2500},   // purge time, ms
    {629, 1},      // weld file enable
    {631, 4210},   // short-term wire used, low word
    {632, 0},      // short-term wire used, high word
    {635, 164},    // short-term pounds used, low word
    {636, 0},      // short-term pounds used, high word
    {638, 0},      // ignore weld enable
    {639, 1},      // robot communication method
    {640, 1310},   // second feeder short-term wire used, low word
    {641, 0},      //                                      high word
    {642, 52},     // second feeder short-term pounds used, low word
    {643, 0},      //                                        high word
    {644, 3},      // second feeder short-term arc hours
    {645, 17},     // second feeder short-term arc minutes
    {647, 1},      // digital I/O module address, low word: 0.1
    {648, 32512},  // digital I/O module address, high word: 127.0 (the simulated module)
    {649, 2},      // digital I/O connection (the data connections form writes 2)
    {650, 35},     // missed weld error time, tenths
    {651, 0},      // CE programs enable
    {652, 1},      // arc adjust scaling
    {653, 0},      // trigger function locks
    {654, 0},      // sequencer locks
    {655, 1},      // secondary resistance enable
    {656, 1},      // secondary inductance enable
    {657, 5},      // retract delay time, tenths
    {659, 10},     // retract distance
    {660, 1},      // user program number
    {662, 2024},   // weld monitoring: job
    {663, 17},     //                  part
    {664, 3},      //                  weld
    {665, 0},      // secondary tale enable
    {666, 1},      // weld monitoring (Veyra) enable
    {667, 1},      // Veyra core enable
    {671, 0},      // network settings changed (the ethernet forms write 1)
    {672, 1},      // slope display status
    {673, 1},      // synergic MIG
    {674, 0},      // global WFS / amps command
    {675, 1},      // cooler enable
    {676, 1},      // cooler status
    {732, 35183},  // process enable mask: processes 0-3, 5, 6, 8, 11, 15
};

// The port of the simulated digital I/O module (quenta-machine dio serve):
// above 1023, so it needs no privilege.
const unsigned kDemoDioPort = 1502;

const quenta::BankConfigRow kDemoBanks[] = {
    // bankConfigID, errorEnables, gunLdLen, gunLdWFS, encoderLock
    {1, 31, 15, 100, 0},
    {2, 31, 12, 90, 0},
};

std::string executableDir() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  buffer[length] = 0;
  return fs::path(buffer).parent_path().string();
}

// The card's web root: the source tree's card/ (compiled in), else beside the
// program as built in a folder of the source tree or as installed.
std::string findCardDir() {
  std::error_code error;
  if (fs::is_directory(QUENTA_CARD_SOURCE_DIR, error)) return QUENTA_CARD_SOURCE_DIR;
  std::string bin = executableDir();
  if (bin.empty()) return std::string();
  for (const char* relative : {"/../../card", "/../share/quenta/card"}) {
    fs::path candidate = fs::path(bin + relative).lexically_normal();
    if (fs::is_directory(candidate, error)) return candidate.string();
  }
  return std::string();
}

bool makeDirectory(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error || !fs::is_directory(path, error)) {
    complain(kExitFailure, "cannot make " + path.string() + ": " + error.message());
    return false;
  }
  return true;
}

// Copies the card's files over those of the web root; returns the files copied or -1.
long copyWebRoot(const fs::path& from, const fs::path& to) {
  std::error_code error;
  long files = 0;
  for (fs::recursive_directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
    fs::path target = to / fs::relative(it->path(), from, error);
    if (error) break;
    if (it->is_directory(error)) {
      fs::create_directories(target, error);
    } else if (it->is_regular_file(error)) {
      fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, error);
      if (!error) ++files;
    }
    if (error) break;
  }
  if (error) {
    complain(kExitFailure, "cannot copy the web root from " + from.string() + ": " + error.message());
    return -1;
  }
  return files;
}

bool storeDemo(quenta::SettingsStore* store) {
  if (!store->begin()) return false;
  for (const DemoPCode& demo : kDemoPCodes) {
    if (!store->putPCode(demo.code, demo.value, false)) {
      store->rollback();
      return false;
    }
  }
  for (const quenta::BankConfigRow& bank : kDemoBanks) {
    if (!store->putBankConfig(bank, false)) {
      store->rollback();
      return false;
    }
  }
  if (!quenta::RecordTables::storeDemo(*store)) {
    store->rollback();
    return false;
  }
  if (store->commit()) return true;
  store->rollback();
  return false;
}

}  // namespace

int runInit(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kInitHelp);
  bool demo = false;
  std::string card;
  bool cardGiven = false;
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    if (arg == "--demo") {
      demo = true;
    } else if (arg == "--card" && k + 1 < argc) {
      card = argv[++k];
      cardGiven = true;
    } else if (arg.compare(0, 7, "--card=") == 0) {
      card = arg.substr(7);
      cardGiven = true;
    } else {
      return complain(kExitUsage, "init: unexpected argument '" + arg + "' (see init --help)");
    }
  }
  if (context.root.empty()) return complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
  std::error_code error;
  if (cardGiven && !fs::is_directory(card, error)) {
    return complain(kExitUsage, "init: --card " + card + " is not a directory");
  }
  if (!cardGiven) card = findCardDir();

  fs::path root(context.root);
  fs::path webRoot = root / "MMCMemory" / "www" / "wwwpub";
  if (!makeDirectory(root) || !makeDirectory(webRoot) || !makeDirectory(root / "Temp")) return kExitFailure;

  if (card.empty()) {
    std::fprintf(stderr, "quenta-machine: no card web root found; %s left as it is\n", webRoot.c_str());
  } else {
    long files = copyWebRoot(card, webRoot);
    if (files < 0) return kExitFailure;
    std::printf("web root: %s (%ld files from %s)\n", webRoot.c_str(), files, card.c_str());
  }
  std::printf("temp: %s\n", (root / "Temp").c_str());

  quenta::SettingsStore store;
  int opened = openSettings(context, &store, true);
  if (opened != kExitOk) return opened;
  if (!store.createSchema()) return complain(kExitFailure, "cannot create the schema: " + store.lastError());
  if (demo && !storeDemo(&store)) return complain(kExitFailure, "cannot store the demo settings: " + store.lastError());
  if (demo && !fs::exists(adambridge::configPath(context.root), error) &&
      !adambridge::writeConfig(context.root, kDemoDioPort)) {
    return complain(kExitFailure, "cannot write " + adambridge::configPath(context.root));
  }
  // The demo starts in a zone with daylight saving, so both states show.
  int zones = installTimeZones(context, demo ? "Eastern Standard Time" : "UTC");
  if (zones != kExitOk) return zones;
  std::printf("settings: %s%s\n", quenta::SettingsStore::databasePath(context.root).c_str(),
              demo ? " (demo values stored where none were)" : "");
  return kExitOk;
}

}  // namespace machine
