#pragma once

// Every message text of the network layer, stored once.
namespace qor {

// Component base
inline constexpr char RSOnlyOneAntiFreeze[] = "Only one TIdAntiFreeze can exist per application.";

// Status texts, in the order of TIdStatus
inline constexpr char RSStatusResolving[] = "Resolving hostname %s.";
inline constexpr char RSStatusConnecting[] = "Connecting to %s.";
inline constexpr char RSStatusConnected[] = "Connected.";
inline constexpr char RSStatusDisconnecting[] = "Disconnecting.";
inline constexpr char RSStatusDisconnected[] = "Disconnected.";
inline constexpr char RSStatusText[] = "%s";

// Connection
inline constexpr char RSConnectionClosedGracefully[] = "Connection Closed Gracefully.";
inline constexpr char RSAlreadyConnected[] = "Already connected.";
inline constexpr char RSClosedSocket[] = "Disconnected.";
inline constexpr char RSReadTimeout[] = "Read Timeout";
inline constexpr char RSReadLnMaxLineLengthExceeded[] = "Max line length exceeded.";
inline constexpr char RSNotEnoughDataInBuffer[] = "Not enough data in buffer.";
inline constexpr char RSNoDataToRead[] = "No data to read.";
inline constexpr char RSNotConnected[] = "Not Connected";
inline constexpr char RSFileNotFound[] = "File \"%s\" not found";
inline constexpr char RSStreamTooLarge[] = "Stream too large to send.";
inline constexpr char RSAborted[] = "Aborted.";

// Connect
inline constexpr char RSConnectTimeout[] = "Connect timed out.";

// Socket stack and handle
inline constexpr char RSInvalidServiceName[] = "%s is not a valid service.";
inline constexpr char RSCannotAllocateSocket[] = "Cannot allocate socket.";
inline constexpr char RSSetSizeExceeded[] = "Set Size Exceeded.";
inline constexpr char RSSocketError[] = "Socket Error # %d\r\n%s";
inline constexpr char RSCouldNotBindSocket[] = "Could not bind socket. Address and port are already in use.";
inline constexpr char RSCanNotBindRange[] = "Can not bind in port range (%d - %d)";
inline constexpr char RSInvalidPortRange[] = "Invalid Port Range (%d - %d)";
inline constexpr char RSInvalidIPv6Address[] = "Invalid IPv6 address %s.";
inline constexpr char RSIPv6ZoneMissing[] = "Link-local IPv6 address %s needs a zone (%%interface).";

// Resolver errors 1 to 4, without the socket-error prefix
inline constexpr char RSHostNotFound[] = "Host not found.";
inline constexpr char RSTryAgain[] = "Non-authoritative response (try again or check DNS setup).";
inline constexpr char RSNoRecovery[] = "Non-recoverable errors: FORMERR, REFUSED, NOTIMP.";
inline constexpr char RSNoData[] = "Valid name, no data record (check DNS setup).";

// System error numbers
inline constexpr char RSStackEINTR[] = "Interrupted system call.";
inline constexpr char RSStackEBADF[] = "Bad file number.";
inline constexpr char RSStackEAGAIN[] = "Operation would block. ";
inline constexpr char RSStackEACCES[] = "Access denied.";
inline constexpr char RSStackEFAULT[] = "Bad address.";
inline constexpr char RSStackEINVAL[] = "Invalid argument.";
inline constexpr char RSStackEMFILE[] = "Too many open files.";
inline constexpr char RSStackENAMETOOLONG[] = "File name too long.";
inline constexpr char RSStackENOTEMPTY[] = "Directory not empty";
inline constexpr char RSStackELOOP[] = "Too many levels of symbolic links.";
inline constexpr char RSStackENOTSOCK[] = "Socket operation on non-socket.";
inline constexpr char RSStackEDESTADDRREQ[] = "Destination address required.";
inline constexpr char RSStackEMSGSIZE[] = "Message too long.";
inline constexpr char RSStackEPROTOTYPE[] = "Protocol wrong type for socket.";
inline constexpr char RSStackENOPROTOOPT[] = "Bad protocol option.";
inline constexpr char RSStackEPROTONOSUPPORT[] = "Protocol not supported.";
inline constexpr char RSStackESOCKTNOSUPPORT[] = "Socket type not supported.";
inline constexpr char RSStackEOPNOTSUPP[] = "Operation not supported on socket.";
inline constexpr char RSStackEPFNOSUPPORT[] = "Protocol family not supported.";
inline constexpr char RSStackEAFNOSUPPORT[] = "Address family not supported by protocol family.";
inline constexpr char RSStackEADDRINUSE[] = "Address already in use.";
inline constexpr char RSStackEADDRNOTAVAIL[] = "Cannot assign requested address.";
inline constexpr char RSStackENETDOWN[] = "Network is down.";
inline constexpr char RSStackENETUNREACH[] = "Network is unreachable.";
inline constexpr char RSStackENETRESET[] = "Net dropped connection or reset.";
inline constexpr char RSStackECONNABORTED[] = "Software caused connection abort.";
inline constexpr char RSStackECONNRESET[] = "Connection reset by peer.";
inline constexpr char RSStackENOBUFS[] = "No buffer space available.";
inline constexpr char RSStackEISCONN[] = "Socket is already connected.";
inline constexpr char RSStackENOTCONN[] = "Socket is not connected.";
inline constexpr char RSStackESHUTDOWN[] = "Cannot send or receive after socket is closed.";
inline constexpr char RSStackETOOMANYREFS[] = "Too many references, cannot splice.";
inline constexpr char RSStackETIMEDOUT[] = "Connection timed out.";
inline constexpr char RSStackECONNREFUSED[] = "Connection refused.";
inline constexpr char RSStackEHOSTDOWN[] = "Host is down.";
inline constexpr char RSStackEHOSTUNREACH[] = "No route to host.";
inline constexpr char RSStackEALREADY[] = "Operation already in progress.";
inline constexpr char RSStackEINPROGRESS[] = "Operation now in progress.";

// SOCKS
inline constexpr char RSSocksRequestFailed[] = "Request rejected or failed.";
inline constexpr char RSSocksRequestServerFailed[] = "Request rejected because SOCKS server cannot connect.";
inline constexpr char RSSocksRequestIdentFailed[] =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr char RSSocksUnknownError[] = "Unknown socks error.";
inline constexpr char RSSocksServerRespondError[] = "Socks server did not respond.";
inline constexpr char RSSocksAuthMethodError[] = "Invalid socks authentication method.";
inline constexpr char RSSocksAuthError[] = "Authentication error to socks server.";
inline constexpr char RSSocksServerGeneralError[] = "General SOCKS server failure.";
inline constexpr char RSSocksServerPermissionError[] = "Connection not allowed by ruleset.";
inline constexpr char RSSocksServerNetUnreachableError[] = "Network unreachable.";
inline constexpr char RSSocksServerHostUnreachableError[] = "Host unreachable.";
inline constexpr char RSSocksServerConnectionRefusedError[] = "Connection refused.";
inline constexpr char RSSocksServerTTLExpiredError[] = "TTL expired.";
inline constexpr char RSSocksServerCommandError[] = "Command not supported.";
inline constexpr char RSSocksServerAddressError[] = "";
inline constexpr char RSSocksTextTooLong[] = "Text too long for a socks request.";
inline constexpr char RSSocksTextHasZeroByte[] = "Zero byte in a text of a socks request.";
inline constexpr char RSSocksReplyAddressTypeError[] = "Unknown address type in socks reply.";
inline constexpr char RSSocks4IPv6Destination[] = "SOCKS 4 cannot reach an IPv6 address; use SOCKS 5.";

// TLS
inline constexpr char RSTLSVerifyFailed[] = "certificate verify failed: %s";
inline constexpr char RSTLSFailed[] = "TLS handshake failed: %s";
inline constexpr char RSTLSError[] = "TLS error: %s";
inline constexpr char RSTLSHandshakeTimeout[] = "TLS handshake timed out.";
inline constexpr char RSTLSTruncated[] = "TLS stream truncated: the peer closed without close_notify.";
inline constexpr char RSTLSCAFileUnreadable[] = "Cannot read CA file \"%s\".";
inline constexpr char RSTLSCAFileEmpty[] = "No certificate in CA file \"%s\".";
inline constexpr char RSTLSCAPathMissing[] = "CA path \"%s\" is not a directory.";
inline constexpr char RSTLSCertFileUnreadable[] = "Cannot read certificate file \"%s\".";
inline constexpr char RSTLSKeyFileUnreadable[] = "Cannot read key file \"%s\".";
inline constexpr char RSTLSKeyMismatch[] = "Key file \"%s\" does not match certificate file \"%s\".";
inline constexpr char RSTLSStartPending[] =
    "TLS start refused: unread plaintext bytes were received before it.";
inline constexpr char RSTLSStartUnsupported[] = "TLS start refused: the I/O handler cannot start TLS.";
inline constexpr char RSTLSStartActive[] = "TLS start refused: TLS is already active.";
inline constexpr char RSTLSPeerClosed[] = "TLS handshake failed: the peer closed the connection.";

}  // namespace qor
