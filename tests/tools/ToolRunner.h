// Runs quenta-machine as a child process and collects what it printed and its
// exit code. Every run is bounded: a child still running after 60 s is killed.
#ifndef QUENTA_TESTS_TOOLS_TOOLRUNNER_H_
#define QUENTA_TESTS_TOOLS_TOOLRUNNER_H_

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// `environment`: "NAME=value" to set, or "NAME" to remove, in the child only;
// `input`: its standard input.
inline ToolResult runTool(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {}, const std::string& input = "") {
  auto quote = [](const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  };
  static int runs = 0;
  std::string files = "/tmp/quenta-tool-" + std::to_string(getpid()) + "-" + std::to_string(runs++);
  std::string command = "env";
  for (const std::string& entry : environment) {
    command += (entry.find('=') == std::string::npos ? " -u " : " ") + quote(entry);
  }
  command += " timeout -s KILL 60 " + quote(QUENTA_MACHINE);
  for (const std::string& argument : arguments) command += " " + quote(argument);
  std::ofstream(files + ".in", std::ios::binary) << input;
  command += " <" + files + ".in >" + files + ".out 2>" + files + ".err";
  int status = system(command.c_str());
  ToolResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (std::string* sink : {&result.out, &result.err}) {
    std::string path = files + (sink == &result.out ? ".out" : ".err");
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    *sink = text.str();
    unlink(path.c_str());
  }
  unlink((files + ".in").c_str());
  return result;
}

#endif  // QUENTA_TESTS_TOOLS_TOOLRUNNER_H_
