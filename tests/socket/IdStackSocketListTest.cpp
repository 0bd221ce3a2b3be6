#include "qorclnt/socket/IdStackSocketList.hpp"

#include <gtest/gtest.h>

#include "qorclnt/errors/IdException.hpp"

namespace qor {
namespace {

TEST(IdStackSocketList, AddRemoveAndCount) {
  const std::unique_ptr<TIdSocketList> made = SocketListClass();
  auto& list = dynamic_cast<TIdSocketListLinux&>(*made);
  EXPECT_EQ(0, list.DescriptorCount());
  EXPECT_EQ(0, list.UpperBound());
  EXPECT_EQ(0, list.GetDescriptor(0));

  list.AddDescriptor(5);
  list.RemoveDescriptor(5);
  EXPECT_EQ(0, list.DescriptorCount());
  EXPECT_EQ(6, list.UpperBound());  // nothing left to lower it to

  for (const int32_t descriptor : {1023, 7, 3, 7}) list.AddDescriptor(descriptor);
  EXPECT_EQ(3, list.DescriptorCount());
  EXPECT_EQ(1024, list.UpperBound());
  EXPECT_EQ(3, list.GetDescriptor(0));
  EXPECT_EQ(7, list.GetDescriptor(1));
  EXPECT_EQ(1023, list.GetDescriptor(2));
  EXPECT_EQ(0, list.GetDescriptor(3));
  EXPECT_EQ(0, list.GetDescriptor(-1));

  list.RemoveDescriptor(1023);
  EXPECT_EQ(8, list.UpperBound());
  list.RemoveDescriptor(3);  // below the highest: the bound stays
  EXPECT_EQ(8, list.UpperBound());
  EXPECT_EQ(1, list.DescriptorCount());
}

TEST(IdStackSocketList, RefusesDescriptorsOutsideTheSet) {
  TIdSocketListLinux list;
  list.AddDescriptor(0);
  for (const int32_t descriptor : {1024, -1, 4096}) {
    try {
      list.AddDescriptor(descriptor);
      ADD_FAILURE() << "added " << descriptor;
    } catch (const EIdSetSizeExceeded& error) {
      EXPECT_EQ("Set Size Exceeded.", error.Message());
    }
    EXPECT_THROW(list.RemoveDescriptor(descriptor), EIdSetSizeExceeded);
  }
  EXPECT_EQ(1, list.DescriptorCount());
  EXPECT_EQ(1, list.UpperBound());
}

}  // namespace
}  // namespace qor
