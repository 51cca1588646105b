#include "adambridge/AdamConfig.h"

#include <cstdlib>
#include <fstream>

namespace adambridge {
namespace {

bool parseNumber(const std::string& text, unsigned long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

unsigned clampTimeout(unsigned long value) {
  if (value < kShortestTimeoutMs) return kShortestTimeoutMs;
  if (value > kLongestTimeoutMs) return kLongestTimeoutMs;
  return static_cast<unsigned>(value);
}

}  // namespace

std::string configPath(const std::string& root) { return root.empty() ? root : root + "/ADAMbridge.conf"; }

AdamConfig readConfig(const std::string& root) {
  AdamConfig config;
  if (root.empty()) return config;
  std::ifstream file(configPath(root));
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string name = trimmed(line.substr(0, equals));
    unsigned long value = 0;
    if (!parseNumber(trimmed(line.substr(equals + 1)), &value)) continue;
    if (name == "port" && value >= 1 && value <= 65535) {
      config.port = static_cast<unsigned>(value);
    } else if (name == "connect_timeout_ms") {
      config.connectTimeoutMs = clampTimeout(value);
    } else if (name == "response_timeout_ms") {
      config.responseTimeoutMs = clampTimeout(value);
    }
  }
  return config;
}

bool writeConfig(const std::string& root, unsigned port) {
  AdamConfig defaults;
  std::ofstream file(configPath(root), std::ios::trunc);
  file << "# How the ADAM-6050 digital I/O module is reached (Modbus/TCP).\n"
       << "port=" << port << "\n"
       << "connect_timeout_ms=" << defaults.connectTimeoutMs << "\n"
       << "response_timeout_ms=" << defaults.responseTimeoutMs << "\n";
  file.close();
  return !file.fail();
}

}  // namespace adambridge
