#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "ConnectionFixture.hpp"
#include "qorclnt/errors/IdException.hpp"

namespace qor::test {
namespace {

using ReadLn = ConnectionFixture;

TEST_F(ReadLn, CutsAtTheTerminatorAndDropsOneCarriageReturnBeforeLF) {
  handler->QueueReceive("abc\r\nabc\n\r\na\r\r\nx\r\nabc\r\r\nfirstENDsecond\n");
  for (const char* line : {"abc", "abc", ""}) EXPECT_EQ(connection.ReadLn(), line);
  EXPECT_FALSE(connection.LineReadEmpty());
  EXPECT_EQ(connection.ReadLn(), "a\r");  // only one CR is cut
  EXPECT_EQ(connection.ReadLn("\r\n"), "x");
  EXPECT_EQ(connection.ReadLn("\r\n"), "abc\r");  // other terminators cut nothing more
  EXPECT_EQ(connection.ReadLn("END"), "first");
  EXPECT_EQ(connection.ReadLn(""), "second");                         // empty means LF
  EXPECT_EQ(handler->ReceiveLengths(), std::vector<int32_t>{32768});  // one receive served all
}

TEST_F(ReadLn, ASearchForAnotherTerminatorStartsAfresh) {
  handler->QueueReceive("abcX\n");
  EXPECT_EQ(connection.ReadLn("Y", 0), "");  // all five bytes searched for Y, in vain
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_EQ(connection.ReadLn("X"), "abc");
  EXPECT_EQ(connection.ReadLn(), "");

  // And back: bytes searched in vain for LF are searched again for another terminator, and a
  // search for LF after a consumption starts at the first unread byte.
  handler->QueueReceive("abXcd");
  for (int attempt = 0; attempt < 2; ++attempt) EXPECT_EQ(connection.ReadLn("\n", 0), "");
  EXPECT_EQ(connection.ReadLn("X"), "ab");
  EXPECT_EQ(connection.ReadLn("\n", 0), "");
  EXPECT_EQ(connection.ReadLn("d"), "c");
  handler->QueueReceive("e\nf");
  EXPECT_EQ(connection.ReadLn(), "e");
  EXPECT_EQ(connection.InBuffer().Size(), 1);
}

TEST_F(ReadLn, AssemblesLinesFromManySmallReceives) {
  for (const char* chunk : {"a", "b", "c\r", "\nd", "e", "f\r", "\n", "\xC1"}) handler->QueueReceive(chunk);
  EXPECT_EQ(connection.ReadLn(), "abc");
  EXPECT_EQ(connection.ReadLn("\r\n"), "def");  // a CR LF split between two receives
  connection.SetASCIIFilter(true);
  EXPECT_EQ(connection.ReadAvailable(), "A");  // the high bit cleared
}

TEST_F(ReadLn, SplitsAnOverLongLineOrRefusesItAndStopsReceiving) {
  connection.SetMaxLineLength(4);
  connection.SetMaxLineAction(maSplit);
  handler->QueueReceive("abcdef\n");
  EXPECT_EQ(connection.ReadLn(), "abcd");
  EXPECT_EQ(connection.ReadLn(), "ef");

  connection.SetMaxLineAction(maException);
  handler->QueueReceive("abcdef\n").QueueReceive("more\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(MessageOf<EIdReadLnMaxLineLengthExceeded>([&] { connection.ReadLn(); }),
              "Max line length exceeded.");
    EXPECT_EQ(connection.InBuffer().Size(), 7);
  }
  EXPECT_TRUE(handler->ReceivePending());
  EXPECT_EQ(connection.ReadLn("\n", -1, 0), "abcdef");  // 0: no limit
}

TEST_F(ReadLn, TheLimitCountsTheBytesBeforeLFAndBoundsTheBuffer) {
  handler->QueueReceive(std::string(16384, 'x') + "\n" + std::string(16383, 'y') + "\r\n" +
                        std::string(16385, 'z'));
  EXPECT_EQ(connection.ReadLn(), std::string(16384, 'x'));
  EXPECT_EQ(connection.ReadLn(), std::string(16383, 'y'));
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);  // 16385 without LF

