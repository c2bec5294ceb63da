#pragma once
// The HTTP request of one server exchange, on libcurl: synchronous, no connection reuse, no
// redirects, no proxies, bounded in time and in the size of the answer it keeps.

#include <chrono>
#include <string>

#include "ports/net.h"

namespace updater::posix {

struct HttpLimits {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds total{30000};  // the whole exchange, from connecting to the last byte
};

// An answer larger than this is not kept: the reply then reads as no document at all.
inline constexpr std::size_t kMaxResponseBody = 1024 * 1024;

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
