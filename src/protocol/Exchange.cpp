#include "protocol/Exchange.h"

namespace updater::protocol {

namespace {
constexpr const char* kCrLf = "\r\n";
constexpr const char* kDeclaration = "<?xml version='1.0' ?>";
}  // namespace

std::string GreetingRequest() {
  return std::string(kDeclaration) + kCrLf + "<root>" + kCrLf + "<msg>" + "hello" + "</msg>" +
         kCrLf + "</root>" + kCrLf;
}

std::string CardRequest(const std::string& cardId, const std::string& cardPassword) {
  return std::string(kDeclaration) + kCrLf + "<root>" + kCrLf + "<cardid>" + cardId + "</cardid>" +
         kCrLf + "<cardpwd>" + cardPassword + "</cardpwd>" + kCrLf + "</root>" + kCrLf;
}

void Exchange::Pump() { pf_.ui->DoEvents(); }

void Exchange::Post(const std::string& url, const std::string& requestText) {
  Try(error, [&] {
    doc_ = pf_.net->NewXmlDocument();
    doc_->LoadXml(requestText);  // its result is not examined: the document goes as it is
  });
  Pump();
  Try(error, [&] {
    http_ = pf_.net->NewHttpRequest();
    http_->Open("POST", url, false);
  });
  Pump();
  Try(error, [&] {
    if (!http_) throw RuntimeError(kErrObjectNotSet);
    http_->Send(doc_ ? doc_->Xml() : std::string());
  });
  Pump();
}

void Exchange::TakeReply() {
  Try(error, [&] {
    if (!http_) throw RuntimeError(kErrObjectNotSet);
    doc_ = pf_.net->NewXmlDocument();
    doc_->LoadBytes(http_->ResponseBody());
  });
}

void Exchange::DropReply() {
  Try(error, [&] { doc_ = pf_.net->NewXmlDocument(); });
}

std::optional<std::string> Exchange::Lookup(const std::string& name) {
  return Try(error, /*onError=*/std::nullopt, [&] {
    if (!doc_) throw RuntimeError(kErrObjectNotSet);
    return doc_->SelectChildText(name);
  });
}

}  // namespace updater::protocol
