#include "backends/posix/curl.h"

#include <strings.h>

#include <mutex>

namespace updater::posix {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

// Runs before each request is sent, on the connection it will use.
int BeforeRequest(void* user, char*, char*, int, int) {
  auto* guard = static_cast<RedirectGuard*>(user);
  char* scheme = nullptr;
  curl_easy_getinfo(guard->curl, CURLINFO_SCHEME, &scheme);
  const bool secure = scheme != nullptr && ::strcasecmp(scheme, "https") == 0;
  if (guard->secure && !secure) {
    guard->refused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  guard->secure = guard->secure || secure;
  return CURL_PREREQFUNC_OK;
}

}  // namespace

void SetRequestOptions(CURL* curl, const std::string& caFile, RedirectGuard& guard) {
  guard = RedirectGuard{curl};
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, BeforeRequest);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &guard);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
}

int NumberFor(CURLcode code, const RedirectGuard& guard) {
  if (guard.refused) return kErrHttpsToHttp;
  switch (code) {
    case CURLE_TOO_MANY_REDIRECTS:
      return kErrRedirectFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return kErrSecureFailure;
    case CURLE_OPERATION_TIMEDOUT:
      return kErrTimeout;
    case CURLE_URL_MALFORMAT:
      return kErrInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kErrUnrecognizedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
      return kErrNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kErrCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
      return kErrConnectionAborted;
    default:
      return kErrFailed;
  }
}

}  // namespace updater::posix
