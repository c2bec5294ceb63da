#pragma once
// An XML document on libxml2. Parsing never reaches the network or the file system: no DTD is
// loaded, no external entity is read, and parse errors are not printed.

#include <memory>
#include <optional>
#include <string>

#include "ports/net.h"

struct _xmlDoc;

namespace updater::posix {

class LibxmlDocument final : public ports::XmlDocument {
 public:
  LibxmlDocument();
  ~LibxmlDocument() override;
  LibxmlDocument(const LibxmlDocument&) = delete;
  LibxmlDocument& operator=(const LibxmlDocument&) = delete;

  bool LoadXml(const std::string& text) override;
  bool LoadBytes(const std::string& bytes) override;
  std::string Xml() override;
  bool HasDocumentElement() override;
  std::optional<std::string> SelectChildText(const std::string& name) override;

 private:
  bool Parse(const std::string& bytes, const char* encoding);

  struct DocDeleter {
    void operator()(_xmlDoc* doc) const;
  };
  std::unique_ptr<_xmlDoc, DocDeleter> doc_;
};

}  // namespace updater::posix
