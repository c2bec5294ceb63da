#pragma once
// The win32 backend's network port: MSXML 3.0 documents and WinINet requests.

#include <memory>

#include "backends/win32/http.h"
#include "backends/win32/xml_document.h"
#include "ports/net.h"

namespace updater::win32 {

class Win32Net final : public ports::Net {
 public:
  explicit Win32Net(HttpLimits limits = {}) : limits_(limits) {}

  std::unique_ptr<ports::XmlDocument> NewXmlDocument() override {
    return std::make_unique<MsxmlDocument>();
  }
  std::unique_ptr<ports::HttpRequest> NewHttpRequest() override {
    return std::make_unique<WinInetHttpRequest>(limits_);
  }

 private:
  HttpLimits limits_;
};

}  // namespace updater::win32
