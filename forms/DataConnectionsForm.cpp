#include "forms/DataConnectionsForm.h"

#include <cstring>
#include <new>

#include "forms/ClockSetting.h"
#include "forms/NetworkForms.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const WORD kModuleConnectionCode = 649;
const WORD kModuleAddressHighCode = 648;
const WORD kModuleAddressLowCode = 647;
const WORD kParameterEvent = 8;

struct ip_address_pcode_only_struct {
  DWORD value;
  WORD recordID;
  WORD unused;
};
static_assert(sizeof(ip_address_pcode_only_struct) == 8, "ip_address_pcode_only_struct is 8 bytes");

struct DeclaredField {
  const char* name;
  DWORD maxLength;
};
const DeclaredField kFields[] = {
    {"veyra_ostrel", 15}, {"veyraenablepcode", 15}, {"veyra_core", 15},     {"veyracoreenablepcode", 15},
    {"ethernet_ip", 15},  {"robot_comm_pcode", 15}, {"hidveyra", 4},        {"hideip", 4},
    {"year", ClockSetting::kTimeFieldLength},       {"month", ClockSetting::kTimeFieldLength},
    {"day", ClockSetting::kTimeFieldLength},        {"hour", ClockSetting::kTimeFieldLength},
    {"minute", ClockSetting::kTimeFieldLength},     {"tzlist", ClockSetting::kZoneFieldLength},
    {"filemanagervalue", 15}, {"ipaddressfirst", 15}, {"ipaddresssecond", 15}, {"ipaddressthird", 15},
    {"ipaddressfourth", 15},
};

// The connection parameters whose codes the page supplies, in the order written.
struct PagedParameter {
  const char* codeField;
  const char* valueField;
};
const PagedParameter kPagedParameters[] = {
    {"robot_comm_pcode", "ethernet_ip"},
    {"veyracoreenablepcode", "veyra_core"},
    {"veyraenablepcode", "veyra_ostrel"},
};

// The FTP server switches in the order set: on for a nonzero
// "filemanagervalue" unless inverted (authentication is asked when it is 0).
struct FtpSwitch {
  const WCHAR* value;
  bool inverted;
};
const FtpSwitch kFtpSwitches[] = {
    {TEXT("IsEnabled"), false}, {TEXT("UseAuthentication"), true}, {TEXT("AllowAnonymousUpload"), false},
    {TEXT("AllowAnonymousVroots"), false}};

// The port letters in the order compared: a field, the letter it must be,
// the registry value and its debug name.
struct PortLetter {
  const char* field;
  const char* letter;
  const WCHAR* value;
};
const PortLetter kPortLetters[] = {
    {"hidveyra", "B", TEXT("Veyra")}, {"hideip", "B", TEXT("EIP")}, {"hidveyra", "A", TEXT("Veyra")}, {"hideip", "A", TEXT("EIP")}};

// A field's number kept to 16 bits.
WORD word(MimePartMap& parts, const char* name) {
  WORD value = 0;
  PostResponse::fieldWord(parts, name, kAsInteger, &value);
  return value;
}

// Sets "Veyra" or "EIP" under "SOFTWARE\Halden" to the letter, with its
// terminator; reports by debug lines only.
void setPort(const WCHAR* value, const char* letter) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Halden"), 0, 0, &key) != ERROR_SUCCESS) return;
  const WCHAR text[2] = {static_cast<WCHAR>(letter[0]), 0};
  if (RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text) == ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("%s port set to %s\r\n"), value, text);
  } else {
    NKDbgPrintfW(TEXT("%s port not set\r\n"), value);
  }
  RegCloseKey(key);
}

}  // namespace

DataConnectionsForm::DataConnectionsForm(const char* path, const SafeWString& pageFile)
    : PostResponse(SafeCString(path), pageFile) {
  for (const DeclaredField& field : kFields) declareField(field.name, field.maxLength);
}

int DataConnectionsForm::writeAddressPCode(WORD code, DWORD value, const void* record) {
  const WCHAR view[] = TEXT("SetPCodeView");
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  LPVOID buffer = CreateView(view, &mapHandle);
  int count = 0;
  if (buffer != nullptr) {
    std::memcpy(buffer, record, sizeof(ip_address_pcode_only_struct));
    count = SetPCode(code, static_cast<WORD>(value), view);
  }
  NKDbgPrintfW(TEXT("UPDATED %i ip_address_pcode_only_struct records at recordID %i\r\n"), count, static_cast<int>(code));
  if (count != 0) mailbox.post(kParameterEvent, code, 1, 0);
  if (buffer != nullptr) CleanupView(reinterpret_cast<DWORD_PTR>(buffer), mapHandle);
  return count;
}

bool DataConnectionsForm::writeFtpSwitches(bool fileManager) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Comm\\FTPD"), 0, 0, &key) != ERROR_SUCCESS) {
    NKDbgPrintfW(TEXT("Key open error: GetLastError returned 0x%x\r\n"), GetLastError());
    return false;
  }
  for (const FtpSwitch& ftpSwitch : kFtpSwitches) {
    DWORD on = fileManager != ftpSwitch.inverted ? 1 : 0;
    if (RegSetValueExW(key, ftpSwitch.value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on) !=
        ERROR_SUCCESS) {
      NKDbgPrintfW(TEXT("Value set error: GetLastError returned 0x%x\r\n"), GetLastError());
      RegCloseKey(key);
      return false;
    }
  }
  RegCloseKey(key);
  return true;
}

bool DataConnectionsForm::apply(MimePartMap& parts) {
  // 649 = 2 goes out in the shorter record's order: value u16, code u16.
  ip_address_pcode_only_struct record;
  std::memset(&record, 0, sizeof record);
  const WORD connection[2] = {2, kModuleConnectionCode};
  std::memcpy(&record, connection, sizeof connection);
  if (writeAddressPCode(kModuleConnectionCode, 2, &record) == 0) return false;
  const struct {
    WORD code;
    const char* high;
    const char* low;
  } addressParts[] = {{kModuleAddressHighCode, "ipaddressfirst", "ipaddresssecond"},
                      {kModuleAddressLowCode, "ipaddressthird", "ipaddressfourth"}};
  for (const auto& part : addressParts) {
    std::memset(&record, 0, sizeof record);
    record.value = static_cast<WORD>(word(parts, part.high) * 256 + word(parts, part.low));
    record.recordID = part.code;
    if (writeAddressPCode(part.code, record.value, &record) == 0) return false;
  }
  bool fileManager = word(parts, "filemanagervalue") != 0;
  for (const PortLetter& port : kPortLetters) {
    const MimePart* part = parts.lookup(SafeCString(port.field));
    if (part != nullptr && part->value == SafeCString(port.letter)) setPort(port.value, port.letter);
  }
  if (!writeFtpSwitches(fileManager)) return false;
  for (const PagedParameter& parameter : kPagedParameters) {
    if (writePCode(word(parts, parameter.codeField), word(parts, parameter.valueField)) == 0) return false;
  }
  SYSTEMTIME time;
  if (!ClockSetting::readClockFields(parts, &time)) return false;
  ClockSetting::applyTimeService(parts);
  if (writePCode(kLinkSettingsCode, 1) == 0) return false;
  // No clock event here: the welder information form posts that one.
  return SetLocalTime(&time) != FALSE;
}
