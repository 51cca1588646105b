// The network data files over a registry and adapter list made for each case.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QuentaPlatform.h>

#include "core/JSFile.h"
#include "js_vars/NetworkInfo.h"
#include "tests/platform/TempRoot.h"

namespace {

const char kAdapters[] =
    "CPSW3G1 wired simulated 00:1A:2B:3C:4D:01\n"
    "CPSW3G2 wired simulated 00:1A:2B:3C:4D:02\n"
    "tiwlnapi1 wifi simulated 0A:0B:0C:0D:0E:0F\n";

const char kHeader[] = "Windows Registry Editor Version 5.00\n";
const char kPort1[] = "\n[HKEY_LOCAL_MACHINE\\Comm\\CPSW3G1\\Parms\\TcpIp]\n";
const char kPort2[] = "\n[HKEY_LOCAL_MACHINE\\Comm\\CPSW3G2\\Parms\\TcpIp]\n";
const char kWifi[] = "\n[HKEY_LOCAL_MACHINE\\Comm\\tiwlnapi1\\Parms\\TcpIp]\n";

class NetworkInfoTest : public ::testing::Test {
 protected:
  // The generator of the data file at path, from its registry row.
  static JSVariable* create(const char* path) {
    for (const NetworkInfoRow& row : kNetworkInfoRows) {
      if (std::string(row.path) == path) return createNetworkInfo(&row);
    }
    return nullptr;
  }

  std::string value(const char* path, const std::string& registry, const char* adapters = kAdapters) {
    root.removeFile("registry.reg");
    std::string error;
    EXPECT_TRUE(quenta::importRegistry(kHeader + registry, &error)) << error;
    root.writeFile("adapters.conf", adapters);
    std::unique_ptr<JSVariable> variable(create(path));
    std::unique_ptr<SafeCString> text(variable->generate(SafeCString("")));
    return text ? text->c_str() : "(null)";
  }

  TempRoot root;
};

TEST_F(NetworkInfoTest, ElementsFollowTheRegistryAndTheAdapterList) {
  const struct {
    const char* path;
    std::string registry;
    const char* expected;
  } cases[] = {
      {"/WIN_FTP_info.js", "", "var WIN_FTP_info = new Array('','','','');\n"},
      {"/WIN_FTP_info.js",
       "\n[HKEY_LOCAL_MACHINE\\Comm\\FTPD]\n\"IsEnabled\"=\"1\"\n\"UseAuthentication\"=dword:00000101\n"
       "\"AllowAnonymousVroots\"=dword:00000001\n",
       "var WIN_FTP_info = new Array(0,1,0,1);\n"},
      // First port without EnableDHCP reads the Dhcp* names; the second port's
      // key is missing, so its elements are empty, not defaults.
      {"/WIN_IP_info.js",
       std::string(kPort1) + "\"DhcpIPAddress\"=\"10.0.0.7\"\n\"IPAddress\"=\"1.1.1.1\"\n\"DhcpServer\"=\"10.0.0.1\"\n"
       "\"DhcpDNS\"=hex(7):38,00,2e,00,38,00,2e,00,38,00,2e,00,38,00,00,00,31,00,00,00,00,00\n" +
       "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halden]\n\"Veyra\"=\"B\"\n\"EIP\"=hex(7):41,00,00,00,00,00\n",
       "var WIN_IP_info = new Array(1,'10.0.0.7','','','8.8.8.8','10.0.0.1',"
       "'','','','','','','00:1A:2B:3C:4D:01','00:1A:2B:3C:4D:02','B','');\n"},
      // Static ports: no DHCP server even when stored; the second port's
      // failed reads give its defaults; a 64-byte value is a failed read.
      {"/WIN_IP_info.js",
       std::string(kPort1) + "\"EnableDHCP\"=dword:00000000\n\"IPAddress\"=\"192.168.0.10\"\n"
       "\"SubnetMask\"=\"255.255.255.0\"\n\"DhcpServer\"=\"10.0.0.1\"\n"
       "\"DefaultGateway\"=\"01234567890123456789012345678901\"\n\"DNS\"=\"" + "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\"\n" +
       kPort2 + "\"EnableDHCP\"=dword:00000000\n\"SubnetMask\"=\"01234567890123456789012345678901\"\n"
       "\"DNS\"=dword:00000001\n",
       "var WIN_IP_info = new Array(0,'192.168.0.10','255.255.255.0','','','',"
       "0,'169.254.0.2','255.255.255.0','169.254.0.1','','','00:1A:2B:3C:4D:01','00:1A:2B:3C:4D:02','','');\n"},
      // No adapter of the name: the last adapter's MAC; no list at all: ''.
      {"/WIN_IP_wifi_info.js", kWifi, "var WIN_IP_wifi_info = new Array(1,'','','','','','0A:0B:0C:0D:0E:0F');\n"},
      {"/WIN_IP_wifi_info.js", std::string(kWifi) + "\"EnableDHCP\"=dword:00000000\n\"IpAddress\"=\"172.16.0.9\"\n",
       "var WIN_IP_wifi_info = new Array(0,'172.16.0.9','','','','','');\n"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(i);
    const char* adapters = i == 4 ? "other wired simulated 0A:0B:0C:0D:0E:0F\n" : i == 5 ? "" : kAdapters;
    EXPECT_EQ(value(cases[i].path, cases[i].registry, adapters), cases[i].expected);
  }
}

TEST_F(NetworkInfoTest, AddressesAreKeptForTheEthernetFormAndTheTextForTwoSeconds) {
  PortAddressRecord[0][0] = PortAddressRecord[1][0] = 0;
  value("/WIN_IP_info.js", std::string(kPort1) + "\"EnableDHCP\"=dword:00000000\n\"IPAddress\"=\"10.1.1.1\"\n" +
                               kPort2 + "\"EnableDHCP\"=dword:00000000\n\"IPAddress\"=hex(7):31,00,00,00,32,00,00,00,00,00\n");
  EXPECT_EQ(std::u16string(PortAddressRecord[0]), u"10.1.1.1");
  EXPECT_EQ(std::u16string(PortAddressRecord[1]), u"1");

  std::unique_ptr<JSVariable> variable(create("/WIN_FTP_info.js"));
  JSFile file(SafeCString("/WIN_FTP_info.js"));
  ASSERT_TRUE(file.addVariable(variable.get()));
  value("/WIN_FTP_info.js", "\n[HKEY_LOCAL_MACHINE\\Comm\\FTPD]\n\"IsEnabled\"=dword:00000001\n");
  const std::string first = file.produce(SafeCString(""))->c_str();
  value("/WIN_FTP_info.js", "\n[HKEY_LOCAL_MACHINE\\Comm\\FTPD]\n\"IsEnabled\"=dword:00000000\n");
  EXPECT_EQ(file.produce(SafeCString(""))->c_str(), first);
  quenta::setTickOffset(2001);
  EXPECT_STREQ(file.produce(SafeCString(""))->c_str(), "var WIN_FTP_info = new Array(0,0,0,0);\n");
  quenta::setTickOffset(0);
}

}  // namespace
