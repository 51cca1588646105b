// The adapter configuration and GetAdaptersInfo.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <QuentaPlatform.h>
#include <windows.h>

#include "AdapterConfig.h"
#include "RegistryStore.h"

namespace quenta {
namespace {

const char kConfigName[] = "/adapters.conf";

bool parseMac(const std::string& text, BYTE mac[6]) {
  unsigned bytes[6];
  char tail;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                  &bytes[4], &bytes[5], &tail) != 6 ||
      text.size() != 17) {
    return false;
  }
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<BYTE>(bytes[i]);
  return true;
}

bool parseLine(const std::string& line, AdapterSetup* setup, std::string* why) {
  std::istringstream words(line);
  std::string name, kind, source, detail;
  words >> name;
  if (name == "rebind-timeout-ms") {
    long long milliseconds = -1;
    std::string rest;
    if (!(words >> milliseconds) || milliseconds < 1 || milliseconds > 600000 || (words >> rest)) {
      *why = "rebind-timeout-ms needs a number of milliseconds from 1 to 600000";
      return false;
    }
    setup->rebindTimeoutMs = static_cast<DWORD>(milliseconds);
    return true;
  }
  AdapterConfig adapter;
  adapter.name = name;
  words >> kind >> source >> detail;
  if (name.size() > MAX_ADAPTER_NAME_LENGTH || (kind != "wired" && kind != "wifi")) {
    *why = "expected NAME wired|wifi simulated MAC or NAME wired|wifi interface IFNAME [COMMAND]";
    return false;
  }
  adapter.wifi = kind == "wifi";
  if (source == "simulated") {
    std::string rest;
    if (!parseMac(detail, adapter.mac) || (words >> rest)) {
      *why = "a simulated adapter needs its MAC as six hex pairs (00:1A:2B:3C:4D:5E)";
      return false;
    }
  } else if (source == "interface" && !detail.empty() && detail.size() < IFNAMSIZ) {
    adapter.simulated = false;
    adapter.interface = detail;
    std::getline(words, adapter.command);
    adapter.command.erase(0, adapter.command.find_first_not_of(" \t"));
  } else {
    *why = "the source must be simulated MAC or interface IFNAME";
    return false;
  }
  for (const AdapterConfig& other : setup->adapters) {
    if (other.name == adapter.name) {
      *why = "adapter " + name + " is named twice";
      return false;
    }
  }
  setup->adapters.push_back(adapter);
  return true;
}

std::vector<std::string> texts(const RegistryKey* key, const std::u16string& name) {
  std::vector<std::string> result;
  if (key == nullptr) return result;
  const RegistryValue* value = RegistryTree::findValue(*key, name);
  if (value == nullptr || (value->type != REG_SZ && value->type != REG_MULTI_SZ)) return result;
  std::u16string all(value->data.size() / 2, u'\0');
  if (!all.empty()) std::memcpy(&all[0], value->data.data(), all.size() * 2);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(u'\0', start);
    if (end == std::u16string::npos) end = all.size();
    if (end > start) result.push_back(narrow(all.substr(start, end - start)));
    if (value->type == REG_SZ) break;
    start = end + 1;
  }
  return result;
}

void copyAddress(const std::string& text, char out[16]) {
  std::snprintf(out, 16, "%s", text.c_str());
}

// The kernel's view of a bound adapter: MAC, IPv4 addresses and masks.
void readInterface(const std::string& interface, IP_ADAPTER_INFO* info, std::vector<std::string>* ips,
                   std::vector<std::string>* masks) {
  struct ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return;
  for (struct ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || interface != entry->ifa_name) continue;
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const struct sockaddr_ll*>(entry->ifa_addr);
      if (link->sll_halen == 6) std::memcpy(info->Address, link->sll_addr, 6);
    } else if (entry->ifa_addr->sa_family == AF_INET) {
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
      ips->push_back(text);
      std::string mask = "0.0.0.0";
      if (entry->ifa_netmask != nullptr) {
        inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(entry->ifa_netmask)->sin_addr, text,
                  sizeof text);
        mask = text;
      }
      masks->push_back(mask);
    }
  }
  freeifaddrs(all);
}

// The default gateway of an interface, from the kernel's routing table.
std::vector<std::string> kernelGateway(const std::string& interface) {
  std::ifstream routes("/proc/net/route");
  std::string line;
  std::getline(routes, line);  // the heading
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string name;
    unsigned destination = 1, gateway = 0;
    fields >> name >> std::hex >> destination >> gateway;
    if (name == interface && destination == 0) {
      struct in_addr address;
      address.s_addr = gateway;  // the table holds it in network order
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &address, text, sizeof text);
      return {text};
    }
  }
  return {};
}

struct AdapterEntry {
  IP_ADAPTER_INFO info;
  std::vector<std::string> ips, masks;
};

