// Numeric replies: ParseLines over lines the input chooses, then ReadReplyLines and CheckReplyCode
// over a transport whose receives the input chooses, with the line length limit, its action, the
// time-out and the allowed codes chosen by the input too. Every reply must be the one that a
// reference reader makes of the lines received.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.hpp"
#include "FuzzIOHandler.hpp"
#include "FuzzInput.hpp"
#include "Reference.hpp"
#include "qorclnt/connection/IdRFCReply.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"

namespace qor::fuzz {
namespace {

struct TReply {
  std::string TextCode;
  int32_t NumericCode = 0;
  std::vector<std::string> Text;
  bool operator==(const TReply&) const = default;
};

TReply Snapshot(const TIdRFCReply& AReply) {
  return {AReply.TextCode(), AReply.NumericCode(), AReply.Text()};
}

std::string Describe(const TReply& AReply) {
  std::string text = "code " + Escaped(AReply.TextCode) + " = " + std::to_string(AReply.NumericCode);
  for (const std::string& line : AReply.Text) text += "\n  " + Escaped(line);
  return text;
}

// The record that the lines of one reply should make: the code from the first four bytes of the
// first line, trimmed, without a hyphen at the fourth; the text from the fifth byte of every line.
TReply ExpectedReply(const std::vector<std::string>& ALines) {
  TReply reply;
  if (ALines.empty()) return reply;
  reply.TextCode = ref::Trim(std::string_view(ALines.front()).substr(0, 4));
  if (reply.TextCode.size() == 4 && reply.TextCode[3] == '-') reply.TextCode.pop_back();
  if (!reply.TextCode.empty()) reply.NumericCode = ref::Number(reply.TextCode).value_or(0);
  for (const std::string& line : ALines)
    reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
  return reply;
}

// The replies in the bytes AReceived, read as trimmed non-blank LF lines of at most AMax bytes (0:
// no limit; longer ones split with maSplit, or the end of reading with maException). A reply goes
// on, after a first line with a hyphen at the fourth byte, up to a line shorter than four bytes or
// one that starts, letter case aside, with the first line's code and a space.
std::vector<TReply> ExpectedReplies(std::string_view AReceived, size_t AMax, TIdMaxLineAction AAction) {
  std::vector<std::string> lines;
  for (;;) {
    const ref::TLineOutcome outcome = ref::SplitLine(AReceived, "\n", AMax);
    if (outcome.Kind == ref::TLineOutcome::lkIncomplete) break;
    if (outcome.Kind == ref::TLineOutcome::lkTooLong && AAction == maException) break;
    const bool split = outcome.Kind == ref::TLineOutcome::lkTooLong;
    std::string line = ref::Trim(split ? AReceived.substr(0, AMax) : std::string_view(outcome.Line));
    AReceived.remove_prefix(split ? AMax : outcome.Consumed);
    if (!line.empty()) lines.push_back(std::move(line));
  }
  std::vector<TReply> replies;
  for (size_t first = 0; first < lines.size();) {
    size_t end = first + 1;
    if (lines[first].size() > 3 && lines[first][3] == '-') {
      const std::string last = ref::UpperAscii(lines[first].substr(0, 3) + ' ');
      while (end < lines.size() && lines[end].size() >= 4 && ref::UpperAscii(lines[end].substr(0, 4)) != last)
        ++end;
      if (end == lines.size()) break;  // the reply has not ended
      ++end;
    }
    replies.push_back(ExpectedReply(
        {lines.begin() + static_cast<ptrdiff_t>(first), lines.begin() + static_cast<ptrdiff_t>(end)}));
    first = end;
  }
  return replies;
}

// ParseLines on a few short lines, and the copy of the result.
void ParseChosenLines(TFuzzInput& AInput) {
  std::vector<std::string> lines(AInput.Below(6));
  for (std::string& line : lines) line = AInput.Bytes(AInput.Below(12));
  TIdRFCReply reply;
  reply.SetTextCode("999");
  reply.ParseLines(lines);
  const TReply expected = ExpectedReply(lines);
  FUZZ_CHECK(Snapshot(reply) == expected, Describe(Snapshot(reply)) + "\nexpected " + Describe(expected));
  TIdRFCReply copy;
  copy.Assign(reply);
  FUZZ_CHECK(Snapshot(copy) == expected, Describe(Snapshot(copy)));
}

// CheckReplyCode of the last reply's code: returned when allowed, else EIdProtocolReplyError with
// the full code and the text, each line followed by LF.
void CheckCode(TIdTCPConnection& AConnection, const TIdReplyCodes& AAllowed) {
  const TIdRFCReply& reply = AConnection.LastReply();
  const auto code = static_cast<int16_t>(reply.NumericCode());
  const bool allowed =
      AAllowed.empty() || std::find(AAllowed.begin(), AAllowed.end(), code) != AAllowed.end();
  std::string message;
  for (const std::string& line : reply.Text()) message += line + '\n';
  try {
    FUZZ_CHECK(AConnection.CheckReplyCode(code, AAllowed) == code && allowed, std::to_string(code));
  } catch (const EIdProtocolReplyError& e) {
    FUZZ_CHECK(!allowed && e.ErrorCode() == reply.NumericCode() && e.Message() == message,
               std::to_string(code) + " " + Escaped(e.Message()));
  }
}

void ReadReplies(TFuzzInput& AInput) {
  TFuzzIOHandler handler(AInput);
  TIdTCPConnection connection(nullptr);
  // The line length limit: none, small or the default.
  const size_t choice = AInput.Below(3);
  const size_t max = choice == 0 ? 0 : choice == 1 ? AInput.Below(64) + 1 : IdMaxLineLengthDefault;
  connection.SetMaxLineLength(static_cast<int32_t>(max));
  connection.SetMaxLineAction(AInput.Bool() ? maSplit : maException);
  connection.SetReadTimeout(AInput.Bool() ? 1000 : 0);
  TIdReplyCodes allowed(AInput.Below(4));
  for (int16_t& code : allowed) code = static_cast<int16_t>(AInput.Word());
  connection.SetIOHandler(&handler);

  std::vector<TReply> replies;
  try {
    for (;;) {
      connection.ReadReplyLines();
      replies.push_back(Snapshot(connection.LastReply()));
      CheckCode(connection, allowed);
    }
  } catch (const EIdReadTimeout&) {
  } catch (const EIdConnClosedGracefully&) {
    FUZZ_CHECK(handler.Ended(), "closed before the peer closed");
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
  } catch (const EIdSocketError&) {
    FUZZ_CHECK(handler.Ended(), "a socket error without a failed receive");
  }
  // Every complete reply received was read, and read right.
  const std::vector<TReply> expected = ExpectedReplies(handler.Received(), max, connection.MaxLineAction());
  FUZZ_CHECK(replies.size() == expected.size(), std::to_string(replies.size()) + " replies, expected " +
                                                    std::to_string(expected.size()) + " in " +
                                                    Escaped(handler.Received()));
  for (size_t i = 0; i < replies.size(); ++i) {
    FUZZ_CHECK(replies[i] == expected[i], Describe(replies[i]) + "\nexpected " + Describe(expected[i]));
  }
}

}  // namespace
}  // namespace qor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  qor::fuzz::TFuzzInput input(AData, ASize);
  qor::fuzz::ParseChosenLines(input);
  qor::fuzz::ReadReplies(input);
  return 0;
}
