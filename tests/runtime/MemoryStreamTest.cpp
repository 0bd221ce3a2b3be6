#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "qorclnt/runtime/MemoryStream.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "support/Sanitizers.hpp"

namespace qor {
namespace {

std::string ReadAll(TMemoryStream& AStream) {
  std::string text(static_cast<size_t>(AStream.Size()), '\0');
  AStream.SetPosition(0);
  text.resize(static_cast<size_t>(AStream.Read(text.data(), static_cast<int64_t>(text.size()))));
  return text;
}

TEST(MemoryStream, WriteThenReadBackFromAnyPosition) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Write("hello world", 11), 11);
  EXPECT_EQ(stream.Position(), 11);
  EXPECT_EQ(stream.Size(), 11);

  char part[8] = {};
  EXPECT_EQ(stream.Seek(6, soBeginning), 6);
  EXPECT_EQ(stream.Read(part, 8), 5);  // only what is there
  EXPECT_EQ(std::string(part, 5), "world");
  EXPECT_EQ(stream.Read(part, 8), 0);  // at the end

  EXPECT_EQ(stream.Seek(-5, soEnd), 6);
  EXPECT_EQ(stream.Seek(-2, soCurrent), 4);
  EXPECT_EQ(stream.Seek(-100, soCurrent), 0);  // never before the start
}

TEST(MemoryStream, WritingOverAndPastTheEnd) {
  TMemoryStream stream;
  stream.Write("abcdef", 6);
  stream.SetPosition(4);
  stream.Write("XYZ", 3);
  EXPECT_EQ(ReadAll(stream), "abcdXYZ");

  // Growing by many small writes keeps every byte.
  TMemoryStream big;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    big.Write(&c, 1);
    expected.push_back(c);
  }
  EXPECT_EQ(ReadAll(big), expected);
}

TEST(MemoryStream, SetSizeTruncatesOrExtendsAndClearEmpties) {
  TMemoryStream stream;
  stream.Write("0123456789", 10);
  stream.SetSize(4);
  EXPECT_EQ(stream.Size(), 4);
  EXPECT_EQ(stream.Position(), 4);  // the position follows a shorter size
  EXPECT_EQ(ReadAll(stream), "0123");

  stream.SetSize(1000);
  EXPECT_EQ(stream.Size(), 1000);
  EXPECT_EQ(std::string(stream.Memory(), 4), "0123");

  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Memory(), nullptr);
  stream.Write("again", 5);
  EXPECT_EQ(ReadAll(stream), "again");
}

// A stream holding "abc", with the capacity that gives.
struct TSmallStream {
  TSmallStream() {
    Stream.Write("abc", 3);
    Capacity = Stream.Capacity();
  }
  void ExpectUnchanged() {
    EXPECT_EQ(Stream.Size(), 3);
    EXPECT_EQ(Stream.Capacity(), Capacity);
    EXPECT_EQ(ReadAll(Stream), "abc");
  }
  TMemoryStream Stream;
  int64_t Capacity = 0;
};

TEST(MemoryStream, AWriteWhoseEndCannotBeCountedIsRefused) {
  TSmallStream small;
  small.Stream.Seek(INT64_MAX, soBeginning);
  EXPECT_THROW(small.Stream.Write("d", 1), EOutOfMemory);
  small.ExpectUnchanged();
}

TEST(MemoryStream, ABlockPastTheAddressSpaceIsRefusedAndNothingIsWritten) {
  if (sizeof(size_t) == 8 && test::SanitizedBuild)
    GTEST_SKIP() << "the sanitizers' allocators end the program instead of failing an allocation this large";
  // Past the 4 GiB of a 32-bit build; past what a 64-bit kernel maps.
  const int64_t size = sizeof(size_t) == 4 ? int64_t{5} << 30 : int64_t{1} << 62;
  TSmallStream small;
  EXPECT_THROW(small.Stream.SetSize(size), EOutOfMemory);
  small.ExpectUnchanged();
  small.Stream.Seek(size - 1, soBeginning);
  EXPECT_THROW(small.Stream.Write("d", 1), EOutOfMemory);
  small.ExpectUnchanged();
}

}  // namespace
}  // namespace qor
