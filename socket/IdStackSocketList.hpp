#pragma once

#include <sys/select.h>

#include <cstdint>
#include <memory>

namespace qor {

// A set of descriptors.
class TIdSocketList {
 public:
  TIdSocketList() = default;
  virtual ~TIdSocketList() = default;
  TIdSocketList(const TIdSocketList&) = delete;
  TIdSocketList& operator=(const TIdSocketList&) = delete;

  // The AIndex-th member in ascending order (from 0); 0 when the set has fewer members.
  virtual int32_t GetDescriptor(int32_t AIndex) = 0;
  virtual void AddDescriptor(int32_t ADescriptor) = 0;
  virtual void RemoveDescriptor(int32_t ADescriptor) = 0;
  virtual int32_t DescriptorCount() = 0;
};

// A set over the system's 1024-bit select set: only descriptors 0 to 1023 fit, and adding or
// removing any other raises EIdSetSizeExceeded.
class TIdSocketListLinux : public TIdSocketList {
 public:
  TIdSocketListLinux() noexcept;

  int32_t GetDescriptor(int32_t AIndex) override;
  void AddDescriptor(int32_t ADescriptor) override;
  // When the highest member goes, UpperBound follows the next highest (it stays when none is left).
  void RemoveDescriptor(int32_t ADescriptor) override;
  int32_t DescriptorCount() override;

  const fd_set& DescriptorSet() const noexcept { return FDescriptorSet; }
  // One more than the highest descriptor added, 0 for a new set.
  int32_t UpperBound() const noexcept { return FUpperBound; }

 private:
  fd_set FDescriptorSet;
  int32_t FUpperBound = 0;
};

// Makes the descriptor-set class of this platform.
using TIdSocketListClass = std::unique_ptr<TIdSocketList> (*)();
extern TIdSocketListClass SocketListClass;

}  // namespace qor