AdapterEntry describe(const AdapterConfig& config, DWORD index) {
  AdapterEntry entry;
  std::memset(&entry.info, 0, sizeof entry.info);
  IP_ADAPTER_INFO& info = entry.info;
  std::snprintf(info.AdapterName, sizeof info.AdapterName, "%s", config.name.c_str());
  info.ComboIndex = index;
  info.Index = index;
  info.Type = config.wifi ? IF_TYPE_IEEE80211 : MIB_IF_TYPE_ETHERNET;
  info.AddressLength = 6;
  AdapterAddresses addresses = readAdapterAddresses(config.name);
  info.DhcpEnabled = addresses.dhcp ? 1 : 0;
  std::vector<std::string> gateway;
  if (config.simulated) {
    std::snprintf(info.Description, sizeof info.Description, "Simulated adapter %s", config.name.c_str());
    std::memcpy(info.Address, config.mac, 6);
    entry.ips = addresses.ip;
    entry.masks = addresses.mask;
    gateway = addresses.gateway;
  } else {
    std::snprintf(info.Description, sizeof info.Description, "Linux interface %s", config.interface.c_str());
    readInterface(config.interface, &info, &entry.ips, &entry.masks);
    gateway = kernelGateway(config.interface);
  }
  copyAddress(entry.ips.empty() ? "0.0.0.0" : entry.ips[0], info.IpAddressList.IpAddress.String);
  copyAddress(entry.masks.empty() ? "0.0.0.0" : entry.masks[0], info.IpAddressList.IpMask.String);
  copyAddress(gateway.empty() ? "0.0.0.0" : gateway[0], info.GatewayList.IpAddress.String);
  copyAddress("0.0.0.0", info.GatewayList.IpMask.String);
  copyAddress(addresses.dhcp && !addresses.dhcpServer.empty() ? addresses.dhcpServer[0] : "0.0.0.0",
              info.DhcpServer.IpAddress.String);
  copyAddress("0.0.0.0", info.DhcpServer.IpMask.String);
  copyAddress("0.0.0.0", info.PrimaryWinsServer.IpAddress.String);
  copyAddress("0.0.0.0", info.SecondaryWinsServer.IpAddress.String);
  return entry;
}

}  // namespace

bool loadAdapterSetup(AdapterSetup* setup, std::string* error) {
  *setup = AdapterSetup();
  std::string root = deviceRoot();
  if (root.empty()) {
    *error = "no device root";
    return false;
  }
  std::ifstream file(root + kConfigName);
  if (!file) {
    *error = root + kConfigName + " is missing";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::string why;
    if (!parseLine(line, setup, &why)) {
      *error = root + kConfigName + " line " + std::to_string(number) + ": " + why;
      *setup = AdapterSetup();
      return false;
    }
  }
  return true;
}

AdapterAddresses readAdapterAddresses(const std::string& adapter) {
  auto tree = currentRegistry();
  const RegistryKey* key = tree->find(u"Comm\\" + widen(adapter) + u"\\Parms\\TcpIp");
  AdapterAddresses addresses;
  if (key != nullptr) {
    const RegistryValue* dhcp = RegistryTree::findValue(*key, u"EnableDHCP");
    if (dhcp != nullptr && dhcp->type == REG_DWORD && !dhcp->data.empty()) addresses.dhcp = dhcp->data[0] != 0;
  }
  std::u16string prefix = addresses.dhcp ? u"Dhcp" : u"";
  addresses.ip = texts(key, prefix + u"IPAddress");
  addresses.mask = texts(key, prefix + u"SubnetMask");
  addresses.gateway = texts(key, prefix + u"DefaultGateway");
  addresses.dns = texts(key, prefix + u"DNS");
  if (addresses.dhcp) addresses.dhcpServer = texts(key, u"DhcpServer");
  return addresses;
}

}  // namespace quenta

extern "C" DWORD WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO pAdapterInfo, PULONG pOutBufLen) {
  if (pOutBufLen == nullptr) return ERROR_INVALID_PARAMETER;
  try {
    quenta::AdapterSetup setup;
    std::string error;
    if (!quenta::loadAdapterSetup(&setup, &error)) {
      NKDbgPrintfW(u"GetAdaptersInfo: %hs; no adapters\r\n", error.c_str());
      return ERROR_NO_DATA;
    }
    if (setup.adapters.empty()) return ERROR_NO_DATA;
    std::vector<quenta::AdapterEntry> entries;
    size_t extra = 0;
    for (size_t i = 0; i < setup.adapters.size(); ++i) {
      entries.push_back(quenta::describe(setup.adapters[i], static_cast<DWORD>(i + 1)));
      if (entries.back().ips.size() > 1) extra += entries.back().ips.size() - 1;
    }
    size_t needed = entries.size() * sizeof(IP_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING);
    if (pAdapterInfo == nullptr || *pOutBufLen < needed) {
      *pOutBufLen = static_cast<ULONG>(needed);
      return ERROR_BUFFER_OVERFLOW;
    }
    // Adapters first, back to back, then the extra addresses of each.
    auto* extraSlot = reinterpret_cast<IP_ADDR_STRING*>(pAdapterInfo + entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      IP_ADAPTER_INFO& info = pAdapterInfo[i];
      info = entries[i].info;
      info.Next = i + 1 < entries.size() ? &pAdapterInfo[i + 1] : nullptr;
      info.CurrentIpAddress = &info.IpAddressList;
      IP_ADDR_STRING* last = &info.IpAddressList;
      for (size_t a = 1; a < entries[i].ips.size(); ++a) {
        std::memset(extraSlot, 0, sizeof *extraSlot);
        quenta::copyAddress(entries[i].ips[a], extraSlot->IpAddress.String);
        quenta::copyAddress(a < entries[i].masks.size() ? entries[i].masks[a] : "0.0.0.0",
                            extraSlot->IpMask.String);
        last->Next = extraSlot;
        last = extraSlot++;
      }
    }
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}
