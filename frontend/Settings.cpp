#include "qorclnt/frontend/Settings.hpp"

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::frontend {

namespace {

struct TSettingLines {
  const char* Setting;
  const char* Done;
  const char* Failed;
};

constexpr TSettingLines Lines[] = {
    {MsgSettingHost, MsgHostSet, MsgHostNotSet},
    {MsgSettingPort, MsgPortSet, MsgPortNotSet},
    {MsgSettingTimeout, MsgTimeoutSet, MsgTimeoutNotSet},
};

void Store(TIdRUROvoduv& AClient, TSetting ASetting, const std::string& AValue) {
  switch (ASetting) {
    case stHost:
      AClient.SetHost(AValue);
      break;
    case stPort:
      AClient.SetPort(StrToIntDef(AValue, 0));
      break;
    case stTimeout:
      AClient.SetReadTimeout(StrToIntDef(AValue, 0));
      break;
  }
}

}  // namespace

void WriteSettingLine(TSetting ASetting) {
  ConsoleWriteLine(Lines[ASetting].Setting);
}

void StoreSetting(TIdRUROvoduv& AClient, TSetting ASetting, const std::string& AValue) {
  const TSettingLines& lines = Lines[ASetting];
  // A number that is not one counts as 0; only positive numbers are stored.
  if (ASetting != stHost && StrToIntDef(AValue, 0) <= 0) {
    ConsoleWriteLine(lines.Failed);
    return;
  }
  bool stored = false;
  try {
    Store(AClient, ASetting, AValue);
    stored = true;
  } catch (...) {
    // A setter that refuses its value: the error line says so and the run goes on.
  }
  ConsoleWriteLine(stored ? lines.Done : lines.Failed);
}

void ShowHelp(std::span<const char* const> AHelp) {
  ConsoleWriteLine(MsgShowingHelp);
  for (const char* line : AHelp) ConsoleWriteLine(line);
  ConsoleWriteLine(MsgHelpShown);
}

}  // namespace qor::frontend
