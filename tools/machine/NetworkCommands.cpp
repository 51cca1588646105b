// `registry` and `adapters`: the device root's registry store and adapter
// list as the module sees them, and the demo network that `init --demo` lays
// out.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QuentaPlatform.h>
#include <windows.h>

#include "tools/machine/Commands.h"

namespace machine {
namespace {

const char kRegistryHelp[] =
    "usage: quenta-machine --root DIR registry COMMAND\n"
    "\n"
    "The registry (HKEY_LOCAL_MACHINE) in DIR/registry.reg:\n"
    "  export                      the whole store as .reg text on stdout\n"
    "  import FILE                 merge a .reg file (regedit's format); the file is\n"
    "                              checked first and nothing is written if any line is wrong\n"
    "  get KEY [VALUE]             a value's data, or every value of KEY as VALUE TYPE DATA\n"
    "  set KEY VALUE TYPE DATA     store a value, making KEY if missing\n"
    "\n"
    "KEY is a path below HKEY_LOCAL_MACHINE (Comm\\FTPD); VALUE @ is the default value.\n"
    "TYPE and DATA: REG_SZ and REG_EXPAND_SZ text, REG_MULTI_SZ texts separated by ';',\n"
    "REG_DWORD a number (decimal or 0x hex), REG_BINARY hex bytes (0a1b2c).\n";

const char kAdaptersHelp[] =
    "usage: quenta-machine --root DIR adapters\n"
    "\n"
    "The adapter list of GetAdaptersInfo, one JSON object a line, from\n"
    "DIR/adapters.conf and the registry (simulated adapters) or the kernel\n"
    "(adapters bound to an interface).\n";

const char kDemoAdapters[] =
    "# adapter   kind   source\n"
    "# NAME wired|wifi simulated MAC, or NAME wired|wifi interface IFNAME [REBIND COMMAND]\n"
    "CPSW3G1     wired  simulated 00:1A:2B:3C:4D:01\n"
    "CPSW3G2     wired  simulated 00:1A:2B:3C:4D:02\n"
    "tiwlnapi1   wifi   simulated 00:1A:2B:3C:4D:03\n";

// Port A static, port B on DHCP, Wi-Fi on DHCP; the FTP server on with
// authentication; monitoring on port A, EtherNet/IP on port B; the demo Wi-Fi
// cipher key (a real machine gets its own with its configuration).
const char kDemoRegistry[] =
    "Windows Registry Editor Version 5.00\n"
    "\n[HKEY_LOCAL_MACHINE\\Comm\\CPSW3G1\\Parms\\TcpIp]\n"
    "\"EnableDHCP\"=dword:00000000\n"
    "\"IPAddress\"=\"192.168.1.50\"\n"
    "\"SubnetMask\"=\"255.255.255.0\"\n"
    "\"DefaultGateway\"=\"192.168.1.1\"\n"
    "\"DNS\"=\"192.168.1.1\"\n"
    "\n[HKEY_LOCAL_MACHINE\\Comm\\CPSW3G2\\Parms\\TcpIp]\n"
    "\"EnableDHCP\"=dword:00000001\n"
    "\"IPAddress\"=\"169.254.0.2\"\n"
    "\"SubnetMask\"=\"255.255.255.0\"\n"
    "\"DhcpIPAddress\"=\"10.20.30.41\"\n"
    "\"DhcpSubnetMask\"=\"255.255.0.0\"\n"
    "\"DhcpDefaultGateway\"=\"10.20.0.1\"\n"
    "\"DhcpDNS\"=hex(7):31,00,30,00,2e,00,32,00,30,00,2e,00,30,00,2e,00,35,00,00,00,31,00,30,00,2e,00,\\\n"
    "  32,00,30,00,2e,00,30,00,2e,00,36,00,00,00,00,00\n"
    "\"DhcpServer\"=\"10.20.0.2\"\n"
    "\n[HKEY_LOCAL_MACHINE\\Comm\\tiwlnapi1\\Parms\\TcpIp]\n"
    "\"EnableDHCP\"=dword:00000001\n"
    "\"DhcpIPAddress\"=\"192.168.50.23\"\n"
    "\"DhcpSubnetMask\"=\"255.255.255.0\"\n"
    "\"DhcpDefaultGateway\"=\"192.168.50.1\"\n"
    "\"DhcpDNS\"=\"192.168.50.1\"\n"
    "\"DhcpServer\"=\"192.168.50.1\"\n"
    "\n[HKEY_LOCAL_MACHINE\\Comm\\FTPD]\n"
    "\"IsEnabled\"=dword:00000001\n"
    "\"UseAuthentication\"=dword:00000001\n"
    "\"AllowAnonymousUpload\"=dword:00000000\n"
    "\"AllowAnonymousVroots\"=dword:00000000\n"
    "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halden]\n"
    "\"Veyra\"=\"A\"\n"
    "\"EIP\"=\"B\"\n"
    "\"VeyraCoreKey\"=hex:de,6d,0c,5a,41,7e,93,b2,08,c4,51,f7,3a,29,e6,d0\n";

struct TypeName {
  DWORD type;
  const char* name;
};
const TypeName kTypeNames[] = {{REG_NONE, "REG_NONE"},         {REG_SZ, "REG_SZ"},
                               {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
                               {REG_DWORD, "REG_DWORD"},       {REG_MULTI_SZ, "REG_MULTI_SZ"}};

std::u16string valueName(const std::string& name) { return name == "@" ? std::u16string() : quenta::widen(name); }

std::string typeName(DWORD type) {
  for (const TypeName& known : kTypeNames) {
    if (known.type == type) return known.name;
  }
  return "REG_" + std::to_string(type);
}

// DATA as `set` takes it back.
std::string describe(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_DWORD && data.size() == 4) {
    return std::to_string(data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    std::u16string wide(data.size() / 2, u'\0');
    if (!wide.empty()) std::memcpy(&wide[0], data.data(), wide.size() * 2);
    while (!wide.empty() && wide.back() == 0) wide.pop_back();
    for (char16_t& unit : wide) {
      if (unit == 0) unit = u';';
    }
    return quenta::narrow(wide);
  }
  std::string hex;
  char pair[3];
  for (BYTE byte : data) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

bool encode(const std::string& type, const std::string& text, DWORD* code, std::vector<BYTE>* data) {
  bool known = false;
  for (const TypeName& name : kTypeNames) {
    if (type == name.name) {
      *code = name.type;
      known = true;
    }
  }
  if (!known) return false;
  if (*code == REG_DWORD) {
    char* end = nullptr;
    unsigned long long number = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != 0 || number > 0xFFFFFFFFull || text[0] == '-') return false;
    for (int shift = 0; shift < 32; shift += 8) data->push_back(static_cast<BYTE>(number >> shift));
    return true;
  }
  if (*code == REG_SZ || *code == REG_EXPAND_SZ || *code == REG_MULTI_SZ) {
    std::u16string wide = quenta::widen(text);
    if (*code == REG_MULTI_SZ) {
      for (char16_t& unit : wide) {
        if (unit == u';') unit = 0;
      }
      wide.push_back(0);
    }
    wide.push_back(0);
    data->resize(wide.size() * 2);
    std::memcpy(data->data(), wide.data(), data->size());
    return true;
  }
  if (*code == REG_BINARY) {
    if (text.size() % 2 != 0) return false;
    for (size_t k = 0; k < text.size(); k += 2) {
      char* end = nullptr;
      std::string pair = text.substr(k, 2);
      long byte = std::strtol(pair.c_str(), &end, 16);
      if (*end != 0 || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return false;
      data->push_back(static_cast<BYTE>(byte));
    }
    return true;
  }
  return false;
}

int failed(const std::string& what, LONG error) {
  return complain(kExitFailure, what + " (error " + std::to_string(error) + ")");
}

// One value's type and data: ERROR_SUCCESS, or the registry's error.
LONG readValue(HKEY key, const std::u16string& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (result != ERROR_SUCCESS) return result;
  data->resize(size + 1);
  result = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return result;
}

int getValues(const std::string& keyPath, const char* onlyValue) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, quenta::widen(keyPath).c_str(), 0, KEY_READ, &key);
  if (result != ERROR_SUCCESS) return failed("registry: no key " + keyPath, result);
  DWORD type = 0;
  std::vector<BYTE> data;
  if (onlyValue != nullptr) {
    result = readValue(key, valueName(onlyValue), &type, &data);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return failed(std::string("registry: no value ") + onlyValue, result);
    std::printf("%s\n", describe(type, data).c_str());
    return kExitOk;
  }
  std::vector<WCHAR> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    std::u16string shown(name.data(), nameLength);
    if (readValue(key, shown, &type, &data) != ERROR_SUCCESS) continue;
    std::printf("%s %s %s\n", shown.empty() ? "@" : quenta::narrow(shown).c_str(), typeName(type).c_str(),
                describe(type, data).c_str());
  }
  RegCloseKey(key);
  return kExitOk;
}

int setValue(char** argv) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!encode(argv[4], argv[5], &type, &data)) {
    return complain(kExitUsage, std::string("registry set: ") + argv[4] + " data '" + argv[5] +
                                    "' is not valid (see registry --help)");
  }
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, quenta::widen(argv[2]).c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return failed(std::string("registry: cannot make ") + argv[2], result);
  result = RegSetValueExW(key, valueName(argv[3]).c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return failed(std::string("registry: cannot set ") + argv[3], result);
  return kExitOk;
}

