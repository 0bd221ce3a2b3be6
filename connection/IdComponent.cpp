#include "qorclnt/connection/IdComponent.hpp"

#include <mutex>

#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

const std::array<const char*, 9> StatusTexts = {
    RSStatusResolving, RSStatusConnecting, RSStatusConnected, RSStatusDisconnecting, RSStatusDisconnected,
    RSStatusText,      RSStatusText,       RSStatusText,      RSStatusText};

namespace {

// The one process-wide lock: it guards the count of holds and the making and release of CurrentStack.
std::mutex StackLock;
int32_t StackHolds = 0;

}  // namespace

TIdStackShare::TIdStackShare() {
  const std::lock_guard<std::mutex> lock(StackLock);
  // A failing NewStack leaves the count as it was.
  if (StackHolds == 0) CurrentStack = TIdStack::NewStack();
  ++StackHolds;
}

TIdStackShare::~TIdStackShare() {
  const std::lock_guard<std::mutex> lock(StackLock);
  if (--StackHolds == 0) CurrentStack.reset();
}

int32_t StackUsers() {
  const std::lock_guard<std::mutex> lock(StackLock);
  return StackHolds;
}

TIdComponent::TIdComponent(TComponent* AOwner) : TIdBaseComponent(AOwner) {}

TIdComponent::~TIdComponent() {
  // The owned components go first, each giving back its own hold, and then this one's hold.
  DestroyComponents();
}

void TIdComponent::NotifyStatus(TIdStatus AStatus, std::initializer_list<FormatArg> AArgs) {
  if (!OnStatus) return;
  const char* const text = StatusTexts[AStatus];
  // Without arguments, "%s" gives the empty text and texts without a placeholder are unchanged.
  OnStatus(this, AStatus, AArgs.size() == 0 ? Format(text, {std::string()}) : Format(text, AArgs));
}

void TIdComponent::BeginWorkSpan(TWorkMode AWorkMode, int32_t ASize) {
  TWorkSpan& span = FWorkSpans[AWorkMode];
  if (++span.Depth != 1) return;
  span.Total = ASize;
  span.Done = 0;
  if (OnWorkBegin) OnWorkBegin(this, AWorkMode, ASize);
}

void TIdComponent::ReportWork(TWorkMode AWorkMode, int32_t ACount) {
  TWorkSpan& span = FWorkSpans[AWorkMode];
  // Progress outside a span is dropped; inside one the listener gets the running total.
  if (span.Depth <= 0) return;
  span.Done += ACount;
  if (OnWork) OnWork(this, AWorkMode, span.Done);
}

void TIdComponent::EndWorkSpan(TWorkMode AWorkMode) {
  TWorkSpan& span = FWorkSpans[AWorkMode];
  // The depth goes down before the listener runs, so a failing listener still closes the span.
  const bool outermost = span.Depth == 1;
  --span.Depth;
  if (outermost && OnWorkEnd) OnWorkEnd(this, AWorkMode);
}

}  // namespace qor
