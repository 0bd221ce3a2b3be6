#include <gtest/gtest.h>

#include <memory>

#include "TransportSockets.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"

namespace qor {
namespace {

TEST(SocksInfo, HandlerCopiesUnownedSettingsAndRefersToOwnedOnes) {
  auto handler = std::make_unique<TIdIOHandlerSocket>(nullptr);
  TIdSocksInfo* const own = handler->SocksInfo();
  EXPECT_EQ(own->Version(), svNoSocks);
  EXPECT_EQ(own->Port(), 1080);
  EXPECT_EQ(own->Handler(), handler.get());

  TIdSocksInfo unowned(nullptr);
  unowned.SetVersion(svSocks4A);
  unowned.SetHost("proxy");
  unowned.SetPassword("secret");
  handler->SetSocksInfo(&unowned);  // copied into the handler's own object
  EXPECT_EQ(handler->SocksInfo(), own);
  EXPECT_EQ(own->Version(), svSocks4A);
  EXPECT_EQ(own->Host() + own->Password(), "proxysecret");
  EXPECT_EQ(unowned.Handler(), nullptr);

  auto owner = std::make_unique<TIdComponent>(nullptr);
  auto* const owned = new TIdSocksInfo(owner.get());  // freed by its owner
  handler->SetSocksInfo(owned);
  EXPECT_EQ(handler->SocksInfo(), owned);
  EXPECT_EQ(owned->Handler(), handler.get());
  owner.reset();  // the handler forgets the removed settings
  EXPECT_EQ(handler->SocksInfo()->Port(), 1080);

  owner = std::make_unique<TIdComponent>(nullptr);
  auto* const outliving = new TIdSocksInfo(owner.get());
  handler->SetSocksInfo(outliving);
  handler.reset();  // the settings forget the removed handler
  EXPECT_EQ(outliving->Handler(), nullptr);
}

}  // namespace
}  // namespace qor