int useRoot(const Context& context) {
  if (context.root.empty()) return complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
  setenv("QUENTA_ROOT", context.root.c_str(), 1);
  return kExitOk;
}

std::string addressList(const IP_ADDR_STRING* address) {
  std::string list;
  for (; address != nullptr; address = address->Next) {
    list += std::string(list.empty() ? "" : ",") + "{\"ip\":" + jsonString(address->IpAddress.String) +
            ",\"mask\":" + jsonString(address->IpMask.String) + "}";
  }
  return "[" + list + "]";
}

}  // namespace

int runRegistry(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kRegistryHelp);
  int rooted = useRoot(context);
  if (rooted != kExitOk) return rooted;
  std::string command = argc > 1 ? argv[1] : "";
  std::string error;
  if (command == "export" && argc == 2) {
    std::string text;
    if (!quenta::exportRegistry(&text, &error)) return complain(kExitFailure, "registry export: " + error);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
  }
  if (command == "import" && argc == 3) {
    std::ifstream file(argv[2], std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) return complain(kExitFailure, std::string("registry import: cannot read ") + argv[2]);
    if (!quenta::importRegistry(text.str(), &error)) {
      return complain(kExitFailure, std::string("registry import: ") + argv[2] + " " + error + "; nothing imported");
    }
    return kExitOk;
  }
  if (command == "get" && (argc == 3 || argc == 4)) return getValues(argv[2], argc == 4 ? argv[3] : nullptr);
  if (command == "set" && argc == 6) return setValue(argv);
  return complain(kExitUsage, "registry: expected export, import FILE, get KEY [VALUE] or set KEY VALUE TYPE DATA");
}

