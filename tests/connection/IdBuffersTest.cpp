#include "qorclnt/connection/IdBuffers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qorclnt/errors/IdException.hpp"

namespace qor {
namespace {

TEST(Buffers, TakingFromTheFrontReportsWhatWasConsumedOrRefusesWithoutNotice) {
  std::vector<int32_t> consumed;
  TIdManagedBuffer buffer([&](TIdSimpleBuffer*, int32_t ACount) { consumed.push_back(ACount); });
  EXPECT_EQ(buffer.TakeString(0), "");
  EXPECT_THROW(buffer.TakeString(1), EIdNotEnoughDataInBuffer);
  EXPECT_THROW(buffer.Discard(-1), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(consumed, std::vector<int32_t>{0});

  TIdSimpleBuffer simple;
  simple.Write("abcdef", 6);
  EXPECT_EQ(simple.TakeString(2), "ab");
  EXPECT_EQ(std::string(simple.Memory(), 4), "cdef");
  EXPECT_EQ(simple.Size(), 4);
}

TEST(Buffers, TheManagedBufferMovesOnlyItsReadOffsetUntilTheThreshold) {
  TIdManagedBuffer buffer;
  std::string data(40000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  buffer.Write(data.data(), 40000);

  const char* block = buffer.Memory();
  EXPECT_EQ(buffer.TakeString(100), data.substr(0, 100));
  EXPECT_EQ(buffer.Memory(), block);  // nothing moved
  EXPECT_EQ(buffer.UnreadStart(), block + 100);
  EXPECT_EQ(buffer.Size(), 39900);  // positions and sizes count from the first unread byte
  buffer.SetPosition(0);
  char first = 0;
  buffer.Read(&first, 1);
  EXPECT_EQ(first, data[100]);

  EXPECT_EQ(buffer.TakeString(32668), data.substr(100, 32668));  // 32768 consumed: compacted
  EXPECT_EQ(buffer.ReadOffset(), 0);
  EXPECT_EQ(std::string(buffer.UnreadStart(), static_cast<size_t>(buffer.Size())), data.substr(32768));
  buffer.Discard(7232);  // read empty: a block of this size stays for what comes next
  EXPECT_EQ(buffer.Memory(), block);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Position(), 0);

  const std::string large(TIdManagedBuffer::KeptBlockSize + 1, 'x');
  buffer.Append(large.data(), static_cast<int32_t>(large.size()));
  buffer.Discard(static_cast<int32_t>(large.size()));  // read empty: a larger block is freed
  EXPECT_EQ(buffer.Memory(), nullptr);
  EXPECT_EQ(buffer.Capacity(), 0);
}

TEST(Buffers, AppendingDropsConsumedBytesBeforeTheBlockGrowsAndCompactingKeepsTheBlock) {
  TIdManagedBuffer buffer;
  std::string data(1800, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  buffer.Append(data.data(), 1000);
  buffer.Discard(900);
  const char* const block = buffer.Memory();
  const int64_t capacity = buffer.Capacity();
  buffer.Append(data.data() + 1000, 800);  // no room behind the unread 100: the consumed 900 go first
  EXPECT_EQ(buffer.Memory(), block);
  EXPECT_EQ(buffer.Capacity(), capacity);
  EXPECT_EQ(buffer.ReadOffset(), 0);
  EXPECT_EQ(std::string(buffer.UnreadStart(), static_cast<size_t>(buffer.Size())), data.substr(900));
  EXPECT_EQ(buffer.Position(), 900);  // behind the new bytes

  buffer.SetCompactThreshold(50);
  buffer.Discard(60);  // compacted, in the same block
  EXPECT_EQ(buffer.ReadOffset(), 0);
  EXPECT_EQ(buffer.Memory(), block);
  EXPECT_EQ(std::string(buffer.UnreadStart(), static_cast<size_t>(buffer.Size())), data.substr(960));
  buffer.Append(data.data(), 100);  // room enough: nothing moves
  EXPECT_EQ(buffer.Size(), 940);
  buffer.Discard(940);  // read empty: the block is kept, and the next bytes go to its front
  EXPECT_EQ(buffer.Memory(), block);
  buffer.Append("xyz", 3);
  EXPECT_EQ(buffer.ReadOffset(), 0);
  EXPECT_EQ(std::string(buffer.Memory(), 3), "xyz");
  EXPECT_EQ(buffer.Capacity(), capacity);
}

}  // namespace
}  // namespace qor
