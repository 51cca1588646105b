// Runs quenta-machine as a child process and collects what it printed and its
// exit code. Every run is bounded: a child still running after 60 s is killed.
#ifndef QUENTA_TESTS_TOOLS_TOOLRUNNER_H_
#define QUENTA_TESTS_TOOLS_TOOLRUNNER_H_

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// `environment`: "NAME=value" to set, or "NAME" to remove, in the child only.
inline ToolResult runTool(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {}) {
  ToolResult result;
  char outPath[] = "/tmp/quenta-tool-out-XXXXXX";
  char errPath[] = "/tmp/quenta-tool-err-XXXXXX";
  int outFd = mkstemp(outPath);
  int errFd = mkstemp(errPath);
  if (outFd < 0 || errFd < 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outFd, 1);
    dup2(errFd, 2);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    for (const std::string& entry : environment) {
      size_t equals = entry.find('=');
      if (equals == std::string::npos) {
        unsetenv(entry.c_str());
      } else {
        setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
      }
    }
    std::vector<char*> argv;
    std::string program = QUENTA_MACHINE;
    argv.push_back(&program[0]);
    std::vector<std::string> copies(arguments);
    for (std::string& argument : copies) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(outFd);
  close(errFd);
  auto slurp = [](const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
  };
  result.out = slurp(outPath);
  result.err = slurp(errPath);
  return result;
}

#endif  // QUENTA_TESTS_TOOLS_TOOLRUNNER_H_