  connection.ResetForConnect();
  for (int i = 0; i < 1000; ++i) handler->QueueReceive(std::string(4096, 'x'));  // 4 MB, no LF
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_EQ(connection.InBuffer().Size(), 5 * 4096);  // refused after the first receive beyond 16384
  // The block holds at most the limit and the room of one receive, grown by half.
  EXPECT_LE(connection.InBuffer().Capacity(), (IdMaxLineLengthDefault + IdRecvBufferSizeDefault) * 3 / 2);
}

TEST_F(ReadLn, IntoAKeptStringGivesTheSameLinesAndReusesItsMemory) {
  const std::string lf("\n");
  std::string line = "left over from an earlier use";
  handler
      ->QueueReceive(std::string(200, 'x') + "\r\n" + std::string(100, 'y') +
                     "\n\r\nx\r\r\nabcdefgh\npartial")
      .QueueClose();
  connection.ReadLn(line, lf, -1, -1);
  EXPECT_EQ(line, std::string(200, 'x'));
  const char* const memory = line.data();
  connection.ReadLn(line, lf, -1, -1);
  EXPECT_EQ(line, std::string(100, 'y'));  // nothing of the longer line before is left
  EXPECT_EQ(line.data(), memory);          // a shorter line reuses the string's memory
  for (const char* expected : {"", "x\r"}) {
    connection.ReadLn(line, lf, -1, -1);
    EXPECT_EQ(line, expected);
    EXPECT_FALSE(connection.LineReadEmpty());
  }

  connection.SetMaxLineLength(4);
  connection.SetMaxLineAction(maSplit);
  for (const char* expected : {"abcd", "efgh"}) {
    connection.ReadLn(line, lf, -1, -1);
    EXPECT_EQ(line, expected);
  }
  connection.SetMaxLineLength(16384);
  connection.ReadLn(line, lf, -1, -1);  // a partial line, then the close
  EXPECT_EQ(line, "");
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_EQ(connection.ReadAvailable(), "partial");
}

// Lines as ReadLnWith hands them: until a call hands the LF alone (what ReadLn returns empty) or
// raises, AUse always going on.
std::vector<std::string> LinesWith(TIdTCPConnection& AConnection, int32_t ATimeout) {
  std::vector<std::string> lines;
  for (;;) {
    AConnection.ReadLnWith(
        [&lines](std::string_view ALine) {
          lines.emplace_back(ALine);
          return true;
        },
        ATimeout, -1);
    if (lines.back() == "\n" && AConnection.LineReadEmpty()) return lines;
  }
}

// Attaches to AConnection a connected fake handler that delivers AInput in receives of APiece bytes,
// then closes.
void DeliverInPieces(TIdTCPConnection& AConnection, const std::string& AInput, size_t APiece) {
  auto* fake = new TFakeIOHandler(&AConnection);
  fake->SetConnected(true);
  AConnection.SetIOHandler(fake);
  for (size_t at = 0; at < AInput.size(); at += APiece) fake->QueueReceive(AInput.substr(at, APiece));
  fake->QueueClose();
}

TEST_F(ReadLn, WithAHandlerGivesReadLnsLinesEachWithAnLFFromAnySplitOfTheInput) {
  const std::string input = "abc\r\n\r\nx\ny\r\r\n \t \n" + std::string(16383, 'q') + "\r\n" +
                            std::string(16384, 'r') + "\n\rz\npartial";  // the longest lines allowed
  std::vector<std::string> expected;
  {
    TIdTCPConnection reference(nullptr);
    DeliverInPieces(reference, input, input.size());
    do {
      expected.push_back(reference.ReadLn("\n", 0) + "\n");
    } while (!reference.LineReadEmpty());
  }
  ASSERT_EQ(expected.size(), 9u);
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, input.size()}) {
    SCOPED_TRACE(piece);
    TIdTCPConnection reader(nullptr);
    DeliverInPieces(reader, input, piece);
    EXPECT_EQ(LinesWith(reader, 0), expected);
  }
}

