#include "qorclnt/socket/IdIntercept.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConnectionFixture.hpp"

namespace qor::test {
namespace {

std::string Contents(TStream* AStream) {
  std::string bytes(static_cast<size_t>(AStream->Size()), '\0');
  AStream->SetPosition(0);
  AStream->Read(bytes.data(), AStream->Size());
  return bytes;
}

void Replace(TStream* AStream, const std::string& ABytes) {
  AStream->SetSize(0);
  AStream->Write(ABytes.data(), static_cast<int64_t>(ABytes.size()));
}

// A connection whose intercept A holds a nested intercept B; their events are recorded in `seen`.
class Intercept : public ConnectionFixture {
 protected:
  Intercept() {
    outer->SetNestedIntercept(inner);
    for (auto* layer : {outer, inner}) {
      const std::string name = layer == outer ? "A " : "B ";
      layer->OnConnect = [this, name](TIdConnectionIntercept*) { seen.push_back(name + "connect"); };
      layer->OnDisconnect = [this, name](TIdConnectionIntercept*) { seen.push_back(name + "disconnect"); };
      layer->OnSend = [this, name](TIdConnectionIntercept*, TStream* AStream) {
        See(name + "send ", AStream);
      };
      layer->OnReceive = [this, name](TIdConnectionIntercept*, TStream* AStream) {
        See(name + "receive ", AStream);
      };
    }
    connection.SetIntercept(outer);
  }
  // The connection's tear-down would tell the intercepts, whose listeners record into `seen`.
  ~Intercept() override { connection.SetIntercept(nullptr); }

  // Notes the stream's position and then its contents.
  void See(const std::string& AWhat, TStream* AStream) {
    const std::string position = std::to_string(AStream->Position());
    seen.push_back(AWhat + position + Contents(AStream));
  }

  TIdConnectionIntercept* outer = new TIdConnectionIntercept(&connection);
  TIdConnectionIntercept* inner = new TIdConnectionIntercept(&connection);
  std::vector<std::string> seen;
};

TEST_F(Intercept, OuterFirstForConnectAndSendInnerFirstForDisconnectAndReceive) {
  outer->Connect(&connection);
  EXPECT_EQ(inner->Connection(), &connection);
  connection.Write("out");
  handler->QueueReceive("in\n");
  EXPECT_EQ(connection.ReadLn(), "in");
  connection.Disconnect();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"A connect", "B connect", "A send 0out", "B send 0out",
                                      "B receive 0in\n", "A receive 0in\n", "B disconnect", "A disconnect"}));
  EXPECT_EQ(outer->Connection(), nullptr);
}

TEST_F(Intercept, ListenersMayLengthenWhatIsSentAndEmptyWhatIsReceived) {
  outer->OnSend = [](TIdConnectionIntercept*, TStream* AStream) { Replace(AStream, "longer than before"); };
  connection.Write("short");
  EXPECT_EQ(handler->SendCalls(), std::vector<std::string>{"longer than before"});

  outer->OnReceive = [](TIdConnectionIntercept*, TStream* AStream) {
    if (Contents(AStream) == "noise\n") Replace(AStream, "");
  };
  handler->QueueReceive("noise\n").QueueReceive("line\n");
  EXPECT_EQ(connection.ReadLn(), "line");  // the emptied block counted as nothing received
}

TEST_F(Intercept, ABlockSwallowedOnSendIsNotSentAndIsNoClose) {
  outer->OnSend = [](TIdConnectionIntercept*, TStream* AStream) { Replace(AStream, ""); };
  connection.WriteLn("secret");
  EXPECT_TRUE(handler->SendCalls().empty());
  EXPECT_FALSE(connection.ClosedMark());
  EXPECT_TRUE(connection.Connected());
  EXPECT_TRUE(events.empty());
}

TEST_F(Intercept, RemovedInterceptsAreForgottenAndBareOnesPassStreamsOn) {
  delete inner;
  EXPECT_EQ(outer->NestedIntercept(), nullptr);
  connection.Write("x");
  EXPECT_EQ(seen, std::vector<std::string>{"A send 0x"});
  delete outer;
  EXPECT_EQ(connection.Intercept(), nullptr);
  connection.Write("y");
  EXPECT_EQ(handler->Sent(), "xy");

  TIdConnectionIntercept bare(nullptr);
  TMemoryStream stream;
  stream.Write("abc", 3);
  bare.Send(&stream);
  bare.Receive(&stream);
  EXPECT_EQ(stream.Position(), 3);  // untouched
}

}  // namespace
}  // namespace qor::test
