// Line reading: ReadLn over a transport whose receives the input chooses, with the terminator, the
// maximum line length and its action, the time-outs, the receive size, the ASCII filter and whether the
// transport holds bytes chosen by the input as well. The lines are read by the value-returning ReadLn, by
// ReadLn into a kept string, or (for LF) by ReadLnWith, one line a call or as many as are buffered. After
// every call the lines, their terminators and what stays buffered must account for every byte received, as a
// reference splitter cuts them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.hpp"
#include "FuzzIOHandler.hpp"
#include "FuzzInput.hpp"
#include "Reference.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"

namespace qor::fuzz {
namespace {

std::string PickTerminator(TFuzzInput& AInput) {
  switch (AInput.Below(8)) {
    case 0:
      return "";  // the default, LF
    case 1:
      return "\n";
    case 2:
      return "\r\n";
    case 3:
      return std::string(1, '\0');
    case 4:
      return "\r\n.\r\n";
    default:
      return AInput.Bytes(AInput.Below(4) + 1);
  }
}

// A line length limit: none, small, medium or the default.
int32_t PickLength(TFuzzInput& AInput) {
  switch (AInput.Below(4)) {
    case 0:
      return 0;
    case 1:
      return static_cast<int32_t>(AInput.Below(64)) + 1;
    case 2:
      return static_cast<int32_t>(AInput.Below(4096)) + 1;
    default:
      return IdMaxLineLengthDefault;
  }
}

class TLineReadRun {
 public:
  explicit TLineReadRun(TFuzzInput& AInput) : FHandler(AInput) {
    FTerminator = PickTerminator(AInput);
    FMaxArgument = AInput.Bool() ? -1 : PickLength(AInput);
    FConnection.SetMaxLineLength(PickLength(AInput));
    FConnection.SetMaxLineAction(AInput.Bool() ? maSplit : maException);
    FConnection.SetReadTimeout(AInput.Bool() ? 1000 : 0);
    constexpr int32_t Timeouts[] = {IdTimeoutDefault, IdTimeoutInfinite, 0, 200};
    FTimeout = Timeouts[AInput.Below(4)];
    FConnection.SetRecvBufferSize(AInput.Bool() ? static_cast<int32_t>(AInput.Below(64)) + 1
                                                : IdRecvBufferSizeDefault);
    FConnection.SetASCIIFilter(AInput.Below(4) == 0);
    FConnection.SetIOHandler(&FHandler);
    FMax = static_cast<size_t>(FMaxArgument == -1 ? FConnection.MaxLineLength() : FMaxArgument);
    FSearched = FTerminator.empty() ? "\n" : FTerminator;
    FWay = static_cast<TWay>(AInput.Below(4));
    if (FSearched != "\n" && FWay >= wyWithOne) FWay = wyValue;
    FHandler.SetHoldsBytes(AInput.Bool());  // as TLS holds the decrypted rest of a record
  }

  // Reads lines until an error ends the run, checking each outcome.
  void Run() {
    for (;;) {
      std::vector<std::string> lines;
      try {
        lines = ReadLines();
      } catch (const EIdReadLnMaxLineLengthExceeded&) {
        CheckRefusal();
        return;
      } catch (const EIdReadTimeout&) {
        FUZZ_CHECK(FTimeout == IdTimeoutDefault && FConnection.ReadTimeout() != 0, "time-out " + Settings());
        CheckNoLineBuffered();
        return;
      } catch (const EIdConnClosedGracefully&) {
        FUZZ_CHECK(FHandler.Ended(), "closed before the peer closed, " + Settings());
        CheckNoLineBuffered();
        return;
      } catch (const EIdSocketError&) {
        FUZZ_CHECK(FHandler.Ended(), "a socket error without a failed receive, " + Settings());
        CheckNoLineBuffered();
        return;
      }
      for (size_t i = 0; i < lines.size(); ++i) CheckLine(lines[i], i + 1 == lines.size());
    }
  }

 private:
  // How the lines are read.
  enum TWay : uint8_t { wyValue, wyKept, wyWithOne, wyWithAll };

  // The lines of one call, without the LF that ReadLnWith puts on.
  std::vector<std::string> ReadLines() {
    std::vector<std::string> lines;
    if (FWay == wyValue) {
      lines.push_back(FConnection.ReadLn(FTerminator, FTimeout, FMaxArgument));
    } else if (FWay == wyKept) {
      FConnection.ReadLn(FKept, FTerminator, FTimeout, FMaxArgument);
      lines.push_back(FKept);
    } else {
      const bool all = FWay == wyWithAll;
      FConnection.ReadLnWith(
          [&lines, all](std::string_view ALine) {
            FUZZ_CHECK(!ALine.empty() && ALine.back() == '\n',
                       "a line without its LF: " + Escaped(std::string(ALine)));
            lines.emplace_back(ALine.substr(0, ALine.size() - 1));
            return all;
          },
          FTimeout, FMaxArgument);
      FUZZ_CHECK(!lines.empty(), "ReadLnWith handed no line, " + Settings());
    }
    return lines;
  }

