#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace qor {

// A descriptor that is closed with its owner.
class TOwnedDescriptor {
 public:
  explicit TOwnedDescriptor(int AHandle = -1) noexcept : FHandle(AHandle) {}
  ~TOwnedDescriptor() { Reset(); }
  TOwnedDescriptor(TOwnedDescriptor&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, -1)) {}
  TOwnedDescriptor& operator=(TOwnedDescriptor&& AOther) noexcept {
    std::swap(FHandle, AOther.FHandle);
    return *this;
  }
  int Get() const noexcept { return FHandle; }
  void Reset() noexcept {
    if (FHandle != -1) ::close(FHandle);
    FHandle = -1;
  }

 private:
  int FHandle;
};

// Two ends of one TCP connection over 127.0.0.1, made with the system's calls.
struct TLoopbackPair {
  TOwnedDescriptor Client{::socket(AF_INET, SOCK_STREAM, 0)};
  TOwnedDescriptor Server;

  TLoopbackPair() {
    const TOwnedDescriptor listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    socklen_t length = sizeof address;
    if (::bind(listener.Get(), raw, length) == 0 && ::listen(listener.Get(), 1) == 0 &&
        ::getsockname(listener.Get(), raw, &length) == 0 && ::connect(Client.Get(), raw, length) == 0) {
      Server = TOwnedDescriptor(::accept(listener.Get(), nullptr, nullptr));
    }
  }
};

}  // namespace qor