TEST_F(ReadLn, WithAHandlerStopsWhenItSaysSoAndConsumesALineItRaisedOn) {
  handler->QueueReceive("one\ntwo\nthree\n");
  std::vector<std::string> seen;
  const auto stopAtTwo = [&seen](std::string_view ALine) {
    seen.emplace_back(ALine);
    return ALine != "two\n";
  };
  connection.ReadLnWith(stopAtTwo, -1, -1);  // receives, then goes on until it is told to stop
  EXPECT_EQ(seen, (std::vector<std::string>{"one\n", "two\n"}));
  EXPECT_EQ(connection.InBuffer().Size(), 6);  // "three\n" stays

  EXPECT_THROW(connection.ReadLnWith([](std::string_view) -> bool { throw EIdException("no"); }, -1, -1),
               EIdException);
  EXPECT_EQ(connection.InBuffer().Size(), 0);  // the line was consumed all the same
}

TEST_F(ReadLn, WithAHandlerKeepsTheLimitAndTheTimeOutsOfReadLn) {
  const auto ignore = [](std::string_view) { return true; };
  handler->QueueReceive(std::string(20, 'x') + "\n");
  connection.SetMaxLineLength(10);
  EXPECT_THROW(connection.ReadLnWith(ignore, -1, -1), EIdReadLnMaxLineLengthExceeded);
  EXPECT_EQ(connection.InBuffer().Size(), 21);  // refused, nothing taken
  connection.SetMaxLineAction(maSplit);
  std::string first;
  connection.ReadLnWith(
      [&first](std::string_view ALine) {
        first = ALine;
        return true;
      },
      -1, -1);
  EXPECT_EQ(first, std::string(10, 'x') + "\n");

  connection.InBuffer().Discard(static_cast<int32_t>(connection.InBuffer().Size()));
  EXPECT_THROW(connection.ReadLnWith(ignore, -1, -1), EIdReadTimeout);  // nothing more: time-out
}

TEST_F(ReadLn, ReceivesStraightIntoTheInputBufferAndFiltersThere) {
  connection.SetRecvBufferSize(8);
  connection.SetASCIIFilter(true);
  // Every receive lands in the input buffer's room, behind the unread bytes, and is filtered there.
  handler->QueueReceive("0123456789abcdef\xC1\xC2XYZ\r\nnext\n");
  EXPECT_EQ(connection.ReadLn(), "0123456789abcdefABXYZ");
  EXPECT_EQ(connection.ReadLn(), "next");
  EXPECT_EQ(handler->ReceiveLengths(), std::vector<int32_t>(4, 8));
  EXPECT_EQ(connection.InBuffer().Size(), 0);
}

TEST_F(ReadLn, DefaultTimeOutRaisesAndAnExplicitOneReturnsEmpty) {
  handler->QueueReceive("partial");
  connection.SetReadTimeout(1000);
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { connection.ReadLn(); }), "Read Timeout");
  EXPECT_EQ(connection.ReadLn("\n", 200), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  connection.SetReadTimeout(0);
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_EQ(handler->WaitTimeouts(), (std::vector<int32_t>{1000, 1000, 200, -2}));  // 0: no limit
  EXPECT_EQ(connection.InBuffer().Size(), 7);
}

TEST_F(ReadLn, APartialLineBeforeACloseGivesEmptyThenClosedGracefully) {
  handler->QueueReceive("abc").QueueClose();
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { connection.ReadLn(); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(connection.ReadAvailable(), "abc");
}

TEST_F(ReadLn, NonBlankAndReadAllGatherTheirInput) {
  handler->QueueReceive("\r\n \t \r\n  250 ok  \r\n").QueueReceive("ab").QueueReceive("cde").QueueClose();
  EXPECT_EQ(connection.ReadLnNonBlank(5), "250 ok");
  events.clear();
  EXPECT_EQ(connection.ReadAll(), "abcde");
  EXPECT_EQ(events, (std::vector<std::string>{"begin:0:0", "work:0:2", "work:0:5", "status:4", "disconnected",
                                              "work:0:5", "end:0"}));
}

}  // namespace
}  // namespace qor::test
