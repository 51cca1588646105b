// IP Helper's adapter list, as Win32 defines it. Which adapters exist, their
// order and where their addresses come from is set by the adapter
// configuration under the device root (docs/device-root.md): an adapter is
// either simulated (its MAC from the configuration, its addresses from its
// registry key "Comm\<name>\Parms\TcpIp") or bound to a Linux interface (MAC
// and addresses from the kernel).
#ifndef QUENTA_PLATFORM_IPHLPAPI_H_
#define QUENTA_PLATFORM_IPHLPAPI_H_

#include <ctime>

#include <windows.h>

#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_ADDRESS_LENGTH 8

#define MIB_IF_TYPE_ETHERNET 6
#define IF_TYPE_IEEE80211 71

#define ERROR_BUFFER_OVERFLOW 111L

typedef struct {
  char String[4 * 4];
} IP_ADDRESS_STRING, *PIP_ADDRESS_STRING, IP_MASK_STRING, *PIP_MASK_STRING;

typedef struct _IP_ADDR_STRING {
  struct _IP_ADDR_STRING* Next;
  IP_ADDRESS_STRING IpAddress;
  IP_MASK_STRING IpMask;
  DWORD Context;
} IP_ADDR_STRING, *PIP_ADDR_STRING;

typedef struct _IP_ADAPTER_INFO {
  struct _IP_ADAPTER_INFO* Next;
  DWORD ComboIndex;
  char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
  char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
  UINT AddressLength;
  BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
  DWORD Index;
  UINT Type;
  UINT DhcpEnabled;
  PIP_ADDR_STRING CurrentIpAddress;
  IP_ADDR_STRING IpAddressList;
  IP_ADDR_STRING GatewayList;
  IP_ADDR_STRING DhcpServer;
  BOOL HaveWins;
  IP_ADDR_STRING PrimaryWinsServer;
  IP_ADDR_STRING SecondaryWinsServer;
  time_t LeaseObtained;
  time_t LeaseExpires;
} IP_ADAPTER_INFO, *PIP_ADAPTER_INFO;

extern "C" {

// The adapters in configuration order, linked through Next, with every extra
// address of an adapter in the same buffer. ERROR_BUFFER_OVERFLOW with
// *pOutBufLen set to the size needed when the buffer is short (or null);
// ERROR_NO_DATA when there is no adapter (also when the configuration is
// missing or broken, which is reported on the debug output).
DWORD WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO pAdapterInfo, PULONG pOutBufLen);

}  // extern "C"

#endif  // QUENTA_PLATFORM_IPHLPAPI_H_
