#include "qorclnt/socket/IdStackSocketList.hpp"

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdSocketListClass SocketListClass = []() -> std::unique_ptr<TIdSocketList> {
  return std::make_unique<TIdSocketListLinux>();
};

namespace {

// Raises for a descriptor that has no bit in the set.
void CheckFits(int32_t ADescriptor) {
  if (ADescriptor < 0 || ADescriptor >= FD_SETSIZE) Raise(EIdSetSizeExceeded(RSSetSizeExceeded));
}

}  // namespace

TIdSocketListLinux::TIdSocketListLinux() noexcept {
  FD_ZERO(&FDescriptorSet);
}

int32_t TIdSocketListLinux::GetDescriptor(int32_t AIndex) {
  for (int32_t descriptor = 0; descriptor < FD_SETSIZE; ++descriptor) {
    if (FD_ISSET(descriptor, &FDescriptorSet) && AIndex-- == 0) return descriptor;
  }
  return 0;
}

void TIdSocketListLinux::AddDescriptor(int32_t ADescriptor) {
  CheckFits(ADescriptor);
  FD_SET(ADescriptor, &FDescriptorSet);
  if (ADescriptor + 1 > FUpperBound) FUpperBound = ADescriptor + 1;
}

void TIdSocketListLinux::RemoveDescriptor(int32_t ADescriptor) {
  CheckFits(ADescriptor);
  FD_CLR(ADescriptor, &FDescriptorSet);
  if (ADescriptor + 1 < FUpperBound) return;
  for (int32_t descriptor = FD_SETSIZE - 1; descriptor >= 0; --descriptor) {
    if (FD_ISSET(descriptor, &FDescriptorSet)) {
      FUpperBound = descriptor + 1;
      return;
    }
  }
}

int32_t TIdSocketListLinux::DescriptorCount() {
  int32_t count = 0;
  for (int32_t descriptor = 0; descriptor < FD_SETSIZE; ++descriptor)
    count += FD_ISSET(descriptor, &FDescriptorSet);
  return count;
}

}  // namespace qor
