#pragma once
// The HTTP request of one server exchange, on libcurl: synchronous, no connection reuse, no
// redirects, no proxies, bounded in time and in the size of the answer it keeps.

#include <string>

#include "backends/common/http_limits.h"
#include "ports/net.h"

namespace updater::posix {

class CurlHttpRequest final : public ports::HttpRequest {
 public:
  explicit CurlHttpRequest(HttpLimits limits) : limits_(limits) {}

  void Open(const std::string& method, const std::string& url, bool async) override;
  void Send(const std::string& body) override;
  std::string ResponseBody() override { return body_; }

 private:
  HttpLimits limits_;
  bool opened_ = false;
  std::string method_;
  std::string url_;
  std::string body_;
};

}  // namespace updater::posix
