#pragma once
// What both libcurl users share: the library's one-time set-up, and the numbers the Windows
// build reports for the same network failures (WinINet errors as HRESULTs), so that a message
// naming the error reads alike on both.

#include <curl/curl.h>

namespace updater::posix {

constexpr int HResultFromWinInet(unsigned code) { return static_cast<int>(0x80070000u | code); }

inline constexpr int kErrTimeout = HResultFromWinInet(12002);
inline constexpr int kErrInvalidUrl = HResultFromWinInet(12005);
inline constexpr int kErrUnrecognizedScheme = HResultFromWinInet(12006);
inline constexpr int kErrNameNotResolved = HResultFromWinInet(12007);
inline constexpr int kErrNotOpen = HResultFromWinInet(12019);  // INCORRECT_HANDLE_STATE
inline constexpr int kErrCannotConnect = HResultFromWinInet(12029);
inline constexpr int kErrConnectionAborted = HResultFromWinInet(12030);
inline constexpr int kErrFailed = static_cast<int>(0x80004005u);  // E_FAIL

// Runs curl_global_init once per process, whichever thread comes first.
void EnsureCurlInitialised();

// The number the Windows build reports for the failure code stands for.
int NumberFor(CURLcode code);

}  // namespace updater::posix
