#pragma once
// An XML document on MSXML 3.0 (DOMDocument through COM): synchronous loading, no validation,
// no external resources.

#include <optional>
#include <string>

#include "ports/net.h"

struct IXMLDOMDocument;

namespace updater::win32 {

class MsxmlDocument final : public ports::XmlDocument {
 public:
  // Throws RuntimeError 429 when the component cannot be created.
  MsxmlDocument();
  ~MsxmlDocument() override;
  MsxmlDocument(const MsxmlDocument&) = delete;
  MsxmlDocument& operator=(const MsxmlDocument&) = delete;

  bool LoadXml(const std::string& text) override;
  bool LoadBytes(const std::string& bytes) override;
  std::string Xml() override;
  bool HasDocumentElement() override;
  std::optional<std::string> SelectChildText(const std::string& name) override;

 private:
  bool LoadWide(const std::wstring& text);

  IXMLDOMDocument* doc_ = nullptr;
  bool uninitialize_ = false;
};

}  // namespace updater::win32
