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
    if (this != &AOther) {
      Reset();
      FHandle = std::exchange(AOther.FHandle, -1);
    }
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

// A TCP listener on 127.0.0.1 with a port of the system's choosing.
struct TLoopbackListener {
  TOwnedDescriptor Socket{::socket(AF_INET, SOCK_STREAM, 0)};
  int Port = 0;

  TLoopbackListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(Socket.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::listen(Socket.Get(), 8) == 0 &&
        ::getsockname(Socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      Port = ntohs(address.sin_port);
    }
  }
};

// Two ends of one TCP connection over 127.0.0.1.
struct TLoopbackPair {
  TOwnedDescriptor Client;
  TOwnedDescriptor Server;

  TLoopbackPair() {
    const TLoopbackListener listener;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listener.Port));
    Client = TOwnedDescriptor(::socket(AF_INET, SOCK_STREAM, 0));
    if (::connect(Client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      Server = TOwnedDescriptor(::accept(listener.Socket.Get(), nullptr, nullptr));
    }
  }
};

}  // namespace qor
