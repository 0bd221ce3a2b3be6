#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

enum TOperation : uint8_t { opInsert, opRemove };

// The component model: an owner frees the components it owns (owned ones first), and every
// component that asked for it is told when another one is removed, so nobody keeps a dangling
// pointer.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const noexcept { return FOwner; }
  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string AName) { FName = std::move(AName); }
  intptr_t Tag() const noexcept { return FTag; }
  void SetTag(intptr_t ATag) noexcept { FTag = ATag; }

  // The design state; nothing in this system sets it. Components inserted into an owner in design
  // state take it on.
  bool Designing() const noexcept { return FDesigning; }
  void SetDesigning(bool ADesigning) noexcept { FDesigning = ADesigning; }
  bool Destroying() const noexcept { return FDestroying; }

  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int AIndex) const { return FComponents.at(static_cast<size_t>(AIndex)); }

  // Asks that AComponent be told (Notification with opRemove) when this component is removed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Told when AComponent is inserted into or removed from the owner, or when a component that this
  // one asked about is removed.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);

  // Frees the owned components. A derived destructor calls it first when its own members must see
  // the owned components go before it tears itself down.
  void DestroyComponents();

 private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void NotifyRemoval();

  TComponent* FOwner = nullptr;
  std::string FName;
  intptr_t FTag = 0;
  bool FDesigning = false;
  bool FDestroying = false;
  std::vector<TComponent*> FComponents;    // owned, freed by this component
  std::vector<TComponent*> FFreeNotifies;  // told when this component goes, and vice versa
};

}  // namespace qor
