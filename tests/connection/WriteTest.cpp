#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/runtime/MemoryStream.hpp"

namespace qor::test {
namespace {

using Write = ConnectionFixture;

TEST_F(Write, LinesAndNumbersGoOutInOneSendEachAndShortSendsAreContinued) {
  connection.Write("");
  connection.WriteLn("");
  connection.WriteLn("abc");
  connection.WriteInt32(1, true);
  connection.WriteInt32(1, false);
  EXPECT_EQ(handler->SendCalls(), (std::vector<std::string>{"\r\n", "abc\r\n", std::string("\0\0\0\1", 4),
                                                            std::string("\1\0\0\0", 4)}));
  connection.BeginWorkSpan(wmWrite, 0);
  handler->QueueSendLimit(2).QueueSendLimit(1);
  connection.WriteLn("hello");
  connection.EndWorkSpan(wmWrite);
  EXPECT_EQ(handler->Sent().substr(15), "hello\r\n");
  EXPECT_EQ(handler->SendCalls().size(), 7u);  // he, l, lo CR LF
  EXPECT_EQ(events, (std::vector<std::string>{"begin:1:0", "work:1:2", "work:1:3", "work:1:7", "end:1"}));
}

TEST_F(Write, StreamsGoInChunksOfTheSendBufferSizeAfterAnOptionalCount) {
  TMemoryStream source;
  source.Write(std::string(65537, 'd').data(), 65537);
  for (bool withCount : {false, true}) connection.WriteFromStream(&source, true, withCount, 0);
  source.SetPosition(source.Size());
  connection.WriteFromStream(&source, false, true, 0);  // nothing left: the count 0 still goes out
  std::vector<size_t> sizes;
  for (const std::string& call : handler->SendCalls()) sizes.push_back(call.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{32768, 32768, 1, 4, 32768, 32768, 1, 4}));
  EXPECT_EQ(handler->SendCalls()[3], std::string("\0\1\0\1", 4));
  EXPECT_EQ(handler->SendCalls()[7], std::string("\0\0\0\0", 4));
  EXPECT_EQ(events.front(), "begin:1:65537");
  EXPECT_EQ(events[3], "work:1:65537");
}

TEST_F(Write, AStreamEndingEarlyRaisesAndStillEndsTheSpan) {
  TMemoryStream source;
  source.Write("abc", 3);
  source.SetPosition(0);
  EXPECT_EQ(MessageOf<EIdNoDataToRead>([&] { connection.WriteFromStream(&source, false, false, 10); }),
            "No data to read.");
  EXPECT_EQ(handler->Sent(), "abc");
  EXPECT_EQ(events, (std::vector<std::string>{"begin:1:10", "work:1:3", "end:1"}));
}

TEST_F(Write, FileContentsAreSentWholeOrAMissingFileIsNamed) {
  const std::string name = ::testing::TempDir() + "qor_write_file_contents.txt";
  std::ofstream(name, std::ios::binary) << "file body\r\n";
  EXPECT_EQ(connection.WriteFileContents(name), 11u);
  EXPECT_EQ(handler->Sent(), "file body\r\n");
  std::remove(name.c_str());
  EXPECT_EQ(MessageOf<EIdFileNotFound>([&] { connection.WriteFileContents(name); }),
            "File \"" + name + "\" not found");
}

}  // namespace
}  // namespace qor::test
