#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/IdTCPConnection.hpp"
#include "support/FakeIOHandler.hpp"

namespace qor::test {

// A connection over a connected fake handler that the connection refers to (it does not own it), with
// its notifications recorded in order as "status:<n>", "disconnected", "work:<mode>:<count>" and so on.
class ConnectionFixture : public ::testing::Test {
 protected:
  ConnectionFixture() {
    handler->SetConnected(true);
    connection.SetIOHandler(handler);
    connection.OnStatus = [this](TComponent*, TIdStatus AStatus, const std::string&) {
      events.push_back("status:" + std::to_string(AStatus));
    };
    connection.OnDisconnected = [this](TComponent*) { events.push_back("disconnected"); };
  }

  // Records the work events too.
  void RecordWork() {
    connection.OnWorkBegin = [this](TComponent*, TWorkMode AMode, int32_t AMax) {
      events.push_back("begin:" + std::to_string(AMode) + ":" + std::to_string(AMax));
    };
    connection.OnWork = [this](TComponent*, TWorkMode AMode, int32_t ACount) {
      events.push_back("work:" + std::to_string(AMode) + ":" + std::to_string(ACount));
    };
    connection.OnWorkEnd = [this](TComponent*, TWorkMode AMode) {
      events.push_back("end:" + std::to_string(AMode));
    };
  }

  static std::string Status(TIdStatus AStatus) { return "status:" + std::to_string(AStatus); }

  TIdTCPConnection connection{nullptr};
  TFakeIOHandler* handler = new TFakeIOHandler(&connection);  // freed by its owner, the connection
  std::vector<std::string> events;
};

}  // namespace qor::test
