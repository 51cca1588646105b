#include "host/HostOptions.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quenta {
namespace {

const int kMaxThreads = 1024;
const int kMaxKeepAliveMs = 600000;

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

// ADDR:PORT with a dotted IPv4 address: Debian's CivetWeb is built without
// IPv6, and a port with a suffix ("8443s") would ask it for TLS, which that
// build cannot do.
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
      "                    [--access-log FILE] [--keep-alive-ms MS]\n"
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
      "  --threads N         worker threads, 1 to 1024 (default 50); every open\n"
      "                      connection holds one.\n"
      "  --access-log FILE   append the access log to FILE instead of standard output.\n"
      "  --keep-alive-ms MS  how long an idle kept connection (and its thread) waits\n"
      "                      for the next request, 0 to 600000 (default 500).\n"
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
    if (name != "--root" && name != "--listen" && name != "--module" && name != "--threads" &&
        name != "--access-log" && name != "--keep-alive-ms") {
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
    } else if (name == "--module") {
      if (value.empty()) {
        *error = "--module needs a path";
        return ParseOutcome::Bad;
      }
      options->modulePath = value;
    } else if (name == "--threads") {
      long threads = 0;
      if (!parseNumber(value, 1, kMaxThreads, &threads)) {
        *error = "--threads '" + value + "' is not a number from 1 to 1024";
        return ParseOutcome::Bad;
      }
      options->threads = static_cast<int>(threads);
    } else if (name == "--keep-alive-ms") {
      long milliseconds = 0;
      if (!parseNumber(value, 0, kMaxKeepAliveMs, &milliseconds)) {
        *error = "--keep-alive-ms '" + value + "' is not a number from 0 to 600000";
        return ParseOutcome::Bad;
      }
      options->keepAliveMs = static_cast<int>(milliseconds);
    } else {
      if (value.empty()) {
        *error = "--access-log needs a file name";
        return ParseOutcome::Bad;
      }
      options->accessLogPath = value;
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
