#pragma once

// Raw loopback sockets for the transport tests. Everything stays on 127.0.0.1.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <list>
#include <string>

#include "connection/IdAntiFreezeBase.hpp"

namespace qor::transport_test {

struct Fd {
  explicit Fd(int AFd) : Value(AFd) {}
  Fd(const Fd&) = delete;
  ~Fd() { ::close(Value); }
  const int Value;
};

inline sockaddr_in Loopback(int APort) {
  return sockaddr_in{AF_INET, htons(static_cast<uint16_t>(APort)), {htonl(INADDR_LOOPBACK)}, {}};
}

inline int LocalPort(int AFd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(AFd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Binds AFd to 127.0.0.1:APort (0: the system's choice); false when the port is taken.
inline bool BindLoopback(int AFd, int APort = 0) {
  const sockaddr_in address = Loopback(APort);
  return ::bind(AFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A bound socket that does not listen (a connect to its port is refused), or a listener.
struct Port : Fd {
  explicit Port(int ABacklog = -1, int APort = 0) : Fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    Bound = BindLoopback(Value, APort);
    if (ABacklog >= 0) ::listen(Value, ABacklog);
  }
  int Number() const { return LocalPort(Value); }
  bool Bound;
};

// A listener with backlog 0 whose accept queue is filled with connections never accepted: the
// kernel drops further SYNs, so a connect to it blocks.
struct FullListener : Port {
  FullListener() : Port(0) {
    const sockaddr_in address = Loopback(Number());
    for (int i = 0; i < 8; ++i) {
      const int client = Queued.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)).Value;
      ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
      pollfd entry{client, POLLOUT, 0};
      if (::poll(&entry, 1, 200) == 0) break;  // this one hangs: the queue is full
    }
  }
  std::list<Fd> Queued;
};

inline bool Readable(int AFd, int AMilliseconds) {
  pollfd entry{AFd, POLLIN, 0};
  return ::poll(&entry, 1, AMilliseconds) == 1;
}

inline int ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

inline long ElapsedMs(std::chrono::steady_clock::time_point AStart) {
  using namespace std::chrono;
  return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - AStart).count());
}

class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  using TIdAntiFreezeBase::TIdAntiFreezeBase;
  void ProcessIdle() override { ++Turns; }
  int Turns = 0;
};

// The message of the error of kind E that AAction raises; another kind passes through.
template <class E, class F>
std::string MessageOf(F&& AAction) {
  try {
    AAction();
  } catch (const E& error) {
    return error.Message();
  }
  return "<nothing raised>";
}

}  // namespace qor::transport_test
