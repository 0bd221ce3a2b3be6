#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qorclnt/socket/IdSocks.hpp"

// A reference of the client side of the SOCKS dialogues, for the SOCKS harness: what the client
// should conclude from the proxy's bytes, and a reader of the requests it sent.
namespace qor::fuzz {

struct TSocksSettings {
  TSocksVersion Version = svSocks5;
  TSocksAuthentication Authentication = saNoAuthentication;
  std::string Username;
  std::string Password;
  std::string Host;  // the destination
  uint16_t Port = 0;
};

std::string Describe(const TSocksSettings& ASettings);

struct TDialogueOutcome {
  std::string Error;        // the class name of the error raised; empty for success
  bool LookedUp = false;    // the destination was looked up (and the lookup failed)
  size_t Requests = 0;      // how many requests were sent
  size_t Consumed = 0;      // bytes of the proxy's answers taken
  bool ProxyEnded = false;  // the proxy closed (or a receive failed) before a whole answer came
};

// The outcome of a dialogue with ASettings, where AReceived is every byte the client received:
// the proxy's answers as far as the client read them.
TDialogueOutcome ExpectedDialogue(const TSocksSettings& ASettings, std::string_view AReceived);

// Reads the first ARequests requests of the dialogue in ASent back, as a proxy would, and checks
// them against the settings; nothing may follow them.
void CheckRequests(const TSocksSettings& ASettings, std::string_view ASent, size_t ARequests);

}  // namespace qor::fuzz
