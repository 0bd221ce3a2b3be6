// Sizes past what 32 bits count: data is sent whole or refused before a byte goes out, and lines
// past 2 GiB are read whole. The large cases need a 64-bit build and allocate gigabytes once each.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "support/Sanitizers.hpp"

namespace qor::test {
namespace {

// A handler that takes every byte and records where each send began and how many it took, keeping
// the bytes only of sends of a few bytes.
class TCountingIOHandler : public TFakeIOHandler {
 public:
  using TFakeIOHandler::TFakeIOHandler;
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override {
    const auto* data = static_cast<const char*>(ABuffer);
    Sends.push_back({data, ALength, ALength <= 8 ? std::string(data, static_cast<size_t>(ALength)) : ""});
    return TIdIOResult::Moved(ALength);
  }
  struct TSend {
    const char* Data;
    int32_t Count;
    std::string Small;
  };
  std::vector<TSend> Sends;
};

class LargeSizes : public ::testing::Test {
 protected:
  LargeSizes() {
    handler->SetConnected(true);
    connection.SetIOHandler(handler);
  }

  // The bytes sent in all.
  int64_t SentInAll() const {
    int64_t total = 0;
    for (const auto& send : handler->Sends) total += send.Count;
    return total;
  }

  TIdTCPConnection connection{nullptr};
  TCountingIOHandler* handler = new TCountingIOHandler(&connection);  // freed by the connection
};

constexpr int64_t TwoGiB = int64_t{1} << 31;

// Skips a test that holds gigabytes where that cannot be done: a 32-bit build cannot hold them, and
// a sanitizer's shadow memory would multiply them on a machine that other builds share.
#define SKIP_UNLESS_GIGABYTES_FIT()                                                             \
  if (sizeof(size_t) < 8) GTEST_SKIP() << "a text past 2 GiB cannot be held by a 32-bit build"; \
  if (SanitizedBuild) GTEST_SKIP() << "a sanitizer's shadow memory would multiply the gigabytes"

TEST_F(LargeSizes, ATextPastFourGiBIsSentWholeInOrder) {
  SKIP_UNLESS_GIGABYTES_FIT();
  {
    const std::string text(static_cast<size_t>(2 * TwoGiB + 100), 't');
    connection.Write(text);
    const char* next = text.data();
    for (const auto& send : handler->Sends) {
      EXPECT_EQ(send.Data, next);
      next += send.Count;
    }
    EXPECT_EQ(next, text.data() + text.size());
  }
  EXPECT_EQ(SentInAll(), 2 * TwoGiB + 100);
  EXPECT_EQ(handler->Sends.size(), 3u);  // two of 2 GiB - 1, then the remaining 102 bytes
}

// A file of ASize bytes that takes no room on the disk.
std::string SparseFile(int64_t ASize) {
  const std::string name = ::testing::TempDir() + "qor_large_sizes_" + std::to_string(ASize);
  std::ofstream(name, std::ios::binary).close();
  std::filesystem::resize_file(name, static_cast<uintmax_t>(ASize));
  return name;
}

TEST_F(LargeSizes, AStreamPastTwoGiBIsRefusedBeforeAByteGoesOut) {
  int begun = 0;
  connection.OnWorkBegin = [&begun](TComponent*, TWorkMode, int32_t) { ++begun; };
  const std::string name = SparseFile(TwoGiB);
  EXPECT_EQ(MessageOf<EIdStreamTooLarge>([&] { connection.WriteFileContents(name); }),
            "Stream too large to send.");
  EXPECT_TRUE(handler->Sends.empty());
  EXPECT_EQ(begun, 0);
  std::filesystem::remove(name);
}

// A stream of ASize bytes that holds none of them: a read only counts (the reader's buffer keeps
// what it held).
class TCountOnlyStream : public TStream {
 public:
  explicit TCountOnlyStream(int64_t ASize) : FSize(ASize) {}
  int64_t Read(void* /*ABuffer*/, int64_t ACount) override {
    const int64_t count = std::clamp<int64_t>(FSize - FPosition, 0, ACount);
    FPosition += count;
    return count;
  }
  int64_t Write(const void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPosition = (AOrigin == soBeginning ? 0 : AOrigin == soCurrent ? FPosition : FSize) + AOffset;
    return FPosition;
  }
  void SetSize(int64_t ASize) override { FSize = ASize; }

 private:
  int64_t FSize;
  int64_t FPosition = 0;
};

TEST_F(LargeSizes, AStreamOfTwoGiBLessOneByteIsSentWholeAfterItsCount) {
  TCountOnlyStream stream(TwoGiB - 1);
  connection.SetSendBufferSize(64 << 20);
  connection.WriteFromStream(&stream, true, true, 0);
  ASSERT_FALSE(handler->Sends.empty());
  EXPECT_EQ(handler->Sends.front().Small, "\x7f\xff\xff\xff");
  EXPECT_EQ(SentInAll(), 4 + TwoGiB - 1);
}

TEST_F(LargeSizes, ALineOfMoreThanTwoGiBIsReadWholeWithoutALimit) {
  SKIP_UNLESS_GIGABYTES_FIT();
  const int64_t length = TwoGiB + 10;
  TIdManagedBuffer& input = connection.InBuffer();
  input.SetSize(length + 7);
  std::memset(input.Memory(), 'q', static_cast<size_t>(length));
  std::memcpy(input.Memory() + length, "\r\nnext\n", 7);
  {
    const std::string line = connection.ReadLn("\n", IdTimeoutDefault, 0);
    EXPECT_EQ(static_cast<int64_t>(line.size()), length);
    EXPECT_EQ(line.find_first_not_of('q'), std::string::npos);
  }
  EXPECT_EQ(connection.ReadLn("\n", IdTimeoutDefault, 0), "next");
  EXPECT_EQ(input.Size(), 0);
}

}  // namespace
}  // namespace qor::test
