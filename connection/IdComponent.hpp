#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "qorclnt/connection/IdBaseComponent.hpp"
#include "qorclnt/runtime/Format.hpp"

namespace qor {

enum TIdStatus : uint8_t {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

enum TWorkMode : uint8_t { wmRead, wmWrite };

using TIdStatusEvent =
    std::function<void(TComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode)>;

// The status texts, indexed by TIdStatus.
extern const std::array<const char*, 9> StatusTexts;

// A hold on CurrentStack, which lives exactly while holds exist: the first hold makes it with
// TIdStack::NewStack, the last one to go releases it. Every TIdComponent holds one for its life; a
// pause holds one while it waits. Holds may be taken and given back on any thread.
class TIdStackShare {
 public:
  TIdStackShare();
  ~TIdStackShare();
  TIdStackShare(const TIdStackShare&) = delete;
  TIdStackShare& operator=(const TIdStackShare&) = delete;
};

// A component that talks to the network: status and work notifications, and a share in the life of
// CurrentStack, which exists while any TIdComponent does.
class TIdComponent : public TIdBaseComponent {
 public:
  explicit TIdComponent(TComponent* AOwner);
  ~TIdComponent() override;

  virtual void BeginWorkSpan(TWorkMode AWorkMode, int32_t ASize);
  virtual void ReportWork(TWorkMode AWorkMode, int32_t ACount);
  virtual void EndWorkSpan(TWorkMode AWorkMode);

  // Formats the status text with AArgs (with one empty text when there are none) and calls OnStatus;
  // nothing is formatted without a listener.
  void NotifyStatus(TIdStatus AStatus, std::initializer_list<FormatArg> AArgs = {});

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  struct TWorkSpan {
    int32_t Done = 0;
    int32_t Total = 0;
    int32_t Depth = 0;
  };
  const TWorkSpan& WorkSpan(TWorkMode AWorkMode) const { return FWorkSpans[AWorkMode]; }

 private:
  std::array<TWorkSpan, 2> FWorkSpans{};
  TIdStackShare FStackShare;  // made after the component base, released after the owned components
};

// The number of holds on CurrentStack: live TIdComponent objects and pauses in progress.
int32_t StackUsers();

}  // namespace qor
