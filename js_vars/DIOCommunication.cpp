#include "js_vars/DIOCommunication.h"

#include <strsafe.h>

#include <cstring>
#include <new>

#include "adambridge/ADAMbridge.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const WORD kAddressHighCode = 648;
const WORD kAddressLowCode = 647;
const WORD kInputsFailed = 9999;
const BYTE kOutputsFailed = 99;
// "255.255.255.255" and its terminator fit with room to spare.
const size_t kAddressBytes = 20;

}  // namespace

SafeCString DIOCommunication::member(const char* name, int value) {
  return pair(SafeCString(name), SafeCString(value));
}

DIOCommunication::DIOCommunication()
    : JSVariable(SafeCString("DIOCommunication")),
      result(0),
      mapHandle(SQLBRIDGE_NO_VIEW),
      recordAddress(SQLBRIDGE_NO_VIEW),
      releaseHandle(SQLBRIDGE_NO_RELEASE),
      addressHigh(0),
      addressLow(0),
      viewName(TEXT("WebQuentaISAPI_DIOCommunication_View")) {}

void DIOCommunication::read(WORD code, WORD* target) {
  result = GetPCode(code, target, viewName.c_str());
  ReleaseView(releaseHandle);
  CleanupView(recordAddress, mapHandle);
}

SafeCString* DIOCommunication::getValue() {
  read(kAddressHighCode, &addressHigh);
  read(kAddressLowCode, &addressLow);
  char address[kAddressBytes];
  std::memset(address, 0, sizeof address);
  StringCchPrintfA(address, sizeof address, "%u.%u.%u.%u", addressHigh >> 8, addressHigh & 0xFF, addressLow >> 8,
                   addressLow & 0xFF);

  SafeCString* text = new (std::nothrow) SafeCString(JS_OPEN_BRACE);
  if (text == nullptr) return nullptr;
  if (ADAM6050EstablishConnection(address) == 0) {
    text->append(member("Connection", 0));
    text->append(JS_CLOSE_BRACE);
    return text;
  }
  WORD inputs = 0;
  if (ADAM6050ReadInputs(&inputs) == 0) inputs = kInputsFailed;
  BYTE outputs = 0;
  if (ADAM6050ReadOutputs(&outputs) == 0) outputs = kOutputsFailed;
  text->append(member("Connection", 1));
  text->append(JS_COMMA);
  text->append(member("Inputs", inputs));
  text->append(JS_COMMA);
  text->append(member("Outputs", outputs));
  text->append(JS_CLOSE_BRACE);
  ADAM6050CloseConnection();
  return text;
}

JSVariable* createDIOCommunication(const void*) { return new (std::nothrow) DIOCommunication(); }
