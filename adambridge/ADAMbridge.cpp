// ADAMbridge on libmodbus. The thread's connection is one modbus_t, made by
// EstablishConnection and freed by CloseConnection.
#include "adambridge/ADAMbridge.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>

#include <QuentaPlatform.h>

#include "adambridge/AdamConfig.h"

namespace {

// The ADAM-6050's Modbus map: DI0-DI11 at 0-11, DO0-DO5 at 16-21.
const int kFirstInput = 0;
const int kInputCount = 12;
const int kFirstOutput = 16;
const int kOutputCount = 6;

thread_local modbus_t* connection = nullptr;

void setTimeout(modbus_t* context, unsigned milliseconds) {
  modbus_set_response_timeout(context, milliseconds / 1000, (milliseconds % 1000) * 1000);
  // Between the bytes of one answer too, so a module that trickles cannot
  // stretch a read beyond twice the time-out.
  modbus_set_byte_timeout(context, milliseconds / 1000, (milliseconds % 1000) * 1000);
}

void closeConnection() {
  if (connection == nullptr) return;
  modbus_close(connection);
  modbus_free(connection);
  connection = nullptr;
}

// Reads `count` bits from `first` with `read` and packs them, bit 0 first.
bool readBits(int (*read)(modbus_t*, int, int, uint8_t*), int first, int count, unsigned* packed) {
  if (connection == nullptr) return false;
  uint8_t bits[kInputCount > kOutputCount ? kInputCount : kOutputCount] = {};
  if (read(connection, first, count, bits) != count) return false;
  unsigned value = 0;
  for (int k = 0; k < count; ++k) value |= (bits[k] ? 1u : 0u) << k;
  *packed = value;
  return true;
}

}  // namespace

ADAMBRIDGE_API int ADAM6050EstablishConnection(char* address) {
  try {
    closeConnection();
    struct in_addr parsed;
    // inet_pton takes only the four dotted decimal octets, unlike inet_addr.
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1 || parsed.s_addr == INADDR_ANY) return 0;
    adambridge::AdamConfig config = adambridge::readConfig(quenta::deviceRoot());
    modbus_t* context = modbus_new_tcp(address, static_cast<int>(config.port));
    if (context == nullptr) return 0;
    // libmodbus bounds the connect by the response time-out.
    setTimeout(context, config.connectTimeoutMs);
    if (modbus_connect(context) != 0) {
      modbus_free(context);
      return 0;
    }
    setTimeout(context, config.responseTimeoutMs);
    connection = context;
    return 1;
  } catch (...) {
    return 0;
  }
}

ADAMBRIDGE_API int ADAM6050ReadInputs(WORD* inputs) {
  unsigned packed = 0;
  if (inputs == nullptr || !readBits(modbus_read_input_bits, kFirstInput, kInputCount, &packed)) return 0;
  *inputs = static_cast<WORD>(packed);
  return 1;
}

ADAMBRIDGE_API int ADAM6050ReadOutputs(BYTE* outputs) {
  unsigned packed = 0;
  if (outputs == nullptr || !readBits(modbus_read_bits, kFirstOutput, kOutputCount, &packed)) return 0;
  *outputs = static_cast<BYTE>(packed);
  return 1;
}

ADAMBRIDGE_API int ADAM6050CloseConnection(void) {
  if (connection == nullptr) return 0;
  closeConnection();
  return 1;
}
