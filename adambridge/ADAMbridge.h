// ADAMbridge: the library through which the machine reaches its Advantech
// ADAM-6050 digital I/O module (12 digital inputs, 6 digital outputs) over
// Modbus/TCP.
//
// A caller opens a connection, reads, and closes it again, all on one thread:
//
//   if (ADAM6050EstablishConnection(address)) {
//     ADAM6050ReadInputs(&inputs);    // DI0..DI11 as bits 0..11
//     ADAM6050ReadOutputs(&outputs);  // DO0..DO5 as bits 0..5
//     ADAM6050CloseConnection();
//   }
//
// Every operation returns nonzero on success. The connection belongs to the
// calling thread and lives from EstablishConnection to CloseConnection; the
// library keeps nothing between two connections. A thread that establishes a
// second connection without closing the first has the first one closed.
//
// The address is a dotted decimal IPv4 text ("192.168.0.5"); the TCP port and
// the time-outs come from the device root's ADAMbridge.conf (see
// AdamConfig.h), read at every EstablishConnection. A module that does not
// answer costs at most the connect time-out, then the response time-out for
// each read: never seconds.
#ifndef QUENTA_ADAMBRIDGE_ADAMBRIDGE_H_
#define QUENTA_ADAMBRIDGE_ADAMBRIDGE_H_

#include <windows.h>

// On the device the module imports these from ADAMbridge.dll, whose import library
// the device build makes from this header (cmake/device); here they are the
// exports of the shared library.
#ifdef _WIN32
#define ADAMBRIDGE_API extern "C" __declspec(dllimport)
#else
#define ADAMBRIDGE_API extern "C" __attribute__((visibility("default")))
#endif

// Connects to the module at `address`. 0 for a text that is not a dotted IPv4
// address, for the unspecified address 0.0.0.0 (no module has it), and when
// the module refuses or does not answer within the connect time-out.
ADAMBRIDGE_API int ADAM6050EstablishConnection(char* address);
// The 12 digital inputs (discrete inputs 0-11, Modbus function 02): input n is
// bit n. 0, with *inputs unchanged, when there is no connection or the module
// answers late, wrongly, or with an exception.
ADAMBRIDGE_API int ADAM6050ReadInputs(WORD* inputs);
// The 6 digital outputs (coils 16-21, Modbus function 01): output n is bit n.
ADAMBRIDGE_API int ADAM6050ReadOutputs(BYTE* outputs);
// Closes the thread's connection; 0 when there was none.
ADAMBRIDGE_API int ADAM6050CloseConnection(void);

#endif  // QUENTA_ADAMBRIDGE_ADAMBRIDGE_H_
