#include "host/BodyWatch.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace quenta {
namespace {

// How often the watched requests are looked at.
const int kCheckEveryMs = 250;

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// Shuts down the socket connecting these two addresses, if it is still open.
void shutDownSocket(const sockaddr_in& peer, const sockaddr_in& local) {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return;
  int own = dirfd(folder);
  for (dirent* entry; (entry = readdir(folder)) != nullptr;) {
    int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || fd == own) continue;
    sockaddr_in address;
    socklen_t length = sizeof(address);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET ||
        !sameAddress(address, peer)) {
      continue;
    }
    length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_port == local.sin_port) {
      shutdown(fd, SHUT_RDWR);
      break;
    }
  }
  closedir(folder);
}

}  // namespace

long long BodyWatch::nowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

BodyWatch::BodyWatch(int timeoutMs, int minRate)
    : timeoutMs_(timeoutMs),
      minRate_(minRate),
      largestRead_(std::min<size_t>(std::max<size_t>(static_cast<size_t>(minRate) * timeoutMs / 2000, 512), 65536)),
      thread_([this] { run(); }) {}

BodyWatch::~BodyWatch() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

BodyWatch::Ticket* BodyWatch::watch(const char* peerAddress, int peerPort, int localPort) {
  std::lock_guard<std::mutex> hold(lock_);
  tickets_.emplace_back();
  Ticket* ticket = &tickets_.back();
  std::memset(&ticket->peer, 0, sizeof(ticket->peer));
  std::memset(&ticket->local, 0, sizeof(ticket->local));
  ticket->peer.sin_port = htons(static_cast<uint16_t>(peerPort));
  inet_pton(AF_INET, peerAddress, &ticket->peer.sin_addr);
  ticket->local.sin_port = htons(static_cast<uint16_t>(localPort));
  ticket->startMs = nowMs();
  return ticket;
}

void BodyWatch::answered(Ticket* ticket) { ticket->answeredMs = nowMs(); }

void BodyWatch::release(Ticket* ticket) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = tickets_.begin(); it != tickets_.end(); ++it) {
    if (&*it == ticket) {
      tickets_.erase(it);
      return;
    }
  }
}

bool BodyWatch::behind(const Ticket& ticket, long long now) const {
  long long answered = ticket.answeredMs.load();
  if (answered >= 0) return now - answered > timeoutMs_;
  long long age = now - ticket.startMs;
  return age > timeoutMs_ && ticket.bytesRead.load() + static_cast<long long>(largestRead_) < static_cast<long long>(minRate_) * age / 1000;
}

void BodyWatch::run() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    wake_.wait_for(hold, std::chrono::milliseconds(kCheckEveryMs));
    long long now = nowMs();
    for (Ticket& ticket : tickets_) {
      if (!ticket.cut && behind(ticket, now)) {
        ticket.cut = true;
        shutDownSocket(ticket.peer, ticket.local);
      }
    }
  }
}

}  // namespace quenta
