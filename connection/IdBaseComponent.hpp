#pragma once

#include <functional>

#include "qorclnt/runtime/Component.hpp"

namespace qor {

// Plain event with its sender.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

// Root of the network layer's components; adds nothing to the component model.
class TIdBaseComponent : public TComponent {
 public:
  explicit TIdBaseComponent(TComponent* AOwner) : TComponent(AOwner) {}
};

}  // namespace qor
