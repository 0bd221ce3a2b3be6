#include "connection/IdBuffers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/IdException.hpp"

namespace qor {
namespace {

struct Consumed {
  std::vector<int32_t> counts;
  TIdBufferConsumedEvent Event() {
    return [this](TIdSimpleBuffer*, int32_t ACount) { counts.push_back(ACount); };
  }
};

void Append(TMemoryStream& ABuffer, const std::string& ABytes) {
  ABuffer.Seek(0, soEnd);
  ABuffer.Write(ABytes.data(), static_cast<int64_t>(ABytes.size()));
}

TEST(ManagedBuffer, TakingFromAnEmptyBufferReportsZeroOrRefusesWithoutNotice) {
  Consumed consumed;
  TIdManagedBuffer buffer(consumed.Event());
  EXPECT_EQ(buffer.TakeString(0), "");
  EXPECT_EQ(consumed.counts, std::vector<int32_t>{0});

  consumed.counts.clear();
  try {
    buffer.TakeString(1);
    FAIL() << "no error";
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_STREQ(e.what(), "Not enough data in buffer.");
  }
  EXPECT_THROW(buffer.Discard(-1), EIdNotEnoughDataInBuffer);
  EXPECT_TRUE(consumed.counts.empty());
}

TEST(ManagedBuffer, ConsumingMovesOnlyTheReadOffsetUntilTheThreshold) {
  Consumed consumed;
  TIdManagedBuffer buffer(consumed.Event());
  std::string data(40000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  Append(buffer, data);

  const char* block = buffer.Memory();
  EXPECT_EQ(buffer.TakeString(100), data.substr(0, 100));
  EXPECT_EQ(buffer.ReadOffset(), 100);
  EXPECT_EQ(buffer.Memory(), block);  // nothing moved
  EXPECT_EQ(buffer.UnreadStart(), block + 100);
  EXPECT_EQ(buffer.Size(), 39900);
  buffer.SetPosition(0);
  char first = 0;
  buffer.Read(&first, 1);
  EXPECT_EQ(first, data[100]);
  EXPECT_EQ(buffer.Position(), 1);

  EXPECT_EQ(buffer.TakeString(32668), data.substr(100, 32668));  // 32768 consumed: compacted
  EXPECT_EQ(buffer.ReadOffset(), 0);
  EXPECT_EQ(buffer.Size(), 7232);
  EXPECT_EQ(std::string(buffer.UnreadStart(), 7232), data.substr(32768));
  EXPECT_EQ(consumed.counts, (std::vector<int32_t>{100, 32668}));

  buffer.Discard(7232);  // read empty: the block is freed
  EXPECT_EQ(buffer.Memory(), nullptr);
  EXPECT_EQ(buffer.Size(), 0);
}

TEST(SimpleBuffer, TakingMovesTheRestToTheFront) {
  Consumed consumed;
  TIdSimpleBuffer buffer(consumed.Event());
  Append(buffer, "abcdef");
  EXPECT_EQ(buffer.TakeString(2), "ab");
  EXPECT_EQ(std::string(buffer.Memory(), static_cast<size_t>(buffer.Size())), "cdef");
  buffer.Discard(4);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(consumed.counts, (std::vector<int32_t>{2, 4}));
  EXPECT_THROW(buffer.TakeString(1), EIdNotEnoughDataInBuffer);
}

}  // namespace
}  // namespace qor
