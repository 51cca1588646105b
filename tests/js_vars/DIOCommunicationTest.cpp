// DIOCommunication over recording stand-ins of the settings database and of
// ADAMbridge (defined here, so they take the place of the libraries): the
// address text it asks for, the calls in order, and the value for each answer.
// No connection is made, so addresses beyond 127.0.0.1 are safe to name.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adambridge/ADAMbridge.h"
#include "js_vars/DIOCommunication.h"
#include "sqlbridge/SqlBridge.h"

namespace {

std::vector<std::string> calls;
std::map<WORD, WORD> stored;  // parameter code -> value; a code not stored is unavailable
int connectResult, inputsResult, outputsResult;
const WORD kInputs = 2049;
const BYTE kOutputs = 5;

}  // namespace

SQLBRIDGE_API int GetPCode(WORD pcode, WORD* value, LPCWSTR) {
  calls.push_back("GetPCode " + std::to_string(pcode));
  auto found = stored.find(pcode);
  if (found == stored.end()) return 0;
  *value = found->second;
  return 1;
}
SQLBRIDGE_API void ReleaseView(DWORD_PTR) {}
SQLBRIDGE_API void CleanupView(DWORD_PTR, DWORD_PTR) {}
ADAMBRIDGE_API int ADAM6050EstablishConnection(char* address) {
  calls.push_back(std::string("Establish ") + address);
  return connectResult;
}
ADAMBRIDGE_API int ADAM6050ReadInputs(WORD* inputs) {
  calls.push_back("ReadInputs");
  if (inputsResult) *inputs = kInputs;
  return inputsResult;
}
ADAMBRIDGE_API int ADAM6050ReadOutputs(BYTE* outputs) {
  calls.push_back("ReadOutputs");
  if (outputsResult) *outputs = kOutputs;
  return outputsResult;
}
ADAMBRIDGE_API int ADAM6050CloseConnection(void) {
  calls.push_back("Close");
  return 1;
}

namespace {

TEST(DIOCommunication, AsksTheModuleAtTheStoredAddressAndReportsWhatItRead) {
  struct Case {
    std::map<WORD, WORD> stored;
    int connect, inputs, outputs;
    const char* address;
    const char* value;
    bool closed;
  } cases[] = {
      {{{648, 49320}, {647, 5}}, 1, 1, 1, "192.168.0.5", "{Connection:1,Inputs:2049,Outputs:5}", true},
      {{}, 1, 1, 1, "0.0.0.0", "{Connection:1,Inputs:2049,Outputs:5}", true},
      {{{648, 65535}, {647, 65535}}, 0, 1, 1, "255.255.255.255", "{Connection:0}", false},
      {{{648, 2561}, {647, 258}}, 1, 0, 1, "10.1.1.2", "{Connection:1,Inputs:9999,Outputs:5}", true},
      {{{648, 2561}, {647, 258}}, 1, 1, 0, "10.1.1.2", "{Connection:1,Inputs:2049,Outputs:99}", true},
  };
  for (const Case& c : cases) {
    calls.clear();
    stored = c.stored;
    connectResult = c.connect;
    inputsResult = c.inputs;
    outputsResult = c.outputs;
    DIOCommunication generator;
    std::unique_ptr<SafeCString> text(generator.generate(SafeCString("")));
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::string("var DIOCommunication = ") + c.value + ";\n", text->c_str()) << c.address;
    std::vector<std::string> expected = {"GetPCode 648", "GetPCode 647", std::string("Establish ") + c.address};
    if (c.connect) expected.insert(expected.end(), {"ReadInputs", "ReadOutputs", "Close"});
    EXPECT_EQ(expected, calls) << c.address;
  }
}

}  // namespace
