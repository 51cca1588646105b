// How the ADAM-6050 is reached: its Modbus/TCP port and how long to wait for
// it. One text file under the device root, <root>/ADAMbridge.conf, of
// "name=value" lines ('#' starts a comment):
//
//   port=502                   the module's Modbus/TCP port (1 to 65535)
//   connect_timeout_ms=300     for the TCP connection
//   response_timeout_ms=300    for each answer
//
// A missing file or a missing line leaves the default; a time-out is kept
// between 10 and 300 ms, so a missing module never holds a request for long.
// The simulated module (quenta-machine dio serve) listens on the same port.
#ifndef QUENTA_ADAMBRIDGE_ADAMCONFIG_H_
#define QUENTA_ADAMBRIDGE_ADAMCONFIG_H_

#include <string>

namespace adambridge {

struct AdamConfig {
  unsigned port = 502;
  unsigned connectTimeoutMs = 300;
  unsigned responseTimeoutMs = 300;
};

const unsigned kShortestTimeoutMs = 10;
const unsigned kLongestTimeoutMs = 300;

// "<root>/ADAMbridge.conf"; empty without a root.
std::string configPath(const std::string& root);
// The configuration of the device root `root` (defaults where the file says
// nothing usable). Unknown names and bad numbers are ignored.
AdamConfig readConfig(const std::string& root);
// Writes the file with the given port and default time-outs; false when it
// cannot be written.
bool writeConfig(const std::string& root, unsigned port);

}  // namespace adambridge

#endif  // QUENTA_ADAMBRIDGE_ADAMCONFIG_H_
