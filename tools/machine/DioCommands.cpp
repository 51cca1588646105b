// quenta-machine dio: a simulated ADAM-6050 digital I/O module on Modbus/TCP,
// for the machine's robot interface to talk to where no module is fitted.
//
// The module's state (12 inputs, 6 outputs) lives in the named block
// "ADAM6050_SIM" of the device root, so that `dio set-inputs` and `dio show`
// in another process change and see what `dio serve` answers.
//
// Modbus map, as the ADAM-6050 has it: inputs DI0-DI11 are discrete inputs
// 0-11 (function 02) and also coils 0-11 (function 01, read only); outputs
// DO0-DO5 are coils 16-21 (functions 01, 05, 15). Any other address answers
// exception 02 (illegal data address), any other function exception 01.
#include <arpa/inet.h>
#include <errno.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "adambridge/AdamConfig.h"
#include "tools/machine/Commands.h"
#include "tools/machine/SharedBlocks.h"

namespace machine {
namespace {

const WCHAR kDioMapping[] = u"ADAM6050_SIM";
const WCHAR kDioMutex[] = u"ADAM6050_SIM_MUTEX";
// inputs u16 at 0, outputs u8 at 2.
const DWORD kDioBlockSize = 4;
const DWORD kDioLockMs = 1000;

const int kInputCount = 12;
const int kFirstOutput = 16;
const int kOutputCount = 6;
const int kCoilCount = kFirstOutput + kOutputCount;
const unsigned long kMostInputs = (1u << kInputCount) - 1;

const char kDioHelp[] =
    "usage: quenta-machine [--root DIR] dio COMMAND\n"
    "\n"
    "A simulated ADAM-6050 digital I/O module (12 inputs, 6 outputs) on Modbus/TCP.\n"
    "\n"
    "commands:\n"
    "  serve [--listen 127.0.0.1:PORT]\n"
    "                   answer as the module until stopped (Ctrl-C); the port\n"
    "                   defaults to the one in DIR/ADAMbridge.conf (502 without\n"
    "                   it); port 0 picks a free one. Prints 'dio: serving on\n"
    "                   ADDRESS:PORT' once listening.\n"
    "  set-inputs N     set the inputs: bit n is DI n (0 to 4095)\n"
    "  show             print {\"inputs\":N,\"outputs\":M} (bit n is DI n / DO n)\n"
    "\n"
    "Modbus map: DI0-DI11 discrete inputs 0-11 (function 02) and coils 0-11\n"
    "(function 01, read only); DO0-DO5 coils 16-21 (functions 01, 05, 15).\n";

struct DioState {
  WORD inputs;
  BYTE outputs;
};

DioState readState(const BYTE* block) {
  return DioState{static_cast<WORD>(block[0] | (block[1] << 8)), block[2]};
}

void writeState(BYTE* block, const DioState& state) {
  block[0] = static_cast<BYTE>(state.inputs & 0xFF);
  block[1] = static_cast<BYTE>(state.inputs >> 8);
  block[2] = state.outputs;
}

bool openDio(const Context& context, SharedBlock* block) {
  if (!openBlock(context, block, kDioMapping, kDioBlockSize, kDioMutex)) return false;
  if (lockBlock(*block, kDioLockMs, kDioMutex)) return true;
  complain(kExitFailure, "the simulated module's state is locked by another process");
  return false;
}

// True when a request for `count` items from `first` lies inside [low, high).
bool inside(int first, int count, int low, int high) { return first >= low && first + count <= high; }

// The exception a request earns before libmodbus sees it, or 0 when
// modbus_reply may answer it from the mapping (which also checks counts).
int exceptionFor(const uint8_t* request, int headerLength) {
  int function = request[headerLength];
  int first = (request[headerLength + 1] << 8) | request[headerLength + 2];
  int count = (request[headerLength + 3] << 8) | request[headerLength + 4];
  bool countOk = count >= 1 && count <= MODBUS_MAX_READ_BITS;
  switch (function) {
    case MODBUS_FC_READ_COILS:
      if (!countOk) return 0;
      return inside(first, count, 0, kInputCount) || inside(first, count, kFirstOutput, kCoilCount)
                 ? 0
                 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    case MODBUS_FC_READ_DISCRETE_INPUTS:
      return !countOk || inside(first, count, 0, kInputCount) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    case MODBUS_FC_WRITE_SINGLE_COIL:
      return inside(first, 1, kFirstOutput, kCoilCount) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
      return count < 1 || count > MODBUS_MAX_WRITE_BITS || inside(first, count, kFirstOutput, kCoilCount)
                 ? 0
                 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    default:
      return MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
  }
}

// Answers one request with the state of the block (locked by the caller).
void answer(modbus_t* context, modbus_mapping_t* mapping, const uint8_t* request, int length, BYTE* block) {
  int exception = exceptionFor(request, modbus_get_header_length(context));
  if (exception != 0) {
    modbus_reply_exception(context, request, exception);
    return;
  }
  DioState state = readState(block);
  for (int k = 0; k < kInputCount; ++k) {
    mapping->tab_input_bits[k] = (state.inputs >> k) & 1;
    mapping->tab_bits[k] = (state.inputs >> k) & 1;
  }
  for (int k = 0; k < kOutputCount; ++k) mapping->tab_bits[kFirstOutput + k] = (state.outputs >> k) & 1;
  modbus_reply(context, request, length, mapping);
  state.outputs = 0;
  for (int k = 0; k < kOutputCount; ++k) state.outputs |= (mapping->tab_bits[kFirstOutput + k] ? 1 : 0) << k;
  writeState(block, state);
}

bool parseListen(const std::string& text, std::string* host, unsigned* port) {
  size_t colon = text.rfind(':');
  unsigned long number = 0;
  struct in_addr parsed;
  if (colon == std::string::npos || !parseNumber(text.substr(colon + 1), 65535, &number)) return false;
  *host = text.substr(0, colon);
  *port = static_cast<unsigned>(number);
  return inet_pton(AF_INET, host->c_str(), &parsed) == 1;
}

int serve(const Context& context, int argc, char** argv) {
  std::string host = "127.0.0.1";
  unsigned port = adambridge::readConfig(context.root).port;
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    std::string value;
    if (arg == "--listen" && k + 1 < argc) {
      value = argv[++k];
    } else if (arg.compare(0, 9, "--listen=") == 0) {
      value = arg.substr(9);
    } else {
      return complain(kExitUsage, "dio serve: unexpected argument '" + arg + "' (see dio --help)");
    }
    if (!parseListen(value, &host, &port)) {
      return complain(kExitUsage, "dio serve: --listen wants IPV4ADDRESS:PORT, not '" + value + "'");
    }
  }
  SharedBlock block;
  if (!openBlock(context, &block, kDioMapping, kDioBlockSize, kDioMutex)) return kExitFailure;

