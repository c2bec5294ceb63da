#pragma once
// The posix backend's network port: libxml2 documents and libcurl requests.

#include <memory>
#include <string>
#include <utility>

#include "backends/posix/http.h"
#include "backends/posix/xml_document.h"
#include "ports/net.h"

namespace updater::posix {

class PosixNet final : public ports::Net {
 public:
  // caFile: see SetRequestOptions.
  explicit PosixNet(HttpLimits limits = {}, std::string caFile = {})
      : limits_(limits), caFile_(std::move(caFile)) {}

  std::unique_ptr<ports::XmlDocument> NewXmlDocument() override {
    return std::make_unique<LibxmlDocument>();
  }
  std::unique_ptr<ports::HttpRequest> NewHttpRequest() override {
    return std::make_unique<CurlHttpRequest>(limits_, caFile_);
  }

 private:
  HttpLimits limits_;
  std::string caFile_;
};

}  // namespace updater::posix
