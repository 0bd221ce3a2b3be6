#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qorclnt/connection/IdTCPConnection.hpp"
#include "support/FakeIOHandler.hpp"
#include "support/MessageOf.hpp"

namespace qor::test {

// A connection over a connected fake handler that it refers to (not owns), recording its
// notifications in order: "status:<n>", "disconnected", "begin:<mode>:<n>", "work:<mode>:<n>", "end:<mode>".
class ConnectionFixture : public ::testing::Test {
 protected:
  ConnectionFixture() {
    handler->SetConnected(true);
    connection.SetIOHandler(handler);
    connection.OnStatus = [this](TComponent*, TIdStatus AStatus, const std::string&) {
      Note("status:", AStatus);
    };
    connection.OnDisconnected = [this](TComponent*) { events.push_back("disconnected"); };
    connection.OnWorkBegin = [this](TComponent*, TWorkMode AMode, int32_t AMax) {
      Note("begin:", AMode, AMax);
    };
    connection.OnWork = [this](TComponent*, TWorkMode AMode, int32_t ACount) {
      Note("work:", AMode, ACount);
    };
    connection.OnWorkEnd = [this](TComponent*, TWorkMode AMode) { Note("end:", AMode); };
  }

  void Note(const std::string& AKind, int AValue, int ACount = -1) {
    events.push_back(AKind + std::to_string(AValue) + (ACount < 0 ? "" : ":" + std::to_string(ACount)));
  }

  TIdTCPConnection connection{nullptr};
  TFakeIOHandler* handler = new TFakeIOHandler(&connection);  // freed by its owner, the connection
  std::vector<std::string> events;
};

}  // namespace qor::test
