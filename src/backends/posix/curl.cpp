#include "backends/posix/curl.h"

#include <mutex>

namespace updater::posix {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetRequestOptions(CURL* curl, const std::string& caFile) {
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
}

int NumberFor(CURLcode code) {
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
