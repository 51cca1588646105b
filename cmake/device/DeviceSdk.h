// What the controller's Windows CE SDK declares and the desktop mingw-w64
// headers do not. The device build (cmake/device) includes this header ahead of
// every source of the module; apart from it, the module sees only mingw-w64's
// own <windows.h>, <httpext.h>, <strsafe.h>, <iphlpapi.h> and <ntddndis.h>.
#ifndef QUENTA_DEVICE_DEVICESDK_H_
#define QUENTA_DEVICE_DEVICESDK_H_

#include <windows.h>

// Windows CE's core library exports these; the desktop has neither. The
// import library for them is made from these declarations (CMakeLists.txt).
#define DEVICE_CORE_API extern "C" __declspec(dllimport)
DEVICE_CORE_API void WINAPIV NKDbgPrintfW(LPCWSTR lpszFmt, ...);
// The controller's service that makes a zone current by the "ID" value of its
// key under "Time Zones".
DEVICE_CORE_API BOOL WINAPI SetCurrentTimeZoneByID(DWORD dwID);

// From the device's <ntddndis.h>: _NDIS_CONTROL_CODE(11, METHOD_OUT_DIRECT).
#define IOCTL_NDIS_REBIND_ADAPTER 0x17002Eu

// The three entry points are the module's only exports.
#define ISAPI_EXPORT __declspec(dllexport)

// XXTEA is not a service of the device: it is the system's own code, kept in
// platform/ because the tools and the tests encipher and decipher with it too.
// The device build compiles it into the module.
#include "platform/include/xxtea.h"

#endif  // QUENTA_DEVICE_DEVICESDK_H_
