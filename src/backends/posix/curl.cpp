#include "backends/posix/curl.h"

#include <mutex>

namespace updater::posix {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int NumberFor(CURLcode code) {
  switch (code) {
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
