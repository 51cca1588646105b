// The adapter configuration: "<root>/adapters.conf", one adapter a line in
// the order GetAdaptersInfo lists them,
//
//   NAME wired|wifi simulated MAC
//   NAME wired|wifi interface IFNAME [REBIND COMMAND ...]
//
// and optionally "rebind-timeout-ms N" (default 10000). '#' starts a comment.
// A simulated adapter has the MAC given and the addresses of its registry key
// "Comm\NAME\Parms\TcpIp"; an adapter on an interface has the kernel's. The
// rebind command runs through /bin/sh -c with the adapter's registry values in
// its environment (docs/device-root.md).
#ifndef QUENTA_PLATFORM_SRC_ADAPTERCONFIG_H_
#define QUENTA_PLATFORM_SRC_ADAPTERCONFIG_H_

#include <string>
#include <vector>

#include <windows.h>

namespace quenta {

struct AdapterConfig {
  std::string name;
  bool wifi = false;
  bool simulated = true;
  BYTE mac[6] = {};         // simulated
  std::string interface;    // bound
  std::string command;      // bound; empty: the rebind only logs
};

struct AdapterSetup {
  std::vector<AdapterConfig> adapters;
  DWORD rebindTimeoutMs = 10000;
};

// Reads the configuration of the current root. False, with *error saying
// which line and why (or that the file is missing), and an empty setup.
bool loadAdapterSetup(AdapterSetup* setup, std::string* error);

// An adapter's TCP/IP values as its registry key "Comm\NAME\Parms\TcpIp"
// holds them now: "EnableDHCP" (on when missing) chooses between the static
// values ("IPAddress" or "IpAddress", "SubnetMask", "DefaultGateway", "DNS")
// and the Dhcp* ones. Every string of a REG_MULTI_SZ; empty lists for
// missing values.
struct AdapterAddresses {
  bool dhcp = true;
  std::vector<std::string> ip, mask, gateway, dns, dhcpServer;
};
AdapterAddresses readAdapterAddresses(const std::string& adapter);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_ADAPTERCONFIG_H_
