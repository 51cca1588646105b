#include "js_vars/NetworkInfo.h"

#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <new>

WCHAR PortAddressRecord[2][kPortAddressLength];

namespace {

// Registry reads use a 64-byte buffer; two more zero bytes always end the
// text, so a value of exactly 64 bytes cannot run the conversion past it.
const DWORD kQuerySize = 64;
const int kAddressTextSize = 32;
const DWORD kAdapterListSize = 2592;
const DWORD kRefreshInterval = 2000;

// An adapter's TCP/IP key, its name in the adapter list, the number its debug
// lines carry, whether failed reads give fixed defaults, and its port address
// record (-1: none).
struct Port {
  const WCHAR* key;
  const char* adapter;
  int number;
  bool defaults;
  int record;
};
const Port kFirstPort = {TEXT("Comm\\CPSW3G1\\Parms\\TcpIp"), "CPSW3G1", 1, false, 0};
const Port kSecondPort = {TEXT("Comm\\CPSW3G2\\Parms\\TcpIp"), "CPSW3G2", 2, true, 1};
const Port kWifiPort = {TEXT("Comm\\tiwlnapi1\\Parms\\TcpIp"), "tiwlnapi1", 3, false, -1};

// The address items: value name with DHCP on, without (null: not read), the
// word of the debug line, and the second port's default.
struct AddressItem {
  const WCHAR* dhcpName;
  const WCHAR* staticName;
  const WCHAR* debugWord;
  const char* portDefault;
};
enum { kIpAddress, kSubnetMask, kGateway, kDns, kDhcpServer };
const AddressItem kAddressItems[] = {
    {TEXT("DhcpIPAddress"), TEXT("IPAddress"), TEXT("IP Address"), "'169.254.0.2'"},
    {TEXT("DhcpSubnetMask"), TEXT("SubnetMask"), TEXT("Mask"), "'255.255.255.0'"},
    {TEXT("DhcpDefaultGateway"), TEXT("DefaultGateway"), TEXT("Gateway"), "'169.254.0.1'"},
    {TEXT("DhcpDNS"), TEXT("DNS"), TEXT("DNS"), "'169.254.0.1'"},
    {TEXT("DhcpServer"), nullptr, TEXT("DHCP"), "'0.0.0.0'"},
};

const WCHAR kFtpKey[] = TEXT("Comm\\FTPD");
const WCHAR kHaldenKey[] = TEXT("SOFTWARE\\Halden");

}  // namespace

enum ElementKind { kDhcpFlag, kSwitch, kAddress, kMac, kPortLetter };

// One array element: its kind, the adapter it belongs to (kDhcpFlag, kAddress,
// kMac), the address item or switch index, the key and value name of a switch
// or port letter, and the source file and line a failed adapter list reports.
struct NetworkElement {
  ElementKind kind;
  const Port* port;
  int item;
  const WCHAR* key;
  const WCHAR* value;
  const char* source;
  int line;
};

namespace {

#define ADAPTER_ELEMENTS(port)                                                                   \
  {kDhcpFlag, &port, 0, nullptr, nullptr, nullptr, 0}, {kAddress, &port, kIpAddress, nullptr, nullptr, nullptr, 0}, \
      {kAddress, &port, kSubnetMask, nullptr, nullptr, nullptr, 0},                              \
      {kAddress, &port, kGateway, nullptr, nullptr, nullptr, 0},                                 \
      {kAddress, &port, kDns, nullptr, nullptr, nullptr, 0},                                     \
      {kAddress, &port, kDhcpServer, nullptr, nullptr, nullptr, 0}

const NetworkElement kIpElements[] = {
    ADAPTER_ELEMENTS(kFirstPort),
    ADAPTER_ELEMENTS(kSecondPort),
    {kMac, &kFirstPort, 0, nullptr, nullptr, ".\\js_vars\\WIN_IP_info", 406},
    {kMac, &kSecondPort, 0, nullptr, nullptr, ".\\js_vars\\WIN_IP_info", 447},
    {kPortLetter, nullptr, 0, kHaldenKey, TEXT("Veyra"), nullptr, 0},
    {kPortLetter, nullptr, 0, kHaldenKey, TEXT("EIP"), nullptr, 0},
};

const NetworkElement kWifiElements[] = {
    ADAPTER_ELEMENTS(kWifiPort),
    {kMac, &kWifiPort, 0, nullptr, nullptr, ".\\js_vars\\WIN_IP_wifi_info", 230},
};

const NetworkElement kFtpElements[] = {
    {kSwitch, nullptr, 0, kFtpKey, TEXT("IsEnabled"), nullptr, 0},
    {kSwitch, nullptr, 1, kFtpKey, TEXT("UseAuthentication"), nullptr, 0},
    {kSwitch, nullptr, 2, kFtpKey, TEXT("AllowAnonymousUpload"), nullptr, 0},
    {kSwitch, nullptr, 3, kFtpKey, TEXT("AllowAnonymousVroots"), nullptr, 0},
};

#define COUNT_OF(table) static_cast<DWORD>(sizeof(table) / sizeof((table)[0]))


SafeCString* text(const char* value) { return new (std::nothrow) SafeCString(value); }

SafeCString* quoted(const char* value) {
  SafeCString* result = new (std::nothrow) SafeCString(JS_QUOTE);
  if (result != nullptr) {
    result->append(SafeCString(value));
    result->append(JS_QUOTE);
  }
  return result;
}

// An open key, closed when it goes.
class OpenKey {
 public:
  explicit OpenKey(const WCHAR* path) : opened(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key) == ERROR_SUCCESS) {}
  ~OpenKey() {
    if (opened) RegCloseKey(key);
  }
  bool isOpen() const { return opened; }
  // Queries into the zero-filled 64-byte buffer; true on success.
  bool query(const WCHAR* name, DWORD* type, BYTE* data) {
    DWORD size = kQuerySize;
    return RegQueryValueExW(key, name, nullptr, type, data, &size) == ERROR_SUCCESS;
  }

