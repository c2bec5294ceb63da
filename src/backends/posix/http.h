#pragma once
// The HTTP request of one server exchange, on libcurl: synchronous, no connection reuse, no
// proxies, redirects followed as WinINet follows them, bounded in time and in the size of the
// answer it keeps.

#include <string>
#include <utility>

#include "backends/common/http_limits.h"
#include "ports/net.h"

namespace updater::posix {

class CurlHttpRequest final : public ports::HttpRequest {
 public:
  // caFile: see SetRequestOptions.
  explicit CurlHttpRequest(HttpLimits limits, std::string caFile = {})
      : limits_(limits), caFile_(std::move(caFile)) {}

  void Open(const std::string& method, const std::string& url, bool async) override;
  void Send(const std::string& body) override;
  std::string ResponseBody() override { return body_; }

 private:
  HttpLimits limits_;
  std::string caFile_;
  bool opened_ = false;
  std::string method_;
  std::string url_;
  std::string body_;
};

}  // namespace updater::posix
