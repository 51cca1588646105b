#include "forms/NetworkForms.h"

#include <ntddndis.h>
#include <strsafe.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "forms/TableForm.h"
#include "js_vars/NetworkInfo.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const DWORD kOctetFieldLength = 4;
const DWORD kSecretFieldLength = 100;
const WORD kEncryptionEvent = 34;
const WORD kAuthenticationEvent = 35;
const WORD kNetworkNameRecord = 2;
const WORD kPassPhraseRecord = 3;
const DWORD kNetworkNameBytes = 32;
const DWORD kPassPhraseBytes = 64;
const DWORD kVeyraCoreTextBytes = 800;

const char* const kOrdinals[] = {"first", "second", "third", "fourth"};

// The four addresses of a static setting, in the order they are written: the
// octet fields' prefix and the registry value (null: the row's address value).
struct AddressValue {
  const char* prefix;
  const WCHAR* value;
};
const AddressValue kAddressValues[] = {
    {"ipaddress", nullptr}, {"subnetmask", TEXT("SubnetMask")}, {"gateway", TEXT("DefaultGateway")}, {"dns", TEXT("DNS")}};

const AdapterFormRow kEthernetRow = {TEXT("Comm\\CPSW3G2\\Parms\\TcpIp"), TEXT("IPAddress"), TEXT("CPSW3G2"), true};
const AdapterFormRow kWifiRow = {TEXT("Comm\\tiwlnapi1\\Parms\\TcpIp"), TEXT("IpAddress"), TEXT("tiwlnapi1"), false};

const char kFieldSuffix[] = "1";

// encryption_select_struct, authentication_select_struct.
struct select_struct {
  WORD selection;
  WORD recordID;
};
static_assert(sizeof(select_struct) == 4, "the selection records are 4 bytes");

struct veyra_core_info_struct {
  WORD recordID;
  char text[kVeyraCoreTextBytes];
};
static_assert(sizeof(veyra_core_info_struct) == 802, "veyra_core_info_struct is 802 bytes");

// The four selection setters in the order they are called.
struct SelectionWrite {
  const WCHAR* view;
  SetterCall setter;
  const char* field;
  const char* recordType;
  WORD event;
};
const SelectionWrite kSelectionWrites[] = {
    {TEXT("SetEncryptionView"), withRecord<SetEncryption>, "encryptionSelection", "encryption_select_struct", kEncryptionEvent},
    {TEXT("SetEncryptionSetView"), withRecord<SetEncryptionSet>, "encryptionSelection", "encryption_select_struct", kEncryptionEvent},
    {TEXT("SetAuthenticationView"), withRecord<SetAuthentication>, "authenticationSelection", "authentication_select_struct",
     kAuthenticationEvent},
    {TEXT("SetAuthenticationSetView"), withRecord<SetAuthenticationSet>, "authenticationSelection", "authentication_select_struct",
     kAuthenticationEvent},
};

std::string fieldName(const char* prefix, const char* ordinal, const char* suffix) {
  return std::string(prefix) + ordinal + suffix;
}

int fieldInt(MimePartMap& parts, const char* name) {
  const MimePart* part = parts.lookup(SafeCString(name));
  return part == nullptr ? 0 : part->value.toInt();
}

bool setText(HKEY key, const WCHAR* name, const SafeWString& text) {
  // Stored without a terminating zero, two bytes a character.
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), text.byteLength()) ==
         ERROR_SUCCESS;
}

bool setDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