 private:
  HKEY key = nullptr;
  bool opened;
};

}  // namespace

NetworkInfo::NetworkInfo(const NetworkInfoRow& infoRow)
    : JSArrayVariable(SafeCString(infoRow.variable)), row(infoRow), lastRefresh(GetTickCount()), dhcp(0),
      flags{0, 0, 0, 0} {}

bool NetworkInfo::refresh() { return GetTickCount() - lastRefresh > kRefreshInterval; }

DWORD NetworkInfo::count() { return row.count; }

SafeCString* NetworkInfo::element(DWORD index) {
  if (index >= row.count) return nullptr;
  if (refresh()) lastRefresh = GetTickCount();
  const NetworkElement& element = row.elements[index];
  switch (element.kind) {
    case kDhcpFlag:
    case kSwitch:
      return flag(element);
    case kAddress:
      return address(element);
    case kPortLetter:
      return portLetter(element);
    case kMac:
      return mac(element);
  }
  return nullptr;
}

SafeCString* NetworkInfo::flag(const NetworkElement& element) {
  bool isDhcp = element.kind == kDhcpFlag;
  DWORD& member = isDhcp ? dhcp : flags[element.item];
  member = isDhcp ? 1 : 0;
  OpenKey key(isDhcp ? element.port->key : element.key);
  if (!key.isOpen()) return text("''");
  BYTE data[kQuerySize + 2] = {};
  DWORD type = 0;
  if (key.query(isDhcp ? TEXT("EnableDHCP") : element.value, &type, data) && type == REG_DWORD) member = data[0];
  return text(member != 0 ? "1" : "0");
}

SafeCString* NetworkInfo::address(const NetworkElement& element) {
  const AddressItem& item = kAddressItems[element.item];
  const WCHAR* name = dhcp != 0 ? item.dhcpName : item.staticName;
  if (name == nullptr) return text("''");
  const Port& port = *element.port;
  OpenKey key(port.key);
  if (!key.isOpen()) return text("''");
  BYTE data[kQuerySize + 2] = {};
  DWORD type = 0;
  char buffer[kAddressTextSize] = {};
  if (!key.query(name, &type, data)) return port.defaults ? text(item.portDefault) : text("''");
  if (type != REG_SZ && type != REG_MULTI_SZ) return text("''");
  const WCHAR* wide = reinterpret_cast<const WCHAR*>(data);
  if (element.item == kIpAddress && port.record >= 0) {
    // The text as stored, up to its first zero, cut to the record's size.
    WCHAR* record = PortAddressRecord[port.record];
    DWORD k = 0;
    for (; k + 1 < kPortAddressLength && wide[k] != 0; ++k) record[k] = wide[k];
    record[k] = 0;
  }
  // For a REG_MULTI_SZ the conversion stops at the first string's end.
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, kAddressTextSize, nullptr, nullptr) == 0) {
    NKDbgPrintfW(TEXT("%s %d conversion error: GetLastError returned 0x%x\r\n"), item.debugWord, port.number,
                 GetLastError());
    // What a failed conversion left in the buffer is not a text to send.
    return text("''");
  }
  return quoted(buffer);
}

SafeCString* NetworkInfo::portLetter(const NetworkElement& element) {
  OpenKey key(element.key);
  if (!key.isOpen()) return text("''");
  BYTE data[kQuerySize + 2] = {};
  DWORD type = 0;
  if (!key.query(element.value, &type, data) || type != REG_SZ) return text("''");
  SafeCString letter(SafeWString(reinterpret_cast<const WCHAR*>(data)));
  return quoted(letter.c_str());
}

SafeCString* NetworkInfo::mac(const NetworkElement& element) {
  // Room for 2592 bytes of adapter records, aligned for them.
  IP_ADAPTER_INFO adapters[kAdapterListSize / sizeof(IP_ADAPTER_INFO) + 1];
  ULONG size = kAdapterListSize;
  if (GetAdaptersInfo(adapters, &size) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("%s: DEBUGCHK failed in file %hs at line %d \r\n"), TEXT("Unknown"), element.source, element.line);
    return text("''");
  }
  // The wanted adapter, or the last of the list when none matches.
  const IP_ADAPTER_INFO* adapter = adapters;
  while (std::strncmp(adapter->AdapterName, element.port->adapter, 256) != 0 && adapter->Next != nullptr) {
    adapter = adapter->Next;
  }
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", adapter->Address[0], adapter->Address[1],
                adapter->Address[2], adapter->Address[3], adapter->Address[4], adapter->Address[5]);
  return quoted(mac);
}

const NetworkInfoRow kNetworkInfoRows[3] = {
    {17, "/WIN_IP_info.js", "WIN_IP_info", kIpElements, COUNT_OF(kIpElements)},
    {121, "/WIN_IP_wifi_info.js", "WIN_IP_wifi_info", kWifiElements, COUNT_OF(kWifiElements)},
    {133, "/WIN_FTP_info.js", "WIN_FTP_info", kFtpElements, COUNT_OF(kFtpElements)},
};

JSVariable* createNetworkInfo(const void* row) {
  return new (std::nothrow) NetworkInfo(*static_cast<const NetworkInfoRow*>(row));
}
