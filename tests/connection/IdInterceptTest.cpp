#include "socket/IdIntercept.hpp"

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

// A connection with an outer intercept A that holds an inner intercept B; every event is recorded.
class Intercept : public ConnectionFixture {
 protected:
  Intercept() {
    outer->SetNestedIntercept(inner);
    Watch(outer, "A");
    Watch(inner, "B");
    connection.SetIntercept(outer);
  }

  void Watch(TIdConnectionIntercept* AIntercept, const std::string& AName) {
    AIntercept->OnConnect = [this, AName](TIdConnectionIntercept*) { seen.push_back(AName + " connect"); };
    AIntercept->OnDisconnect = [this, AName](TIdConnectionIntercept*) { seen.push_back(AName + " disconnect"); };
    AIntercept->OnSend = [this, AName](TIdConnectionIntercept* ASender, TStream* AStream) {
      EXPECT_EQ(AStream->Position(), 0);
      seen.push_back(AName + " send " + Contents(AStream) + (ASender->Connection() ? "" : " (unconnected)"));
    };
    AIntercept->OnReceive = [this, AName](TIdConnectionIntercept*, TStream* AStream) {
      EXPECT_EQ(AStream->Position(), 0);
      seen.push_back(AName + " receive " + Contents(AStream));
    };
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
  EXPECT_EQ(seen, (std::vector<std::string>{"A connect", "B connect", "A send out", "B send out", "B receive in\n",
                                            "A receive in\n", "B disconnect", "A disconnect"}));
  EXPECT_EQ(outer->Connection(), nullptr);
}

TEST_F(Intercept, ListenersMayRewriteWhatIsSentAndReceived) {
  outer->OnSend = [](TIdConnectionIntercept*, TStream* AStream) { Replace(AStream, "longer than before"); };
  connection.Write("short");
  EXPECT_EQ(handler->SendCalls(), std::vector<std::string>{"longer than before"});

  // A received block emptied by a listener counts as nothing received: the read goes on.
  outer->OnReceive = [](TIdConnectionIntercept*, TStream* AStream) {
    if (Contents(AStream) == "noise\n") Replace(AStream, "");
  };
  handler->QueueReceive("noise\n").QueueReceive("line\n");
  EXPECT_EQ(connection.ReadLn(), "line");
  EXPECT_TRUE(connection.Connected());
}

TEST_F(Intercept, ABlockSwallowedBySendIsNotSentAndIsNoClose) {
  outer->OnSend = [](TIdConnectionIntercept*, TStream* AStream) { Replace(AStream, ""); };
  connection.WriteLn("secret");
  EXPECT_TRUE(handler->SendCalls().empty());
  EXPECT_FALSE(connection.ClosedMark());
  EXPECT_TRUE(connection.Connected());
  EXPECT_TRUE(events.empty());
}

TEST_F(Intercept, RemovedInterceptsAreForgotten) {
  delete inner;
  EXPECT_EQ(outer->NestedIntercept(), nullptr);
  connection.Write("x");
  EXPECT_EQ(seen, std::vector<std::string>{"A send x (unconnected)"});
  delete outer;
  EXPECT_EQ(connection.Intercept(), nullptr);
  connection.Write("y");
  EXPECT_EQ(handler->Sent(), "xy");
}

TEST(InterceptAlone, PassesStreamsOnUntouchedWithoutListeners) {
  TIdConnectionIntercept intercept(nullptr);
  EXPECT_TRUE(intercept.IsClient());
  TMemoryStream stream;
  stream.Write("abc", 3);
  stream.SetPosition(1);
  intercept.Send(&stream);
  intercept.Receive(&stream);
  EXPECT_EQ(stream.Position(), 1);
  EXPECT_EQ(Contents(&stream), "abc");
}

}  // namespace
}  // namespace qor::test