  // The bytes received and not yet taken by a line, as the input buffer should hold them.
  std::string Pending() const {
    std::string received = FHandler.Received().substr(FTaken);
    if (FConnection.ASCIIFilter()) {
      for (char& c : received) c = static_cast<char>(c & 0x7F);
    }
    return received;
  }

  std::string Buffered() {
    TIdManagedBuffer& buffer = FConnection.InBuffer();
    return buffer.Size() == 0 ? std::string()
                              : std::string(buffer.UnreadStart(), static_cast<size_t>(buffer.Size()));
  }

  std::string Settings() const {
    return "terminator " + Escaped(FSearched) + ", maximum " + std::to_string(FMax) + ", action " +
           std::to_string(FConnection.MaxLineAction()) + ", time-out " + std::to_string(FTimeout);
  }

  // A line (or the empty text of LineReadEmpty) that ReadLn returned; for the last line of a call
  // (ALast), what stays buffered is checked too.
  void CheckLine(const std::string& ALine, bool ALast) {
    const std::string pending = Pending();
    const std::string buffered = Buffered();
    const ref::TLineOutcome outcome = ref::SplitLine(pending, FSearched, FMax);
    const auto detail = [&] {
      return Settings() + "\nline " + Escaped(ALine) + "\nbefore " + Escaped(pending) + "\nafter " +
             Escaped(buffered);
    };
    FUZZ_CHECK(FMax == 0 || ALine.size() <= FMax, detail());
    FUZZ_CHECK(ref::Find(FSearched, ALine) == std::string::npos, detail());
    size_t taken = 0;
    if (ALast && FConnection.LineReadEmpty()) {
      FUZZ_CHECK(ALine.empty() && outcome.Kind == ref::TLineOutcome::lkIncomplete, detail());
    } else if (outcome.Kind == ref::TLineOutcome::lkLine) {
      FUZZ_CHECK(ALine == outcome.Line, detail());
      taken = outcome.Consumed;
    } else {
      FUZZ_CHECK(outcome.Kind == ref::TLineOutcome::lkTooLong && FConnection.MaxLineAction() == maSplit,
                 detail());
      FUZZ_CHECK(ALine == pending.substr(0, FMax), detail());
      taken = FMax;
    }
    FTaken += taken;
    if (!ALast) return;
    FUZZ_CHECK(buffered == pending.substr(taken), detail());
    // A receive only follows a search that left at most the maximum unread.
    FUZZ_CHECK(FMax == 0 || buffered.size() <= FMax + static_cast<size_t>(FConnection.RecvBufferSize()),
               detail());
  }

  // An error other than the length limit ended the reading: no complete line may be left behind.
  void CheckNoLineBuffered() {
    const std::string pending = Pending();
    const auto detail = [&] { return Settings() + "\nbuffered " + Escaped(pending); };
    FUZZ_CHECK(Buffered() == pending, detail());
    FUZZ_CHECK(ref::SplitLine(pending, FSearched, FMax).Kind == ref::TLineOutcome::lkIncomplete, detail());
  }

  // "Max line length exceeded.": the line is too long, and every later ReadLn refuses at once,
  // without receiving, so the buffer stops growing.
  void CheckRefusal() {
    const std::string pending = Pending();
    const auto detail = [&] { return Settings() + "\nbuffered " + Escaped(pending); };
    FUZZ_CHECK(FConnection.MaxLineAction() == maException, detail());
    FUZZ_CHECK(ref::SplitLine(pending, FSearched, FMax).Kind == ref::TLineOutcome::lkTooLong, detail());
    FUZZ_CHECK(Buffered() == pending, detail());
    const size_t received = FHandler.Received().size();
    for (int again = 0; again < 3; ++again) {
      bool refused = false;
      try {
        FConnection.ReadLn(FTerminator, FTimeout, FMaxArgument);
      } catch (const EIdReadLnMaxLineLengthExceeded&) {
        refused = true;
      }
      FUZZ_CHECK(refused, detail());
      FUZZ_CHECK(FHandler.Received().size() == received && Buffered() == pending, detail());
    }
  }

  TFuzzIOHandler FHandler;
  TIdTCPConnection FConnection{nullptr};
  std::string FTerminator;  // as passed to ReadLn
  std::string FSearched;    // as searched for
  int32_t FMaxArgument = -1;
  size_t FMax = 0;  // the limit in force; 0 for none
  int32_t FTimeout = IdTimeoutDefault;
  size_t FTaken = 0;  // received bytes taken by the lines so far
  TWay FWay = wyValue;
  std::string FKept;  // the kept string of wyKept
};

}  // namespace
}  // namespace qor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  qor::fuzz::TFuzzInput input(AData, ASize);
  qor::fuzz::TLineReadRun(input).Run();
  return 0;
}
