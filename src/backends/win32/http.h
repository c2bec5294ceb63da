#pragma once
// The HTTP request of one server exchange, on WinINet: synchronous for the caller, never cached,
// no cookies, no redirects, no dialogs, and bounded in time as a whole and in the size of the
// answer it keeps.

#include <chrono>
#include <cstddef>
#include <string>

#include "ports/net.h"

namespace updater::win32 {

struct HttpLimits {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds total{30000};  // the whole exchange, from connecting to the last byte
};

// An answer larger than this is not kept: the reply then reads as no document at all.
inline constexpr std::size_t kMaxResponseBody = 1024 * 1024;

class WinInetHttpRequest final : public ports::HttpRequest {
 public:
  explicit WinInetHttpRequest(HttpLimits limits) : limits_(limits) {}

  void Open(const std::string& method, const std::string& url, bool async) override;
  void Send(const std::string& body) override;
  std::string ResponseBody() override { return body_; }

 private:
  HttpLimits limits_;
  bool opened_ = false;
  std::wstring method_;
  std::wstring host_;
  unsigned short port_ = 80;
  std::wstring object_;  // path and query, as they stand in the URL
  std::string body_;
};

}  // namespace updater::win32
