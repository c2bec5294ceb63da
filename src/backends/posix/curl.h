#pragma once
// What both libcurl users share: the library's one-time set-up, the options every request has
// (schemes, redirects, certificate checks), and the numbers the Windows build reports for the
// same network failures (WinINet errors as HRESULTs), so that a message naming the error reads
// alike on both.

#include <curl/curl.h>

#include <string>

namespace updater::posix {

constexpr int HResultFromWinInet(unsigned code) { return static_cast<int>(0x80070000u | code); }

inline constexpr int kErrTimeout = HResultFromWinInet(12002);
inline constexpr int kErrInvalidUrl = HResultFromWinInet(12005);
inline constexpr int kErrUnrecognizedScheme = HResultFromWinInet(12006);
inline constexpr int kErrNameNotResolved = HResultFromWinInet(12007);
inline constexpr int kErrNotOpen = HResultFromWinInet(12019);  // INCORRECT_HANDLE_STATE
inline constexpr int kErrCannotConnect = HResultFromWinInet(12029);
inline constexpr int kErrConnectionAborted = HResultFromWinInet(12030);
inline constexpr int kErrSecureFailure = HResultFromWinInet(12175);
inline constexpr int kErrRedirectFailed = HResultFromWinInet(12156);
inline constexpr int kErrHttpsToHttp = HResultFromWinInet(12042);
inline constexpr int kErrFailed = static_cast<int>(0x80004005u);  // E_FAIL

// Runs curl_global_init once per process, whichever thread comes first.
void EnsureCurlInitialised();

// At most this many redirects are followed, to http or https only, as the Windows build does.
inline constexpr long kMaxRedirects = 5;

// Watches the requests of one transfer, the first and each redirect's: once one went over
// https, a request over plain http is not sent and the transfer fails.
struct RedirectGuard {
  CURL* curl = nullptr;
  bool secure = false;   // a request of this transfer went over https
  bool refused = false;  // a redirect from https to http was refused
};

// http and https only, redirects followed within those bounds and never from https to http
// (guard must outlive the transfer), the server's certificate checked against the system's
// trusted roots, or against caFile alone when one is given (tests only: the product never
// passes one).
void SetRequestOptions(CURL* curl, const std::string& caFile, RedirectGuard& guard);

// The number the Windows build reports for the failure code stands for.
int NumberFor(CURLcode code, const RedirectGuard& guard);

}  // namespace updater::posix
