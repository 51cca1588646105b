// The NDIS driver's requests, through its device "NDS0:". CreateFileW of
// L"NDS0:" opens the device; DeviceIoControl with IOCTL_NDIS_REBIND_ADAPTER
// and the adapter's name (wide, followed by two zero characters) asks the
// stack to take up the adapter's registry values. A simulated adapter takes
// them up at once; an adapter bound to a Linux interface runs the rebind
// command of its configuration (docs/device-root.md), bounded in time.
#ifndef QUENTA_PLATFORM_NTDDNDIS_H_
#define QUENTA_PLATFORM_NTDDNDIS_H_

#include <windows.h>

#define IOCTL_NDIS_REBIND_ADAPTER 0x17002Eu

extern "C" {

// Only the NDIS device's requests are known: any other handle fails with
// ERROR_INVALID_HANDLE, any other code with ERROR_INVALID_PARAMETER. A rebind
// of an adapter that is not configured fails with ERROR_FILE_NOT_FOUND, a
// command that fails with ERROR_GEN_FAILURE, one that outlives its time limit
// (and is killed) with ERROR_TIMEOUT.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped);

}  // extern "C"

#endif  // QUENTA_PLATFORM_NTDDNDIS_H_
