#include "protocol/Exchange.h"

namespace updater::protocol {

namespace {
constexpr const char* kCrLf = "\r\n";
constexpr const char* kDeclaration = "<?xml version='1.0' ?>";
// Error raised when an object that was never set is used.
constexpr int kErrObjectNotSet = 91;
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
  ResumeNext(error, [&] {
    doc_ = pf_.net->NewXmlDocument();
    doc_->LoadXml(requestText);  // its result is not examined: the document goes as it is
  });
  Pump();
  ResumeNext(error, [&] {
    http_ = pf_.net->NewHttpRequest();
    http_->Open("POST", url, false);
  });
  Pump();
  ResumeNext(error, [&] {
    if (!http_)
      throw RuntimeError(kErrObjectNotSet, "Object variable or With block variable not set");
    http_->Send(doc_ ? doc_->Xml() : std::string());
  });
  Pump();
}

void Exchange::TakeReply() {
  ResumeNext(error, [&] {
    if (!http_)
      throw RuntimeError(kErrObjectNotSet, "Object variable or With block variable not set");
    doc_ = pf_.net->NewXmlDocument();
    doc_->LoadBytes(http_->ResponseBody());
  });
}

void Exchange::DropReply() {
  ResumeNext(error, [&] { doc_ = pf_.net->NewXmlDocument(); });
}

std::optional<std::string> Exchange::Lookup(const std::string& name) {
  std::optional<std::string> text;
  ResumeNext(error, [&] {
    if (!doc_)
      throw RuntimeError(kErrObjectNotSet, "Object variable or With block variable not set");
    text = doc_->SelectChildText(name);
  });
  return text;
}

}  // namespace updater::protocol
