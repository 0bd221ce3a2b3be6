#pragma once

// Every line the console front end writes.
namespace qor::frontend {

inline constexpr char MsgBanner1[] = "RURovoduv 0.3b";
inline constexpr char MsgBanner2[] = "(tarvelKIT)";
inline constexpr char MsgStarting[] = "< STARTING EXECUTION";
inline constexpr char MsgStarted[] = "< EXECUTION STARTED";
inline constexpr char MsgStopping[] = "< STOPPING EXECUTION";
inline constexpr char MsgStopped[] = "< EXECUTION STOPPED";
inline constexpr char MsgPressEnter[] = "(Press ENTER to Proceed.)";
inline constexpr char MsgPrompt[] = "> ";

inline constexpr char MsgShowingHelp[] = "< SHOWING HELP";
inline constexpr char MsgHelpShown[] = "< HELP SHOWN";
inline constexpr const char* MsgCommandHelp[] = {
    "EXIT       : EXIT | E",
    "SHOW HELP  : HELP | H",
    "QUOTE      : QUOTE | Q <command>",
    "SET HOST   : SETHOST | SH <host>",
    "SET PORT   : SETPORT | SP <number>",
    "SET TIMEOUT: SETTIMEOUT | ST <number>",
};
inline constexpr const char* MsgParameterHelp[] = {
    "SHOW HELP  : -HELP | -H | -?",
    "SET HOST   : -SETHOST | -SHOST | -SH <host>",
    "SET PORT   : -SETPORT | -SPORT | -SP <number>",
    "SET TIMEOUT: -SETTIMEOUT | -STIMEOUT | -ST <number>",
};

inline constexpr char MsgQuoting[] = "< QUOTING COMMAND";
inline constexpr char MsgQuoted[] = "< COMMAND QUOTED";
inline constexpr char MsgConnectionFailed[] = "< CONNECTION FAILED";
inline constexpr char MsgCancelled[] = "< COMMAND CANCELLED";

inline constexpr char MsgSettingHost[] = "< SETTING HOST";
inline constexpr char MsgHostSet[] = "< HOST SET";
inline constexpr char MsgHostNotSet[] = "< ERROR: HOST NOT SET SUCCESSFULLY";
inline constexpr char MsgSettingPort[] = "< SETTING PORT";
inline constexpr char MsgPortSet[] = "< PORT SET";
inline constexpr char MsgPortNotSet[] = "< ERROR: PORT NOT SET SUCCESSFULLY";
inline constexpr char MsgSettingTimeout[] = "< SETTING TIMEOUT";
inline constexpr char MsgTimeoutSet[] = "< TIMEOUT SET";
inline constexpr char MsgTimeoutNotSet[] = "< ERROR: TIMEOUT NOT SET SUCCESSFULLY";

inline constexpr char MsgUnknownParameter[] = "< UNKNOWN PARAMETER";

inline constexpr char MsgTLSEstablished[] = "< TLS ESTABLISHED: ";
inline constexpr char MsgTLSVerifiedAs[] = ", VERIFIED AS ";
inline constexpr char MsgTLSNotVerified[] = ", NOT VERIFIED";
inline constexpr char MsgTLSFailed[] = "< TLS FAILED: ";
inline constexpr char MsgTLSNoVerifyWarning[] = "< WARNING: TLS PEERS ARE NOT VERIFIED";

}  // namespace qor::frontend
