#include "host/HostOptions.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quenta {
namespace {

// The options that take a number: name, lowest and highest value, the field.
struct NumberOption {
  const char* name;
  long low;
  long high;
  int HostOptions::*field;
};
const NumberOption kNumberOptions[] = {
    {"--threads", 1, 4096, &HostOptions::threads},
    {"--keep-alive-ms", 0, 600000, &HostOptions::keepAliveMs},
    {"--request-timeout-ms", 100, 600000, &HostOptions::requestTimeoutMs},
    {"--body-min-rate", 0, 100000000, &HostOptions::bodyMinRate},
};

// The options that take a text: name, the field.
struct TextOption {
  const char* name;
  std::string HostOptions::*field;
};
const TextOption kTextOptions[] = {
    {"--module", &HostOptions::modulePath},
    {"--access-log", &HostOptions::accessLogPath},
    {"--debug-log", &HostOptions::debugLogPath},
};

bool parseNumber(const std::string& text, long low, long high, long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long number = std::strtol(text.c_str(), nullptr, 10);
  if (number < low || number > high) return false;
  *value = number;
  return true;
}

// ADDR:PORT with a dotted IPv4 address (the machine's network is IPv4) and
// a plain port number: the server speaks plain HTTP only.
bool parseListen(const std::string& text, HostOptions* options) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string address = text.substr(0, colon);
  in_addr parsed;
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  long port = 0;
  if (!parseNumber(text.substr(colon + 1), 0, 65535, &port)) return false;
  options->listenAddress = address;
  options->listenPort = static_cast<int>(port);
  return true;
}

}  // namespace

void printUsage(std::FILE* out) {
  std::fputs(
      "Usage: quenta-httpd --root DIR [--listen ADDR:PORT] [--module PATH] [--threads N]\n"
      "                    [--access-log FILE|off] [--debug-log FILE|-] [--keep-alive-ms MS]\n"
      "                    [--request-timeout-ms MS] [--body-min-rate BYTES]\n"
      "\n"
      "Serves the welding power source's web pages over plain HTTP/1.1.\n"
      "GET and HEAD of an existing file under DIR/MMCMemory/www/wwwpub are answered\n"
      "with that file; every other request goes to the ISAPI module.\n"
      "\n"
      "Options:\n"
      "  --root DIR          device root (required): the folder that stands for the\n"
      "                      controller's file system; exported to the module as\n"
      "                      QUENTA_ROOT before it is loaded.\n"
      "  --listen ADDR:PORT  IPv4 address and port to listen on (default 127.0.0.1:8080);\n"
      "                      port 0 picks a free port, printed once listening.\n"
      "  --module PATH       the ISAPI module to load (default ../lib/libwebquenta.so\n"
      "                      beside this program).\n"
      "  --threads N         worker threads that call the module, 1 to 4096 (default\n"
      "                      16); idle and slow connections hold none.\n"
      "  --access-log FILE|off  append the access log to FILE instead of standard\n"
      "                      output, or keep none for 'off'.\n"
      "  --debug-log FILE|-  append the module's debug output to FILE, or to standard\n"
      "                      error for '-' (default: the file QUENTA_DEBUG_LOG names,\n"
      "                      else none). Log files rotate to FILE.1 at 16 MiB.\n"
      "  --keep-alive-ms MS  how long an idle kept connection waits\n"
      "                      for the next request, 0 to 600000 (default 500).\n"
      "  --request-timeout-ms MS\n"
      "                      a request head must be complete within MS of the\n"
      "                      connection (a kept connection's, of its first byte),\n"
      "                      a body must bring something and an answer must be\n"
      "                      taken within MS, 100 to 600000 (default 10000).\n"
      "  --body-min-rate BYTES\n"
      "                      a body still arriving after the request time-out must\n"
      "                      have averaged BYTES a second, 0 to 100000000 (default\n"
      "                      1024); a slower one is cut off.\n"
      "  --help              print this text and exit.\n"
      "\n"
      "Exit status: 0 after SIGINT or SIGTERM, 1 when the module or the server cannot\n"
      "start, 2 for a bad command line.\n",
      out);
}

std::string defaultModulePath() {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return "../lib/libwebquenta.so";
  std::string path(self, static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  return folder + "/../lib/libwebquenta.so";
}

ParseOutcome parseHostOptions(int argc, char** argv, HostOptions* options, std::string* error) {
  bool haveRoot = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return ParseOutcome::Help;

    // Both "--name value" and "--name=value".
    std::string name = argument;
    std::string value;
    bool haveValue = false;
    size_t equals = argument.find('=');
    if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      haveValue = true;
    }
    const NumberOption* number = nullptr;
    for (const NumberOption& option : kNumberOptions) {
      if (name == option.name) number = &option;
    }
    const TextOption* text = nullptr;
    for (const TextOption& option : kTextOptions) {
      if (name == option.name) text = &option;
    }
    if (name != "--root" && name != "--listen" && number == nullptr && text == nullptr) {
      *error = "unknown option '" + argument + "'";
      return ParseOutcome::Bad;
    }
    if (!haveValue) {
      if (i + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return ParseOutcome::Bad;
      }
      value = argv[++i];
    }

    if (name == "--root") {
      char resolved[PATH_MAX];
      struct stat info;
      if (value.empty() || realpath(value.c_str(), resolved) == nullptr ||
          stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "--root '" + value + "' is not a directory";
        return ParseOutcome::Bad;
      }
      options->root = resolved;
      haveRoot = true;
    } else if (name == "--listen") {
      if (!parseListen(value, options)) {
        *error = "--listen '" + value + "' is not ADDR:PORT (IPv4 address, port 0 to 65535)";
        return ParseOutcome::Bad;
      }
    } else if (number != nullptr) {
      long parsed = 0;
      if (!parseNumber(value, number->low, number->high, &parsed)) {
        *error = name + " '" + value + "' is not a number from " + std::to_string(number->low) + " to " +
                 std::to_string(number->high);
        return ParseOutcome::Bad;
      }
      options->*(number->field) = static_cast<int>(parsed);
    } else {
      if (value.empty()) {
        *error = name + " needs a path";
        return ParseOutcome::Bad;
      }
      options->*(text->field) = value;
    }
  }
  if (!haveRoot) {
    *error = "--root DIR is required";
    return ParseOutcome::Bad;
  }
  if (options->modulePath.empty()) options->modulePath = defaultModulePath();
  return ParseOutcome::Run;
}

}  // namespace quenta