// Asks the NDIS driver to rebind the adapter, so that the stack takes up the
// adapter's registry values.
bool rebind(const WCHAR* adapter) {
  HANDLE ndis = CreateFileW(TEXT("NDS0:"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (ndis == INVALID_HANDLE_VALUE) {
    NKDbgPrintfW(TEXT("NDIS open error: GetLastError returned 0x%x\r\n"), GetLastError());
    return false;
  }
  // The adapter's name followed by two zero characters.
  WCHAR name[MAX_PATH + 2] = {};
  size_t length = 0;
  while (adapter[length] != 0 && length < MAX_PATH) {
    name[length] = adapter[length];
    ++length;
  }
  BOOL rebound = DeviceIoControl(ndis, IOCTL_NDIS_REBIND_ADAPTER, name, static_cast<DWORD>((length + 2) * 2),
                                 nullptr, 0, nullptr, nullptr);
  if (!rebound) NKDbgPrintfW(TEXT("NDIS rebind error: GetLastError returned 0x%x\r\n"), GetLastError());
  CloseHandle(ndis);
  return rebound != FALSE;
}

// The device's Wi-Fi cipher key, from its configuration in the registry.
bool readCipherKey(DWORD key[4]) {
  HKEY halden = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Halden"), 0, 0, &halden);
  BYTE bytes[16] = {};
  DWORD type = 0;
  DWORD size = sizeof bytes;
  if (result == ERROR_SUCCESS) {
    result = RegQueryValueExW(halden, TEXT("VeyraCoreKey"), nullptr, &type, bytes, &size);
    RegCloseKey(halden);
  }
  if (result != ERROR_SUCCESS || type != REG_BINARY || size != sizeof bytes) {
    NKDbgPrintfW(TEXT("Veyra core key not available: GetLastError returned 0x%x\r\n"),
                 result == ERROR_SUCCESS ? ERROR_INVALID_DATA : static_cast<DWORD>(result));
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    key[k] = static_cast<DWORD>(bytes[4 * k]) | static_cast<DWORD>(bytes[4 * k + 1]) << 8 |
             static_cast<DWORD>(bytes[4 * k + 2]) << 16 | static_cast<DWORD>(bytes[4 * k + 3]) << 24;
  }
  return true;
}


}  // namespace

SafeWString dottedAddress(MimePartMap& parts, const char* prefix, const char* suffix) {
  SafeCString dotted;
  for (int k = 0; k < 4; ++k) {
    const MimePart* part = parts.lookup(SafeCString(fieldName(prefix, kOrdinals[k], suffix).c_str()));
    int octet = part == nullptr ? 0 : part->value.toInt();
    if (octet < 0 || octet > 255) return SafeWString(TEXT("0.0.0.0"));
    if (k > 0) dotted.append(SafeCString("."));
    if (part != nullptr) dotted.append(part->value);
  }
  return SafeWString(dotted);
}

AdapterAddressForm::AdapterAddressForm(const char* path, const SafeWString& pageFile, const AdapterFormRow& formRow)
    : PostResponse(SafeCString(path), pageFile), row(formRow) {}

void AdapterAddressForm::declareAddressFields() {
  for (const AddressValue& address : kAddressValues) {
    for (const char* ordinal : kOrdinals) {
      declareField(fieldName(address.prefix, ordinal, kFieldSuffix).c_str(), kOctetFieldLength);
    }
  }
}

bool AdapterAddressForm::applyAddresses(MimePartMap& parts) {
  bool dhcp = fieldInt(parts, "iptype1") != 0;
  HKEY key = nullptr;
  LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.key, 0, 0, &key);
  if (dhcp) {
    if (opened != ERROR_SUCCESS) {
      NKDbgPrintfW(TEXT("Key open error: GetLastError returned 0x%x\r\n"), GetLastError());
      return false;
    }
    if (!setDword(key, TEXT("EnableDHCP"), 1)) {
      NKDbgPrintfW(TEXT("Value set error: GetLastError returned 0x%x\r\n"), GetLastError());
      RegCloseKey(key);
      return false;
    }
  } else {
    if (opened != ERROR_SUCCESS) return false;
    // With "EnableDHCP" not stored the addresses are not written either, and
    // the adapter is still rebound.
    if (setDword(key, TEXT("EnableDHCP"), 0) && !writeStaticAddresses(key, parts)) {
      RegCloseKey(key);
      return false;
    }
  }
  RegCloseKey(key);
  return rebind(row.adapter);
}

bool AdapterAddressForm::writeStaticAddresses(HKEY key, MimePartMap& parts) {
  for (const AddressValue& address : kAddressValues) {
    SafeWString dotted = dottedAddress(parts, address.prefix, kFieldSuffix);
    if (address.value == nullptr && row.checkFirstPort) {
      // The second port's record takes the address it is about to store; the
      // same address as the first port's fails the form.
      StringCchCopyW(PortAddressRecord[1], kPortAddressLength, dotted.c_str());
      if (std::basic_string<WCHAR>(PortAddressRecord[1]) == std::basic_string<WCHAR>(PortAddressRecord[0])) return false;
    }
    if (!setText(key, address.value == nullptr ? row.addressValue : address.value, dotted)) return false;
  }
  return true;
}

