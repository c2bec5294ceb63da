#pragma once
// The posix backend's network port: libxml2 documents and libcurl requests.

#include <memory>

#include "backends/posix/http.h"
#include "backends/posix/xml_document.h"
#include "ports/net.h"

namespace updater::posix {

class PosixNet final : public ports::Net {
 public:
  explicit PosixNet(HttpLimits limits = {}) : limits_(limits) {}

  std::unique_ptr<ports::XmlDocument> NewXmlDocument() override {
    return std::make_unique<LibxmlDocument>();
  }
  std::unique_ptr<ports::HttpRequest> NewHttpRequest() override {
    return std::make_unique<CurlHttpRequest>(limits_);
  }

 private:
  HttpLimits limits_;
};

}  // namespace updater::posix
