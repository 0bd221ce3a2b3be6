// Lets the error named by the first parameter escape the program block, for the tests of the
// uncaught-error report. An exit handler writes "exit handler ran" to standard output, to show that
// the process leaves through the normal exit path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/UncaughtError.hpp"

namespace {

// Connects a socket to 127.0.0.1:APort, so that it takes the lowest free descriptor.
void ConnectTo(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(APort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::_Exit(3);
}

void RaiseChosen(const std::string& AChoice, const char* AArgument) {
  using namespace qor;
  if (AChoice == "none") return;
  if (AChoice == "empty") Raise(EIdException(""));
  if (AChoice == "timeout") Raise(EIdReadTimeout(RSReadTimeout));
  if (AChoice == "closed") Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  if (AChoice == "refused") {
    Raise(
        EIdSocketError::CreateWithCode(111, Format(RSSocketError, {111, std::string(RSStackECONNREFUSED)})));
  }
  if (AChoice == "resolver") Raise(EIdSocketError::CreateWithCode(1, RSHostNotFound));
  if (AChoice == "long") Raise(EIdException(std::string(2000, 'x')));
  if (AChoice == "bad_alloc") throw std::bad_alloc();
  if (AChoice == "std") throw std::runtime_error("broken invariant");
  if (AChoice == "other") throw 42;
  if (AChoice == "socket") {
    ConnectTo(std::atoi(AArgument));
    Raise(EIdReadTimeout(RSReadTimeout));
  }
  std::_Exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::atexit([] { (void)!::write(STDOUT_FILENO, "exit handler ran\n", 17); });
  const std::string choice = argc > 1 ? argv[1] : "";
  const char* const argument = argc > 2 ? argv[2] : "";
  return qor::RunProgram([&] { RaiseChosen(choice, argument); });
}