int runAdapters(const Context& context, int argc, char** argv) {
  if (wantsHelp(argc, argv)) return showHelp(kAdaptersHelp);
  if (argc > 1) return complain(kExitUsage, "adapters takes no arguments (see adapters --help)");
  int rooted = useRoot(context);
  if (rooted != kExitOk) return rooted;
  ULONG size = 0;
  DWORD result = GetAdaptersInfo(nullptr, &size);
  if (result == ERROR_NO_DATA) return kExitOk;
  std::vector<IP_ADAPTER_INFO> adapters(size / sizeof(IP_ADAPTER_INFO) + 1);
  size = static_cast<ULONG>(adapters.size() * sizeof(IP_ADAPTER_INFO));
  result = GetAdaptersInfo(adapters.data(), &size);
  if (result != ERROR_SUCCESS) return failed("adapters: GetAdaptersInfo failed", static_cast<LONG>(result));
  for (const IP_ADAPTER_INFO* adapter = adapters.data(); adapter != nullptr; adapter = adapter->Next) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", adapter->Address[0], adapter->Address[1],
                  adapter->Address[2], adapter->Address[3], adapter->Address[4], adapter->Address[5]);
    std::printf("{\"name\":%s,\"description\":%s,\"mac\":\"%s\",\"index\":%u,\"type\":%u,\"dhcp\":%u,"
                "\"addresses\":%s,\"gateway\":%s,\"dhcpServer\":%s}\n",
                jsonString(adapter->AdapterName).c_str(), jsonString(adapter->Description).c_str(), mac,
                adapter->Index, adapter->Type, adapter->DhcpEnabled, addressList(&adapter->IpAddressList).c_str(),
                jsonString(adapter->GatewayList.IpAddress.String).c_str(),
                jsonString(adapter->DhcpServer.IpAddress.String).c_str());
  }
  return kExitOk;
}

bool storeDemoNetwork(const Context& context) {
  if (useRoot(context) != kExitOk) return false;
  std::string adapters = context.root + "/adapters.conf";
  if (!std::ifstream(adapters)) {
    std::ofstream out(adapters);
    out << kDemoAdapters;
    if (!out) {
      complain(kExitFailure, "cannot write " + adapters);
      return false;
    }
  }
  // An existing registry is the machine's own: the demo does not touch it.
  if (std::ifstream(context.root + "/registry.reg")) return true;
  std::string error;
  if (!quenta::importRegistry(kDemoRegistry, &error)) {
    complain(kExitFailure, "cannot store the demo registry: " + error);
    return false;
  }
  return true;
}

}  // namespace machine
