#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "errors/IdException.hpp"
#include "runtime/MemoryStream.hpp"

namespace qor::test {
namespace {

using Write = ConnectionFixture;

std::vector<size_t> CallSizes(const TFakeIOHandler& AHandler) {
  std::vector<size_t> sizes;
  for (const std::string& call : AHandler.SendCalls()) sizes.push_back(call.size());
  return sizes;
}

TEST_F(Write, LinesEndWithCarriageReturnLineFeedInOneSend) {
  connection.Write("");
  EXPECT_TRUE(handler->SendCalls().empty());
  connection.WriteLn("");
  connection.WriteLn("abc");
  EXPECT_EQ(handler->SendCalls(), (std::vector<std::string>{"\r\n", "abc\r\n"}));
}

TEST_F(Write, ShortSendsAreContinuedUntilAllIsSent) {
  RecordWork();
  connection.BeginWorkSpan(wmWrite, 0);
  handler->QueueSendLimit(2).QueueSendLimit(1);
  connection.WriteLn("hello");
  connection.EndWorkSpan(wmWrite);
  EXPECT_EQ(handler->SendCalls(), (std::vector<std::string>{"he", "l", "lo\r\n"}));
  EXPECT_EQ(events, (std::vector<std::string>{"begin:1:0", "work:1:2", "work:1:3", "work:1:7", "end:1"}));
}

TEST_F(Write, Int32GoesOutInNetworkOrderOrAsItLiesInMemory) {
  connection.WriteInt32(1, true);
  connection.WriteInt32(1, false);
  EXPECT_EQ(handler->Sent(), std::string("\0\0\0\1\1\0\0\0", 8));
}

TEST_F(Write, StreamsGoInChunksOfTheSendBufferSizeInsideAWriteSpan) {
  RecordWork();
  TMemoryStream source;
  const std::string data(65537, 'd');
  source.Write(data.data(), static_cast<int64_t>(data.size()));
  connection.WriteFromStream(&source, true, false, 0);
  EXPECT_EQ(CallSizes(*handler), (std::vector<size_t>{32768, 32768, 1}));
  EXPECT_EQ(handler->Sent(), data);
  EXPECT_EQ(events, (std::vector<std::string>{"begin:1:65537", "work:1:32768", "work:1:65536", "work:1:65537",
                                              "end:1"}));

  TFakeIOHandler counted(nullptr);
  counted.SetConnected(true);
  connection.SetIOHandler(&counted);
  connection.WriteFromStream(&source, true, true, 0);
  EXPECT_EQ(CallSizes(counted), (std::vector<size_t>{4, 32768, 32768, 1}));
  EXPECT_EQ(counted.SendCalls()[0], std::string("\0\1\0\1", 4));

  source.SetPosition(100);
  connection.WriteFromStream(&source, false, true, 3);  // three bytes from the current position
  source.SetPosition(source.Size());
  connection.WriteFromStream(&source, false, true, 0);  // nothing left: the count 0 still goes out
  EXPECT_EQ(counted.SendCalls().back(), std::string("\0\0\0\0", 4));
  EXPECT_EQ(counted.SendCalls()[counted.SendCalls().size() - 3], std::string("\0\0\0\3", 4));
  connection.SetIOHandler(nullptr);
}

TEST_F(Write, AStreamEndingEarlyRaisesAndEndsTheSpan) {
  RecordWork();
  TMemoryStream source;
  source.Write("abc", 3);
  source.SetPosition(0);
  try {
    connection.WriteFromStream(&source, false, false, 10);
    FAIL() << "no error";
  } catch (const EIdNoDataToRead& e) {
    EXPECT_STREQ(e.what(), "No data to read.");
  }
  EXPECT_EQ(handler->Sent(), "abc");
  EXPECT_EQ(events.back(), "end:1");
  EXPECT_EQ(connection.WorkSpan(wmWrite).Depth, 0);
}

TEST_F(Write, FileContentsAreSentWholeOrAMissingFileIsNamed) {
  const std::string name = ::testing::TempDir() + "qor_write_file_contents.txt";
  std::ofstream(name, std::ios::binary) << "file body\r\n";
  EXPECT_EQ(connection.WriteFileContents(name), 11u);
  EXPECT_EQ(handler->Sent(), "file body\r\n");
  std::remove(name.c_str());
  try {
    connection.WriteFileContents(name);
    FAIL() << "no error";
  } catch (const EIdFileNotFound& e) {
    EXPECT_EQ(std::string(e.what()), "File \"" + name + "\" not found");
  }
}

}  // namespace
}  // namespace qor::test
