#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "errors/IdException.hpp"

namespace qor::test {
namespace {

using ReadLn = ConnectionFixture;

TEST_F(ReadLn, CutsAtTheTerminatorAndDropsOneCarriageReturnBeforeLF) {
  handler->QueueReceive("abc\r\nabc\n\r\na\r\r\nx\r\ny\r\nabc\r\r\nfirstENDsecond\n");
  EXPECT_EQ(connection.ReadLn(), "abc");
  EXPECT_EQ(connection.ReadLn(), "abc");
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_FALSE(connection.LineReadEmpty());
  EXPECT_EQ(connection.ReadLn(), "a\r");               // only one CR is cut
  EXPECT_EQ(connection.ReadLn("\r\n"), "x");
  EXPECT_EQ(connection.ReadLn("\r\n"), "y");
  EXPECT_EQ(connection.ReadLn("\r\n"), "abc\r");      // other terminators cut nothing more
  EXPECT_EQ(connection.ReadLn("END"), "first");
  EXPECT_EQ(connection.ReadLn(""), "second");          // empty means LF
  EXPECT_EQ(handler->ReceiveLengths(), std::vector<int32_t>{32768});  // all from one receive
  EXPECT_EQ(connection.InBuffer().Size(), 0);
}

TEST_F(ReadLn, AssemblesLinesFromManySmallReceives) {
  for (const char* chunk : {"a", "b", "c\r", "\nd", "e", "f\r", "\n", "gh\r", "\r", "\n"}) handler->QueueReceive(chunk);
  EXPECT_EQ(connection.ReadLn(), "abc");
  EXPECT_EQ(connection.ReadLn("\r\n"), "def");  // a CR LF terminator split between two receives
  EXPECT_EQ(connection.ReadLn("\r\n"), "gh\r");
  EXPECT_FALSE(handler->ReceivePending());
}

TEST_F(ReadLn, SplitsAnOverLongLineOrRefusesItLeavingItBuffered) {
  connection.SetMaxLineLength(4);
  connection.SetMaxLineAction(maSplit);
  handler->QueueReceive("abcdef\n");
  EXPECT_EQ(connection.ReadLn(), "abcd");
  EXPECT_EQ(connection.ReadLn(), "ef");

  connection.SetMaxLineAction(maException);
  handler->QueueReceive("abcdef\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      connection.ReadLn();
      FAIL() << "no error";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
      EXPECT_STREQ(e.what(), "Max line length exceeded.");
    }
    EXPECT_EQ(connection.InBuffer().Size(), 7);
  }
  EXPECT_EQ(handler->ReceiveLengths().size(), 2u);  // the second refusal needed no receive
  EXPECT_EQ(connection.ReadLn("\n", -1, 0), "abcdef");  // 0: no limit
}

TEST_F(ReadLn, AcceptsLinesUpToTheMaximumIncludingACarriageReturn) {
  handler->QueueReceive(std::string(16384, 'x') + "\n" + std::string(16383, 'y') + "\r\n" +
                        std::string(16385, 'z') + "\n");
  EXPECT_EQ(connection.ReadLn(), std::string(16384, 'x'));
  EXPECT_EQ(connection.ReadLn(), std::string(16383, 'y'));
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
}

TEST_F(ReadLn, StopsReceivingAHugeStreamWithoutALineEnd) {
  for (int i = 0; i < 1000; ++i) handler->QueueReceive(std::string(4096, 'x'));  // 4 MB, no LF
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_LE(connection.InBuffer().Size(), 16384 + 32768);
  EXPECT_LE(connection.InBuffer().Capacity(), 4 * (16384 + 32768));
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_EQ(handler->ReceiveLengths().size(), 5u);  // 5 * 4096 > 16384, then no further receive
}

TEST_F(ReadLn, DefaultTimeOutRaisesAndAnExplicitOneReturnsEmpty) {
  handler->QueueReceive("partial");
  connection.SetReadTimeout(1000);
  try {
    connection.ReadLn();
    FAIL() << "no error";
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
  EXPECT_EQ(connection.ReadLn("\n", 200), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  connection.SetReadTimeout(0);
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  // The waits: 1000 after the receive of the partial line, then 200, then no limit (-2).
  EXPECT_EQ(handler->WaitTimeouts(), (std::vector<int32_t>{1000, 1000, 200, -2}));
  EXPECT_EQ(connection.InBuffer().Size(), 7);  // the partial line is kept
  EXPECT_TRUE(connection.Connected());
}

TEST_F(ReadLn, APartialLineBeforeACloseGivesEmptyThenClosedGracefully) {
  handler->QueueReceive("abc").QueueClose();
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  try {
    connection.ReadLn();
    FAIL() << "no error";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(connection.ReadAvailable(), "abc");  // still handed out here
}

TEST_F(ReadLn, NonBlankSkipsBlankLinesAndTrims) {
  handler->QueueReceive("\r\n \t \r\n  250 ok  \r\n");
  EXPECT_EQ(connection.ReadLnNonBlank(5), "250 ok");
  handler->QueueReceive("\n\n");
  EXPECT_EQ(connection.ReadLnNonBlank(2), "");
}

TEST_F(ReadLn, AsciiFilterClearsTheHighBitOfReceivedBytes) {
  connection.SetASCIIFilter(true);
  handler->QueueReceive("\xC1\xE2\n");
  EXPECT_EQ(connection.ReadLn(), "Ab");
}

TEST_F(ReadLn, ReadAllGathersEverythingUntilTheCloseInsideAReadSpan) {
  RecordWork();
  handler->QueueReceive("ab").QueueReceive("cde").QueueClose();
  EXPECT_EQ(connection.ReadAll(), "abcde");
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(events, (std::vector<std::string>{"begin:0:0", "work:0:2", "work:0:5", Status(hsDisconnected),
                                              "disconnected", "work:0:5", "end:0"}));
}

}  // namespace
}  // namespace qor::test
