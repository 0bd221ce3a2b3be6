#pragma once

#include <span>
#include <string>

namespace qor {
class TIdRUROvoduv;
}

// What the prompt and the command line share: the settings they change and the way they show help.
namespace qor::frontend {

// The three settings that the prompt and the command line change, with their lines.
enum TSetting { stHost, stPort, stTimeout };

// Writes "< SETTING ...".
void WriteSettingLine(TSetting ASetting);

// Stores AValue in the client and writes the success line, or the error line when the value is
// refused (a number that is not one, or is 0 or less) or storing raises.
void StoreSetting(TIdRUROvoduv& AClient, TSetting ASetting, const std::string& AValue);

// Writes "< SHOWING HELP", the lines of AHelp and "< HELP SHOWN".
void ShowHelp(std::span<const char* const> AHelp);

}  // namespace qor::frontend
