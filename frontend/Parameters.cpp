#include "qorclnt/frontend/Parameters.hpp"

#include "qorclnt/frontend/ConsoleTLS.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/frontend/Settings.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::frontend {

namespace {

// The setting that AParameter names as an option; false when it names none.
bool OptionSetting(const std::string& AParameter, TSetting& ASetting) {
  if (AParameter == "-SETHOST" || AParameter == "-SHOST" || AParameter == "-SH") {
    ASetting = stHost;
  } else if (AParameter == "-SETPORT" || AParameter == "-SPORT" || AParameter == "-SP") {
    ASetting = stPort;
  } else if (AParameter == "-SETTIMEOUT" || AParameter == "-STIMEOUT" || AParameter == "-ST") {
    ASetting = stTimeout;
  } else {
    return false;
  }
  return true;
}

}  // namespace

void HandleParameters(TIdRUROvoduv& AClient, const std::vector<std::string>& AParameters, bool& AStop,
                      TConsoleTLS& VTLS) {
  AStop = false;
  bool pending = false;        // the next parameter is the value of option
  bool pendingCAFile = false;  // the next parameter is the CA file
  TSetting option = stHost;
  for (const std::string& raw : AParameters) {
    const std::string parameter = UpperCase(Trim(raw));
    if (pending) {
      // Whatever follows an option is its value, even when it looks like an option.
      WriteSettingLine(option);
      StoreSetting(AClient, option, parameter);
      pending = false;
    } else if (pendingCAFile) {
      VTLS.CAFile = Trim(raw);
      pendingCAFile = false;
    } else if (parameter == "-TLS" || parameter == "-NOVERIFY" || parameter == "-CAFILE") {
      VTLS.Enabled = true;
      VTLS.NoVerify = VTLS.NoVerify || parameter == "-NOVERIFY";
      pendingCAFile = parameter == "-CAFILE";
    } else if (parameter == "-HELP" || parameter == "-H" || parameter == "-?") {
      AStop = true;
      ShowHelp(MsgParameterHelp);
    } else if (OptionSetting(parameter, option)) {
      pending = true;
    } else {
      ConsoleWriteLine(MsgUnknownParameter);
    }
    ConsoleWriteLine("");
  }
}

}  // namespace qor::frontend
