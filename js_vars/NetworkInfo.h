// The network data files: "/WIN_IP_info.js" (both wired ports and the port
// letters of the monitoring connection and EtherNet/IP), "/WIN_IP_wifi_info.js"
// (the Wi-Fi adapter) and "/WIN_FTP_info.js" (the FTP server switches). Each is
// an array whose elements are read afresh from the registry or the adapter
// list; they differ only in their element tables, so one class serves all
// three. refresh() keeps a file's text for at most 2000 ms.
//
// The elements of one variable are read in index order (getValue does): an
// adapter's "EnableDHCP" element sets the DHCP flag that chooses the value
// names of the adapter's following address elements. Not safe for
// concurrent use; the JSFile serialises the requests for its path.
#ifndef QUENTA_JS_VARS_NETWORKINFO_H_
#define QUENTA_JS_VARS_NETWORKINFO_H_

#include <windows.h>

#include "core/JSVariable.h"

// The wired ports' address records: the IP address text last read by
// "/WIN_IP_info.js" (element 1 for the first port, 7 for the second), or, for
// the second port, the address the Ethernet form is storing. At most 31
// characters and a terminator; empty at start. Process-wide and unlocked, as
// the request threads share them (one writer at a time per port in practice).
const DWORD kPortAddressLength = 32;
extern WCHAR PortAddressRecord[2][kPortAddressLength];

struct NetworkElement;

struct NetworkInfoRow {
  int slot;  // its place in the data-file registry (1-based)
  const char* path;
  const char* variable;
  const NetworkElement* elements;
  DWORD count;
};

class NetworkInfo : public JSArrayVariable {
 public:
  explicit NetworkInfo(const NetworkInfoRow& row);
  bool refresh() override;
  DWORD count() override;
  SafeCString* element(DWORD index) override;

 private:
  SafeCString* flag(const NetworkElement& element);
  SafeCString* address(const NetworkElement& element);
  SafeCString* portLetter(const NetworkElement& element);
  SafeCString* mac(const NetworkElement& element);

  const NetworkInfoRow& row;
  DWORD lastRefresh;
  DWORD dhcp;      // the DHCP flag of the adapter being read
  DWORD flags[4];  // the FTP switches
};

// The three rows, and the registry's factory (row: one of them).
extern const NetworkInfoRow kNetworkInfoRows[3];
JSVariable* createNetworkInfo(const void* row);

#endif  // QUENTA_JS_VARS_NETWORKINFO_H_
