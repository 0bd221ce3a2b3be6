#include "qorclnt/runtime/Component.hpp"

#include <algorithm>

namespace qor {

namespace {

void Erase(std::vector<TComponent*>& AList, TComponent* AComponent) {
  AList.erase(std::remove(AList.begin(), AList.end(), AComponent), AList.end());
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->Insert(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  DestroyComponents();
  NotifyRemoval();
  if (FOwner != nullptr) FOwner->Remove(this);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    // The owned component's destructor takes it out of the list.
    delete FComponents.back();
  }
}

void TComponent::NotifyRemoval() {
  // Each one told forgets this component; its answer may change the list, so take a copy.
  const std::vector<TComponent*> notified = std::move(FFreeNotifies);
  FFreeNotifies.clear();
  for (TComponent* component : notified) {
    Erase(component->FFreeNotifies, this);
    component->Notification(this, opRemove);
  }
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  // A component made by an owner in design state is in design state from its construction on.
  if (FDesigning) AComponent->FDesigning = true;
  Notification(AComponent, opInsert);
}

void TComponent::Remove(TComponent* AComponent) {
  Erase(FComponents, AComponent);
  AComponent->FOwner = nullptr;
  Notification(AComponent, opRemove);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
    AComponent->FFreeNotifies.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  Erase(FFreeNotifies, AComponent);
  Erase(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* /*AComponent*/, TOperation /*AOperation*/) {}

}  // namespace qor
