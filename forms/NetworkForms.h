// The network forms: "/setup/ethernet.min.html" sets the second wired port's
// addresses, "/setup/wifi.min.html" the Wi-Fi adapter's addresses or its
// security settings. The address part of both is one table row each: the
// adapter's TCP/IP key, the name of its address value, the adapter to rebind
// and whether the address is checked against the first wired port's.
//
// Addresses go to the registry ("EnableDHCP", then for a static setting the
// four dotted addresses), after which the NDIS driver rebinds the adapter so
// the stack takes them up; "/WIN_IP_info.js" and "/WIN_IP_wifi_info.js" show
// them. The Wi-Fi security settings go to the settings database: the
// encryption and authentication selections, and the network name and pass
// phrase enciphered with XXTEA under the key of the device's configuration
// (registry "SOFTWARE\Halden", REG_BINARY value "VeyraCoreKey", 16 bytes:
// four little-endian words). Each step stops the form at its failure; what
// was written before stays.
#ifndef QUENTA_FORMS_NETWORKFORMS_H_
#define QUENTA_FORMS_NETWORKFORMS_H_

#include <windows.h>

#include "forms/PostResponse.h"

// Parameter 671: the network settings were changed (the Ethernet and the data
// connections forms set it to 1).
const WORD kLinkSettingsCode = 671;

struct AdapterFormRow {
  const WCHAR* key;
  const WCHAR* addressValue;  // "IPAddress" or "IpAddress"
  const WCHAR* adapter;
  bool checkFirstPort;  // the second wired port must not take the first's address
};

// The addresses of one adapter from the post's "iptype1" and octet fields.
class AdapterAddressForm : public PostResponse {
 protected:
  AdapterAddressForm(const char* path, const SafeWString& pageFile, const AdapterFormRow& row);
  bool applyAddresses(MimePartMap& parts);
  void declareAddressFields();

 private:
  bool writeStaticAddresses(HKEY key, MimePartMap& parts);
  const AdapterFormRow& row;
};

class EthernetForm : public AdapterAddressForm {
 public:
  EthernetForm(const char* path, const SafeWString& pageFile);
  bool apply(MimePartMap& parts) override;
};

class WifiForm : public AdapterAddressForm {
 public:
  WifiForm(const char* path, const SafeWString& pageFile);
  bool apply(MimePartMap& parts) override;

 private:
  bool applySecurity(MimePartMap& parts);
  // Enciphers `text` into a zero-filled block of `size` bytes (empty when it
  // does not fit with its terminator) and stores its hex under recordID.
  bool writeSecret(const SafeCString& text, DWORD size, WORD recordID, const DWORD key[4]);
};

// The dotted address of the four octet fields "<prefix>first<suffix>" to
// "<prefix>fourth<suffix>": the texts as received joined with ".", or
// "0.0.0.0" when any reads as a number outside 0 to 255.
SafeWString dottedAddress(MimePartMap& parts, const char* prefix, const char* suffix);

#endif  // QUENTA_FORMS_NETWORKFORMS_H_
