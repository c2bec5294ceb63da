#pragma once
// The XML document and the HTTP request of one server exchange. The win32 backend uses MSXML
// 3.0 for documents and WinINet for HTTP; the posix backend uses libxml2 and libcurl.

#include <memory>
#include <optional>
#include <string>

namespace updater::ports {

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // loadXML: parses text (UTF-8); false when it is not a well-formed document.
  virtual bool LoadXml(const std::string& text) = 0;
  // Parses a reply body as received, honouring the encoding it declares; false when it is not
  // a well-formed document (empty, HTML, cut short). The document then has no root.
  virtual bool LoadBytes(const std::string& bytes) = 0;
  // The document serialised, for posting.
  virtual std::string Xml() = 0;
  virtual bool HasDocumentElement() = 0;
  // The text of the first child element of the root named name (all character data inside it,
  // concatenated), or nothing when there is none. Throws RuntimeError 91 when there is no root.
  virtual std::optional<std::string> SelectChildText(const std::string& name) = 0;
};

// One synchronous HTTP request. Time-outs: 10 s to connect, 30 s for the whole exchange.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Throws RuntimeError when the URL cannot be used.
  virtual void Open(const std::string& method, const std::string& url, bool async) = 0;
  // Posts body and returns when the whole answer has arrived. Throws RuntimeError on a transport
  // failure (no name, refused, dropped, timed out); an HTTP error status is no failure.
  virtual void Send(const std::string& body) = 0;
  // The answer's body; empty when none arrived or it was larger than 1 MiB.
  virtual std::string ResponseBody() = 0;
};

class Net {
 public:
  virtual ~Net() = default;
  virtual std::unique_ptr<XmlDocument> NewXmlDocument() = 0;
  virtual std::unique_ptr<HttpRequest> NewHttpRequest() = 0;
};

}  // namespace updater::ports
