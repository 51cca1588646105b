// A test double of the web server's side of one ISAPI request: it fills an
// EXTENSION_CONTROL_BLOCK, serves "PATH_INFO", hands out the body through
// ReadClient in pieces of a chosen size, and records what the module sends
// (status, header block, body, log appends). Any callback can be made to fail.
#ifndef QUENTA_TESTS_SUPPORT_FAKEECB_H_
#define QUENTA_TESTS_SUPPORT_FAKEECB_H_

#include <httpext.h>

#include <string>
#include <vector>

class FakeEcb {
 public:
  FakeEcb(const std::string& method, const std::string& path, const std::string& query = "");

  // The body: `preloaded` bytes of it arrive in lpbData/cbAvailable, the rest
  // through ReadClient, at most `readSize` bytes a call. cbTotalBytes is the
  // body's size unless declaredLength is set.
  void setBody(const std::string& contentType, const std::string& body, DWORD preloaded = 0,
               DWORD readSize = 65536);
  void setDeclaredLength(DWORD declaredLength);
  // A null method or query pointer, as some servers give.
  void setNullQuery();

  // Failure switches.
  bool failHeader = false;
  bool failWrite = false;
  // ReadClient fails (GetLastError = readError) after this many successful calls; -1: never.
  int failReadAfter = -1;
  DWORD readError = ERROR_READ_FAULT;
  // ReadClient returns TRUE with 0 bytes once the body is exhausted (a client gone early).
  bool zeroReadAtEnd = true;

  EXTENSION_CONTROL_BLOCK* ecb() { return &block; }

  // Forgets what the module sent, so the same request can be made again
  // (benchmarks); the body to read starts over too.
  void reset();

  // What the module did.
  std::string status;
  std::string header;
  std::string body;
  std::string log;
  int headerCalls = 0;
  int writeCalls = 0;
  int readCalls = 0;
  bool keepConn = false;

 private:
  static BOOL WINAPI getServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI writeClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL WINAPI readClient(HCONN conn, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI serverSupport(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD type);

  EXTENSION_CONTROL_BLOCK block;
  std::string methodText;
  std::string pathText;
  std::string queryText;
  std::string contentTypeText;
  std::string bodyText;
  size_t bodyOffset = 0;
  DWORD readSize = 65536;
};

#endif  // QUENTA_TESTS_SUPPORT_FAKEECB_H_
