// The registry: Win32 answers, the .reg store, and writes shared between
// processes.
#include <signal.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "TempRoot.h"

namespace {

std::string exported() {
  std::string text, error;
  EXPECT_TRUE(quenta::exportRegistry(&text, &error)) << error;
  return text;
}

TEST(RegistryTest, AnswersAsWin32) {
  TempRoot root;
  HKEY key = createKey(u"Comm\\CPSW3G1\\Parms\\TcpIp");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setText(key, u"IPAddress", u"192.168.0.10"), ERROR_SUCCESS);
  ASSERT_EQ(setDword(key, u"EnableDHCP", 0x01020304), ERROR_SUCCESS);
  ASSERT_EQ(setText(key, u"DNS", std::u16string(u"1.1.1.1\0002.2.2.2\0", 17), REG_MULTI_SZ), ERROR_SUCCESS);
  ASSERT_EQ(setText(key, nullptr, u"default"), ERROR_SUCCESS);
  ASSERT_EQ(setText(key, u"Long", std::u16string(40, u'x')), ERROR_SUCCESS);  // 82 bytes
  const BYTE unterminated[] = {'A', 0, 'B', 0};
  ASSERT_EQ(RegSetValueExW(key, u"Bare", 0, REG_SZ, unterminated, 4), ERROR_SUCCESS);
  RegCloseKey(key);

