// The data connections form, "/setup/data_connections.min.html": in one post
// the digital I/O module's address (parameters 648 and 647, with 649 = 2), the
// wired ports of the monitoring connection and of EtherNet/IP (registry
// "SOFTWARE\Halden" "Veyra" and "EIP"), the FTP server switches ("Comm\FTPD"),
// three connection parameters whose codes the page supplies, and the clock
// and time zone (ClockSetting, then 671 = 1 and SetLocalTime). The steps run
// in that order and the first failure ends the form; what was written before
// it stays. The port letters report by debug lines only and never fail it.
#ifndef QUENTA_FORMS_DATACONNECTIONSFORM_H_
#define QUENTA_FORMS_DATACONNECTIONSFORM_H_

#include "forms/PostResponse.h"

class DataConnectionsForm : public PostResponse {
 public:
  DataConnectionsForm(const char* path, const SafeWString& pageFile);
  bool apply(MimePartMap& parts) override;

 private:
  // One module-address parameter as an 8-byte ip_address_pcode_only_struct.
  int writeAddressPCode(WORD code, DWORD value, const void* record);
  bool writeFtpSwitches(bool fileManager);
};

#endif  // QUENTA_FORMS_DATACONNECTIONSFORM_H_