EthernetForm::EthernetForm(const char* path, const SafeWString& pageFile)
    : AdapterAddressForm(path, pageFile, kEthernetRow) {
  declareField("iptype1");
  declareAddressFields();
}

bool EthernetForm::apply(MimePartMap& parts) {
  if (writePCode(kLinkSettingsCode, 1) == 0) return false;
  return applyAddresses(parts);
}

WifiForm::WifiForm(const char* path, const SafeWString& pageFile) : AdapterAddressForm(path, pageFile, kWifiRow) {
  declareField("encryptionSelection");
  declareField("authenticationSelection");
  declareField("user_ssid", kSecretFieldLength);
  declareField("user_pw", kSecretFieldLength);
  declareField("securitysubmit");
  declareField("iptype1");
  declareAddressFields();
  declareField("ipsubmit");
}

bool WifiForm::apply(MimePartMap& parts) {
  if (static_cast<WORD>(fieldInt(parts, "ipsubmit")) != 0) return applyAddresses(parts);
  if (static_cast<WORD>(fieldInt(parts, "securitysubmit")) != 0) return applySecurity(parts);
  return false;
}

bool WifiForm::applySecurity(MimePartMap& parts) {
  for (const SelectionWrite& write : kSelectionWrites) {
    select_struct record = {static_cast<WORD>(fieldInt(parts, write.field)), 1};
    if (writeRecord(write.view, &record, sizeof record, write.setter, write.recordType, record.selection,
                    write.event, record.selection, 1, 0) == 0) {
      return false;
    }
  }
  DWORD key[4];
  if (!readCipherKey(key)) return false;
  return writeSecret(parts.lookup(SafeCString("user_ssid"))->value, kNetworkNameBytes, kNetworkNameRecord, key) &&
         writeSecret(parts.lookup(SafeCString("user_pw"))->value, kPassPhraseBytes, kPassPhraseRecord, key);
}

bool WifiForm::writeSecret(const SafeCString& text, DWORD size, WORD recordID, const DWORD key[4]) {
  BYTE block[kPassPhraseBytes] = {};
  size_t length = text.c_str() == nullptr ? 0 : std::strlen(text.c_str());
  if (length < size) std::memcpy(block, text.c_str(), length);
  DWORD words[kPassPhraseBytes / 4];
  DWORD wordCount = size / 4;
  for (DWORD k = 0; k < wordCount; ++k) {
    words[k] = static_cast<DWORD>(block[4 * k]) | static_cast<DWORD>(block[4 * k + 1]) << 8 |
               static_cast<DWORD>(block[4 * k + 2]) << 16 | static_cast<DWORD>(block[4 * k + 3]) << 24;
  }
  XxteaEncipher(words, wordCount, key);
  veyra_core_info_struct record;
  std::memset(&record, 0, sizeof record);
  record.recordID = recordID;
  for (DWORD k = 0; k < size; ++k) {
    BYTE byte = static_cast<BYTE>(words[k / 4] >> (8 * (k % 4)));
    std::snprintf(record.text + 2 * k, 3, "%2.2X", byte);
  }
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  DWORD_PTR releaseHandle = SQLBRIDGE_NO_RELEASE;
  const WCHAR view[] = TEXT("SetVeyraCoreInfoView");
  LPVOID buffer = CreateView(view, &mapHandle);
  int count = 0;
  if (buffer != nullptr) {
    std::memcpy(buffer, &record, sizeof record);
    count = SetVeyraCoreInfo(buffer, view, &releaseHandle);
  }
  NKDbgPrintfW(TEXT("UPDATED %i veyra_core_info_struct records at recordID %i\r\n"), count, static_cast<int>(recordID));
  ReleaseView(releaseHandle);
  if (buffer != nullptr) CleanupView(reinterpret_cast<DWORD_PTR>(buffer), mapHandle);
  return count != 0;
}
