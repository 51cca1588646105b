// The command line of quenta-httpd. Parsing only checks and fills the record;
// main() acts on it.
#ifndef QUENTA_HOST_HOSTOPTIONS_H_
#define QUENTA_HOST_HOSTOPTIONS_H_

#include <cstdio>
#include <string>

namespace quenta {

struct HostOptions {
  std::string root;                     // device root, made absolute
  std::string listenAddress = "127.0.0.1";
  int listenPort = 8080;                // 0: the system picks a free port
  std::string modulePath;               // default: ../lib/libwebquenta.so beside the program
  int threads = 16;                     // worker threads: module calls at once
  std::string accessLogPath;            // empty: standard output
  int keepAliveMs = 500;                // idle time before a kept connection is closed
  int requestTimeoutMs = 10000;         // a request head must be complete within it of the connection
  int bodyMinRate = 1024;               // bytes a second a body must average after requestTimeoutMs
  std::string debugLogPath;             // "-": standard error; empty: QUENTA_DEBUG_LOG, else none
};

enum class ParseOutcome { Run, Help, Bad };

// Fills `options` from argv. On Bad, `error` says what was wrong.
ParseOutcome parseHostOptions(int argc, char** argv, HostOptions* options, std::string* error);

void printUsage(std::FILE* out);

// The module path used when --module is not given: ../lib/libwebquenta.so
// relative to the directory of the running program (/proc/self/exe).
std::string defaultModulePath();

}  // namespace quenta

#endif  // QUENTA_HOST_HOSTOPTIONS_H_
