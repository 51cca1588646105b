// The adapter list, the NDIS rebind and XXTEA. No test touches the host's
// network: adapters are simulated, or bound read-only to the loopback
// interface, and rebind commands are the test's own scripts.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "TempRoot.h"

namespace {

// A value of the adapter's TCP/IP key; a static adapter has EnableDHCP 0.
void setTcpIp(const char16_t* adapter, const char16_t* name, const std::u16string& text, DWORD type = REG_SZ) {
  HKEY key = createKey((std::u16string(u"Comm\\") + adapter + u"\\Parms\\TcpIp").c_str());
  ASSERT_EQ(setText(key, name, text, type), ERROR_SUCCESS);
  RegCloseKey(key);
}
void setStatic(const char16_t* adapter) {
  HKEY key = createKey((std::u16string(u"Comm\\") + adapter + u"\\Parms\\TcpIp").c_str());
  ASSERT_EQ(setDword(key, u"EnableDHCP", 0), ERROR_SUCCESS);
  RegCloseKey(key);
}

BOOL rebind(const char16_t* adapter) {
  HANDLE ndis = CreateFileW(u"NDS0:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  EXPECT_NE(ndis, INVALID_HANDLE_VALUE);
  std::u16string name(adapter);
  name.append(2, u'\0');
  BOOL done = DeviceIoControl(ndis, IOCTL_NDIS_REBIND_ADAPTER, &name[0], static_cast<DWORD>(name.size() * 2),
                              nullptr, 0, nullptr, nullptr);
  DWORD error = GetLastError();
  CloseHandle(ndis);
  SetLastError(error);
  return done;
}

TEST(AdaptersTest, ListsTheConfiguredAdaptersInTheBufferSizeTheyNeed) {
  TempRoot root;
  root.writeFile("adapters.conf",
                 "# adapter kind source\n"
                 "CPSW3G1 wired simulated 00:1A:2B:3C:4D:01\n"
                 "loop    wired interface lo\n"
                 "tiwlnapi1 wifi simulated 00:1a:2b:3c:4d:03  # lower case is fine\n");
  setStatic(u"CPSW3G1");
  setTcpIp(u"CPSW3G1", u"IPAddress", std::u16string(u"10.0.0.5\00010.0.0.6", 17), REG_MULTI_SZ);
  setTcpIp(u"CPSW3G1", u"SubnetMask", u"255.0.0.0");
  setTcpIp(u"CPSW3G1", u"DefaultGateway", u"10.0.0.1");
  setTcpIp(u"tiwlnapi1", u"DhcpIPAddress", u"192.168.7.20");
  setTcpIp(u"tiwlnapi1", u"DhcpServer", u"192.168.7.1");

  const ULONG needed = 3 * sizeof(IP_ADAPTER_INFO) + sizeof(IP_ADDR_STRING);  // one extra address
  for (ULONG offered : {ULONG(0), needed - 1}) {
    ULONG size = offered;
    std::vector<BYTE> buffer(offered + 1);
    EXPECT_EQ(GetAdaptersInfo(offered ? reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()) : nullptr, &size),
              static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, needed);
  }
  std::vector<IP_ADAPTER_INFO> buffer(4);
  ULONG size = needed;
  ASSERT_EQ(GetAdaptersInfo(buffer.data(), &size), static_cast<DWORD>(ERROR_SUCCESS));
  const struct {
    const char* name;
    BYTE lastMac;
    UINT dhcp;
    const char* ip;
    const char* mask;
    const char* gateway;
    const char* dhcpServer;
  } expected[] = {
      {"CPSW3G1", 0x01, 0, "10.0.0.5", "255.0.0.0", "10.0.0.1", "0.0.0.0"},
      {"loop", 0x00, 1, "127.0.0.1", "255.0.0.0", "0.0.0.0", "0.0.0.0"},
      {"tiwlnapi1", 0x03, 1, "192.168.7.20", "0.0.0.0", "0.0.0.0", "192.168.7.1"},
  };
  const IP_ADAPTER_INFO* adapter = buffer.data();
  for (const auto& want : expected) {
    ASSERT_NE(adapter, nullptr);
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(adapter->AdapterName, want.name);
    EXPECT_EQ(adapter->Address[5], want.lastMac);
    EXPECT_EQ(adapter->DhcpEnabled, want.dhcp);
    EXPECT_STREQ(adapter->IpAddressList.IpAddress.String, want.ip);
    EXPECT_STREQ(adapter->IpAddressList.IpMask.String, want.mask);
    EXPECT_STREQ(adapter->GatewayList.IpAddress.String, want.gateway);
    EXPECT_STREQ(adapter->DhcpServer.IpAddress.String, want.dhcpServer);
    adapter = adapter->Next;
  }
  EXPECT_EQ(adapter, nullptr);
  ASSERT_NE(buffer[0].IpAddressList.Next, nullptr);
  EXPECT_STREQ(buffer[0].IpAddressList.Next->IpAddress.String, "10.0.0.6");

  for (const char* broken : {"CPSW3G1 wired simulated 00:1A:2B:3C:4D\n", "CPSW3G1 copper simulated 00:1A:2B:3C:4D:01\n",
                             "A wired simulated 00:1A:2B:3C:4D:01\nA wired interface lo\n"}) {
    root.writeFile("adapters.conf", broken);
    size = needed;
    EXPECT_EQ(GetAdaptersInfo(buffer.data(), &size), static_cast<DWORD>(ERROR_NO_DATA)) << broken;
  }
  root.removeFile("adapters.conf");
  EXPECT_EQ(GetAdaptersInfo(buffer.data(), &size), static_cast<DWORD>(ERROR_NO_DATA));
}

TEST(AdaptersTest, RebindRunsTheAdaptersCommandWithinItsTimeLimit) {
  TempRoot root;
  std::string record = root.host("rebound");
  root.writeFile("adapters.conf",
                 "rebind-timeout-ms 300\n"
                 "CPSW3G2 wired simulated 00:1A:2B:3C:4D:02\n"
                 "quiet wired interface lo\n"
                 "applied wired interface lo echo \"$QUENTA_ADAPTER $QUENTA_DHCP $QUENTA_IP_ADDRESS\" > " + record + "\n"
                 "failing wired interface lo exit 3\n"
                 "hanging wired interface lo sleep 30\n");
  setStatic(u"applied");
  setTcpIp(u"applied", u"IPAddress", u"10.1.2.3");
  const struct {
    const char16_t* adapter;
    long error;  // -1: rebound
  } cases[] = {
      {u"CPSW3G2", -1}, {u"quiet", -1}, {u"applied", -1}, {u"failing", ERROR_GEN_FAILURE},
      {u"hanging", ERROR_TIMEOUT}, {u"nonesuch", ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(quenta::narrow(c.adapter));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure(!rebind(c.adapter)), c.error);
    EXPECT_LT(millisecondsSince(start), 5000);
  }
  EXPECT_EQ(root.readFile("rebound"), "applied 0 10.1.2.3\n");
  BYTE name[8] = {};
  HANDLE ndis = CreateFileW(u"nds0:", GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_FALSE(DeviceIoControl(ndis, 0x170000, name, sizeof name, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(ndis);
  EXPECT_FALSE(root.exists("NDS0:")) << "the device is no file";
}

TEST(XxteaTest, PublishedVectorsAndTheWayBack) {
  // Key, plaintext, ciphertext (words as the algorithm's reference code
  // holds them).
  const struct {
    DWORD key[4];
    std::vector<DWORD> plain, cipher;
  } vectors[] = {
      {{0, 0, 0, 0}, {0, 0}, {0x053704ab, 0x575d8c80}},
      {{0, 0, 0, 0}, {0x01020304, 0x05060708}, {0xe6911910, 0x0c35dcda}},
  };
  for (const auto& v : vectors) {
    std::vector<DWORD> words = v.plain;
    ASSERT_TRUE(XxteaEncipher(words.data(), static_cast<DWORD>(words.size()), v.key));
    EXPECT_EQ(words, v.cipher);
  }
  // The block sizes the Wi-Fi form uses go there and back.
  const DWORD key[4] = {0x01234567, 0x89abcdef, 0xfedcba98, 0x76543210};
  for (DWORD count : {8u, 16u}) {
    std::vector<DWORD> words(count), original(count);
    for (DWORD i = 0; i < count; ++i) original[i] = words[i] = i * 0x01010101u;
    ASSERT_TRUE(XxteaEncipher(words.data(), count, key));
    EXPECT_NE(words, original);
    ASSERT_TRUE(XxteaDecipher(words.data(), count, key));
    EXPECT_EQ(words, original);
  }
  DWORD one = 5;
  EXPECT_FALSE(XxteaEncipher(&one, 1, key));
  EXPECT_EQ(one, 5u);
}

}  // namespace
