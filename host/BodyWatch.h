// Cuts off request bodies that do not keep arriving. CivetWeb waits for a
// body read to fill the whole buffer asked for, and after an answer it drains
// an unread body at the client's pace, each wait renewed by every byte, so a
// body sent one byte a second would hold its worker thread without end.
//
// A request with a body is watched from its first read to CivetWeb's end of
// the request. Once it is older than the request time-out, the bytes read so
// far must average at least the minimum rate (bytes a second); once the module
// has answered, what is left of the body must be drained within the request
// time-out. A request that falls behind has its socket shut down, which ends
// CivetWeb's waits at once: the module sees the body end, the connection
// closes. CivetWeb gives no access to its sockets, so the socket is found by
// its two addresses among the process's descriptors, only when a cut is due.
//
// One thread checks every watched request a few times a second. watch(),
// release() and the Ticket calls may come from any worker thread.
#ifndef QUENTA_HOST_BODYWATCH_H_
#define QUENTA_HOST_BODYWATCH_H_

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace quenta {

class BodyWatch {
 public:
  struct Ticket {
    sockaddr_in peer;
    sockaddr_in local;
    long long startMs;
    std::atomic<long long> bytesRead{0};
    std::atomic<long long> answeredMs{-1};  // when the module returned, -1 before
    bool cut = false;
  };

  BodyWatch(int timeoutMs, int minRate);

  // A body read asks CivetWeb for at most this much at once, so that a
  // client sending at the minimum rate completes a read every half time-out.
  size_t largestRead() const { return largestRead_; }
  ~BodyWatch();
  BodyWatch(const BodyWatch&) = delete;
  BodyWatch& operator=(const BodyWatch&) = delete;

  // The addresses as CivetWeb reports them (dotted IPv4, ports).
  Ticket* watch(const char* peerAddress, int peerPort, int localPort);
  void answered(Ticket* ticket);
  void release(Ticket* ticket);

  static long long nowMs();

 private:
  void run();
  bool behind(const Ticket& ticket, long long now) const;

  const int timeoutMs_;
  const int minRate_;
  const size_t largestRead_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<Ticket> tickets_;
  std::thread thread_;
};

}  // namespace quenta

#endif  // QUENTA_HOST_BODYWATCH_H_
