#pragma once
// Fakes of the XML and HTTP ports: requests are recorded, answers scripted per test. The
// fake document "parses" a body that starts with '<' and is not HTML, which is all that the
// exchange logic needs to tell replies apart; the real parsers are covered by the contract suite.

#include <optional>
#include <string>
#include <vector>

#include "ports/errors.h"
#include "ports/platform.h"

namespace fakes {

class FakeXml : public updater::ports::XmlDocument {
 public:
  bool LoadXml(const std::string& text) override { return Parse(text); }
  bool LoadBytes(const std::string& bytes) override { return Parse(bytes); }
  std::string Xml() override { return text_; }
  bool HasDocumentElement() override { return parsed_; }
  std::optional<std::string> SelectChildText(const std::string& name) override {
    if (!parsed_) throw updater::RuntimeError(updater::kErrObjectNotSet);
    const auto open = text_.find("<" + name + ">");
    if (open == std::string::npos) {
      if (text_.find("<" + name + "/>") != std::string::npos) return std::string();
      return std::nullopt;
    }
    const auto start = open + name.size() + 2;
    return text_.substr(start, text_.find("</" + name + ">", start) - start);
  }

 private:
  bool Parse(const std::string& text) {
    text_ = text;
    parsed_ = !text.empty() && text[0] == '<' && text.find("<html") == std::string::npos;
    return parsed_;
  }
  std::string text_;
  bool parsed_ = false;
};

struct Posted {
  std::string method, url, body;
};

struct NetScript {
  std::optional<updater::RuntimeError> openError, sendError;
  std::string body = "<root><error></error></root>";
  std::vector<std::string> refusedPrefixes;  // URLs that start so fail in transport
  std::vector<Posted> posted;                // one entry per Send that went through
  int opens = 0;
};

class FakeHttp : public updater::ports::HttpRequest {
 public:
  explicit FakeHttp(NetScript* s) : s_(s) {}
  void Open(const std::string& method, const std::string& url, bool) override {
    ++s_->opens;
    if (s_->openError) throw *s_->openError;
    method_ = method;
    url_ = url;
    opened_ = true;
  }
  void Send(const std::string& body) override {
    if (s_->sendError) throw *s_->sendError;
    for (const auto& prefix : s_->refusedPrefixes) {
      if (url_.rfind(prefix, 0) == 0) throw updater::RuntimeError(-2146697211, "refused");
    }
    if (!opened_) throw updater::RuntimeError(-2147467259, "not opened");
    s_->posted.push_back({method_, url_, body});
  }
  std::string ResponseBody() override { return s_->body; }

 private:
  NetScript* s_;
  std::string method_, url_;
  bool opened_ = false;
};

class FakeNet : public updater::ports::Net {
 public:
  NetScript script;
  std::unique_ptr<updater::ports::XmlDocument> NewXmlDocument() override {
    return std::make_unique<FakeXml>();
  }
  std::unique_ptr<updater::ports::HttpRequest> NewHttpRequest() override {
    return std::make_unique<FakeHttp>(&script);
  }
};

}  // namespace fakes
