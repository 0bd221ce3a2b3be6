#include "frontend/Parameters.hpp"

#include <optional>

#include "frontend/Messages.hpp"
#include "frontend/Settings.hpp"
#include "runtime/Console.hpp"
#include "runtime/Strings.hpp"

namespace qor::frontend {

namespace {

std::optional<TSetting> OptionSetting(const std::string& AParameter) {
  if (AParameter == "-SETHOST" || AParameter == "-SHOST" || AParameter == "-SH") return stHost;
  if (AParameter == "-SETPORT" || AParameter == "-SPORT" || AParameter == "-SP") return stPort;
  if (AParameter == "-SETTIMEOUT" || AParameter == "-STIMEOUT" || AParameter == "-ST") return stTimeout;
  return std::nullopt;
}

void ShowParameterHelp() {
  ConsoleWriteLine(MsgShowingHelp);
  for (const char* line : MsgParameterHelp) ConsoleWriteLine(line);
  ConsoleWriteLine(MsgHelpShown);
}

}  // namespace

void HandleParameters(TIdRUROvoduv& AClient, const std::vector<std::string>& AParameters, bool& AStop) {
  AStop = false;
  std::optional<TSetting> pending;
  for (const std::string& raw : AParameters) {
    const std::string parameter = UpperCase(Trim(raw));
    if (pending) {
      // Whatever follows an option is its value, even when it looks like an option.
      WriteSettingLine(*pending);
      StoreSetting(AClient, *pending, parameter);
      pending.reset();
    } else if (parameter == "-HELP" || parameter == "-H" || parameter == "-?") {
      AStop = true;
      ShowParameterHelp();
    } else if (const std::optional<TSetting> option = OptionSetting(parameter)) {
      pending = option;  // its value is the next parameter
    } else {
      ConsoleWriteLine(MsgUnknownParameter);
    }
    ConsoleWriteLine("");
  }
}

}  // namespace qor::frontend