  struct Case {
    const char16_t* key;
    const char16_t* value;
    DWORD bufferSize;
    LONG result;
    DWORD type;
    DWORD size;  // size reported back
  } cases[] = {
      {u"comm\\cpsw3g1\\PARMS\\tcpip", u"ipaddress", 64, ERROR_SUCCESS, REG_SZ, 26},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"EnableDHCP", 64, ERROR_SUCCESS, REG_DWORD, 4},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"DNS", 64, ERROR_SUCCESS, REG_MULTI_SZ, 36},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"", 64, ERROR_SUCCESS, REG_SZ, 16},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"Bare", 64, ERROR_SUCCESS, REG_SZ, 4},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"Long", 64, ERROR_MORE_DATA, REG_SZ, 82},
      {u"Comm\\CPSW3G1\\Parms\\TcpIp", u"Missing", 64, ERROR_FILE_NOT_FOUND, 0, 64},
      {u"Comm\\CPSW3G1", u"IPAddress", 64, ERROR_FILE_NOT_FOUND, 0, 64},  // parents exist, empty
      {u"Comm\\CPSW3G2\\Parms\\TcpIp", u"IPAddress", 64, ERROR_FILE_NOT_FOUND, 0, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(quenta::narrow(c.key)) + " " + quenta::narrow(c.value));
    HKEY opened = nullptr;
    LONG open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.key, 0, 0, &opened);
    if (open != ERROR_SUCCESS) {
      EXPECT_EQ(open, c.result);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.result));
      continue;
    }
    BYTE buffer[64] = {};
    DWORD type = 0, size = c.bufferSize;
    EXPECT_EQ(RegQueryValueExW(opened, c.value, nullptr, &type, buffer, &size), c.result);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.size);
    if (c.result == ERROR_SUCCESS && c.type == REG_DWORD) {
      EXPECT_EQ(buffer[0], 0x04);
    }
    if (c.result == ERROR_MORE_DATA) {
      EXPECT_EQ(buffer[0], 0) << "a short buffer is left alone";
    }
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);

  // Enumeration: subkeys by name, values in the order made, case kept as first written.
  HKEY parms = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"COMM\\CPSW3G1\\PARMS", 0, 0, &parms), ERROR_SUCCESS);
  WCHAR name[16];
  DWORD length = 16;
  EXPECT_EQ(RegEnumKeyExW(parms, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), u"TcpIp");
  length = 16;
  EXPECT_EQ(RegEnumKeyExW(parms, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  HKEY tcpip = nullptr;
  ASSERT_EQ(RegOpenKeyExW(parms, u"tcpip", 0, 0, &tcpip), ERROR_SUCCESS);
  length = 16;
  EXPECT_EQ(RegEnumValueW(tcpip, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), u"EnableDHCP");
  RegCloseKey(tcpip);
  RegCloseKey(parms);
}

TEST(RegistryTest, RegTextRoundTripsAndBadTextChangesNothing) {
  TempRoot root;
  const std::string text =
      "Windows Registry Editor Version 5.00\n"
      "\n[HKEY_LOCAL_MACHINE\\Comm]\n"
      "\n[HKEY_LOCAL_MACHINE\\Comm\\FTPD]\n"
      "\"IsEnabled\"=dword:00000001\n"
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halden]\n"
      "@=\"say \\\"hi\\\" \\\\ \xc3\xa9\"\n"
      "\"Bare\"=hex(1):41,00,42,00\n"
      "\"Lines\"=hex(7):31,00,00,00,32,00,00,00,00,00\n"
      "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
      "  16,17,18,19\n";
  std::string error;
  ASSERT_TRUE(quenta::importRegistry(text, &error)) << error;
  EXPECT_EQ(exported(), text);
  EXPECT_EQ(root.readFile("registry.reg"), text);

  const char* bad[] = {
      "REGEDIT5\n",
      "Windows Registry Editor Version 5.00\n\"v\"=\"before any key\"\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=dword:123\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=hex:0g\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"v=\"open\n",
  };
  for (const char* wrong : bad) {
    EXPECT_FALSE(quenta::importRegistry(std::string(wrong) + "[HKEY_LOCAL_MACHINE\\Y]\n", &error)) << wrong;
    EXPECT_EQ(error.compare(0, 5, "line "), 0) << error;
  }
  EXPECT_EQ(exported(), text);

  // A store spoiled by hand reads as empty and is kept aside by the next write.
  root.writeFile("registry.reg", "garbage\n");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Comm\\FTPD", 0, 0, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(root.readFile("registry.reg"), "garbage\n");
  RegCloseKey(createKey(u"Fresh"));
  EXPECT_EQ(root.readFile("registry.reg.bad"), "garbage\n");
  EXPECT_EQ(exported(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Fresh]\n");
}

TEST(RegistryTest, ProcessesWritingAtOnceLoseNothing) {
  TempRoot root;
  RegCloseKey(createKey(u"Shared"));
  const int kProcesses = 4, kWrites = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(forkChild([p] {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, 0, &key) != ERROR_SUCCESS) return 1;
      for (int i = 0; i < kWrites; ++i) {
        std::u16string name = quenta::widen("p" + std::to_string(p) + "-" + std::to_string(i));
        if (setDword(key, name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS) return 2;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(exitCode(child), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, 0, &key), ERROR_SUCCESS);
  DWORD count = 0, length = 32;
  WCHAR name[32];
  while (RegEnumValueW(key, count, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    ++count;
    length = 32;
  }
  EXPECT_EQ(count, static_cast<DWORD>(kProcesses * kWrites));
  RegCloseKey(key);
}

Signal* pausedWriter = nullptr;

TEST(RegistryTest, WriterKilledBeforeRenameLeavesTheOldStore) {
  TempRoot root;
  HKEY key = createKey(u"Comm\\FTPD");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setDword(key, u"IsEnabled", 1), ERROR_SUCCESS);
  const std::string before = root.readFile("registry.reg");
  Signal written;
  pausedWriter = &written;
  pid_t writer = forkChild([key] {
    quenta::setRegistryWriteHook([] {
      pausedWriter->raise();
      pause();
    });
    return setDword(key, u"IsEnabled", 0) == ERROR_SUCCESS ? 0 : 1;
  });
  ASSERT_TRUE(written.await());
  kill(writer, SIGKILL);
  EXPECT_EQ(exitCode(writer), -2);
  EXPECT_EQ(root.readFile("registry.reg"), before);
  // The dead writer's lock went with it: the next write goes through.
  ASSERT_EQ(setDword(key, u"UseAuthentication", 1), ERROR_SUCCESS);
  BYTE data[4] = {};
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"IsEnabled", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(data[0], 1);
  RegCloseKey(key);
}

}  // namespace
