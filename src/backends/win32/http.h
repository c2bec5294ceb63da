#pragma once
// The HTTP request of one server exchange, on WinINet: synchronous for the caller, never cached,
// no cookies, no dialogs, redirects followed within bounds, http or https, and bounded in time
// as a whole and in the size of the answer it keeps.

#include <memory>
#include <string>

#include "backends/common/http_limits.h"
#include "ports/net.h"

namespace updater::win32 {

struct RequestTarget;

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
  std::shared_ptr<const RequestTarget> target_;  // kept out of this header: a WinINet type
  std::string body_;
};

}  // namespace updater::win32
