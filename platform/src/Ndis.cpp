// The NDIS device "NDS0:" and its rebind request.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <QuentaPlatform.h>
#include <windows.h>

#include "AdapterConfig.h"
#include "Handles.h"
#include "PlatformInternal.h"

extern char** environ;

namespace quenta {
namespace {

struct NdisDevice : HandleObject {
  NdisDevice() : HandleObject(HandleType::kDevice) {}
};

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += (all.empty() ? "" : " ") + text;
  return all;
}

// Runs the adapter's rebind command with its registry values in the
// environment, in a process group of its own so that a command that outlives
// its time limit is killed with everything it started.
DWORD runRebindCommand(const AdapterConfig& adapter, DWORD timeoutMs) {
  AdapterAddresses addresses = readAdapterAddresses(adapter.name);
  std::vector<std::string> settings = {
      "QUENTA_ADAPTER=" + adapter.name,
      "QUENTA_INTERFACE=" + adapter.interface,
      std::string("QUENTA_DHCP=") + (addresses.dhcp ? "1" : "0"),
      "QUENTA_IP_ADDRESS=" + joined(addresses.ip),
      "QUENTA_SUBNET_MASK=" + joined(addresses.mask),
      "QUENTA_DEFAULT_GATEWAY=" + joined(addresses.gateway),
      "QUENTA_DNS=" + joined(addresses.dns),
  };
  std::vector<char*> environment;
  for (std::string& setting : settings) environment.push_back(&setting[0]);
  // The process's own environment follows, less any stale adapter settings.
  for (char** inherited = environ; *inherited != nullptr; ++inherited) {
    std::string setting(*inherited);
    if (setting.compare(0, 7, "QUENTA_") != 0 || setting.compare(0, 12, "QUENTA_ROOT=") == 0) {
      environment.push_back(*inherited);
    }
  }
  environment.push_back(nullptr);
  std::string command = adapter.command;
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* arguments[] = {shell, dashC, &command[0], nullptr};

  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, shell, &actions, &attributes, arguments, environment.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return win32ErrorFromErrno(failed);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return ERROR_GEN_FAILURE;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      NKDbgPrintfW(u"NDIS: rebind command of %hs killed after %u ms\r\n", adapter.name.c_str(), timeoutMs);
      return ERROR_TIMEOUT;
    }
    struct timespec pause = {0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ERROR_SUCCESS;
  NKDbgPrintfW(u"NDIS: rebind command of %hs failed (exit %d)\r\n", adapter.name.c_str(),
               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return ERROR_GEN_FAILURE;
}

DWORD rebind(const std::u16string& name) {
  AdapterSetup setup;
  std::string error;
  if (!loadAdapterSetup(&setup, &error)) {
    NKDbgPrintfW(u"NDIS: %hs\r\n", error.c_str());
    return ERROR_FILE_NOT_FOUND;
  }
  for (const AdapterConfig& adapter : setup.adapters) {
    if (widen(adapter.name) != name) continue;
    // A simulated adapter shows its registry values: it has taken them up.
    if (adapter.simulated) return ERROR_SUCCESS;
    if (adapter.command.empty()) {
      NKDbgPrintfW(u"NDIS: rebind of %hs requested; no rebind command configured\r\n", adapter.name.c_str());
      return ERROR_SUCCESS;
    }
    return runRebindCommand(adapter, setup.rebindTimeoutMs);
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool openDeviceFile(LPCWSTR name, HANDLE* handle) {
  static const char16_t kNdisDevice[] = u"NDS0:";
  if (name == nullptr) return false;
  for (size_t i = 0; i < sizeof kNdisDevice / sizeof kNdisDevice[0]; ++i) {
    char16_t unit = name[i];
    if (unit >= u'a' && unit <= u'z') unit -= 0x20;
    if (unit != kNdisDevice[i]) return false;
  }
  HANDLE device = nullptr;
  try {
    device = registerHandle(std::make_shared<NdisDevice>());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  *handle = device == nullptr ? INVALID_HANDLE_VALUE : device;
  return true;
}

}  // namespace quenta

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID, DWORD, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED) {
  if (!quenta::lookupHandle(hDevice, quenta::HandleType::kDevice)) return FALSE;
  if (dwIoControlCode != IOCTL_NDIS_REBIND_ADAPTER || lpInBuffer == nullptr || nInBufferSize < 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
  DWORD error;
  try {
    // The name ends at its first zero character, within the buffer.
    const auto* units = static_cast<const char16_t*>(lpInBuffer);
    std::u16string name(units, nInBufferSize / 2);
    size_t end = name.find(u'\0');
    if (end == std::u16string::npos) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    name.resize(end);
    error = quenta::rebind(name);
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