  modbus_t* server = modbus_new_tcp(host.c_str(), static_cast<int>(port));
  modbus_mapping_t* mapping = modbus_mapping_new(kCoilCount, kInputCount, 0, 0);
  int listener = server != nullptr ? modbus_tcp_listen(server, 8) : -1;
  if (listener < 0 || mapping == nullptr) {
    std::string reason = modbus_strerror(errno);
    if (mapping != nullptr) modbus_mapping_free(mapping);
    if (server != nullptr) modbus_free(server);
    return complain(kExitFailure, "dio serve: cannot listen on " + host + ":" + std::to_string(port) + ": " + reason);
  }
  struct sockaddr_in bound;
  socklen_t boundLength = sizeof bound;
  getsockname(listener, reinterpret_cast<struct sockaddr*>(&bound), &boundLength);
  std::printf("dio: serving on %s:%u\n", host.c_str(), ntohs(bound.sin_port));
  std::fflush(stdout);

  installStopHandlers();
  std::vector<struct pollfd> sockets = {{listener, POLLIN, 0}};
  uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stopRequested()) {
    if (poll(sockets.data(), sockets.size(), 200) <= 0) continue;
    if (sockets[0].revents & POLLIN) {
      int client = accept(listener, nullptr, nullptr);
      if (client >= 0) sockets.push_back({client, POLLIN, 0});
    }
    for (size_t k = 1; k < sockets.size(); ++k) {
      if (sockets[k].revents == 0) continue;
      modbus_set_socket(server, sockets[k].fd);
      int length = (sockets[k].revents & POLLIN) ? modbus_receive(server, request) : -1;
      if (length > 0 && lockBlock(block, kDioLockMs, kDioMutex)) {
        answer(server, mapping, request, length, block.data());
        block.unlock();
      } else if (length < 0) {
        // The client closed, or sent what is not Modbus/TCP: it is dropped.
        close(sockets[k].fd);
        sockets.erase(sockets.begin() + static_cast<long>(k));
        --k;
      }
    }
  }
  for (const struct pollfd& socket : sockets) close(socket.fd);
  modbus_mapping_free(mapping);
  modbus_free(server);
  return kExitOk;
}

int setInputs(const Context& context, int argc, char** argv) {
  unsigned long inputs = 0;
  if (argc != 2 || !parseNumber(argv[1], kMostInputs, &inputs)) {
    return complain(kExitUsage, "dio set-inputs wants one number from 0 to 4095 (bit n is DI n)");
  }
  SharedBlock block;
  if (!openDio(context, &block)) return kExitFailure;
  DioState state = readState(block.data());
  state.inputs = static_cast<WORD>(inputs);
  writeState(block.data(), state);
  block.unlock();
  return kExitOk;
}

int show(const Context& context, int argc, char**) {
  if (argc != 1) return complain(kExitUsage, "dio show takes no arguments");
  SharedBlock block;
  if (!openDio(context, &block)) return kExitFailure;
  DioState state = readState(block.data());
  block.unlock();
  std::printf("{\"inputs\":%u,\"outputs\":%u}\n", state.inputs, state.outputs);
  return kExitOk;
}

}  // namespace

int runDio(const Context& context, int argc, char** argv) {
  if (argc < 2 || wantsHelp(argc, argv)) {
    std::fputs(kDioHelp, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  std::string command = argv[1];
  if (command == "serve") return serve(context, argc - 1, argv + 1);
  if (command == "set-inputs") return setInputs(context, argc - 1, argv + 1);
  if (command == "show") return show(context, argc - 1, argv + 1);
  return complain(kExitUsage, "unknown dio command '" + command + "' (see dio --help)");
}

}  // namespace machine
