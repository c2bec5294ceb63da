#include "backends/posix/xml_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <mutex>

#include "ports/errors.h"

namespace updater::posix {

namespace {

// The text of one element can never be larger than the answer it came in, whatever entities
// the answer declares; walking stops there, and after this many nodes, so that nested empty
// entities cannot make it run for ever either.
constexpr std::size_t kMaxText = 1024 * 1024;
constexpr std::size_t kMaxNodesVisited = 1000000;

void Silent(void*, const char*, ...) {}
void SilentStructured(void*, xmlErrorPtr) {}

xmlParserInputPtr NoExternalEntities(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

void PrepareLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(NoExternalEntities);
  });
  // Error handlers belong to the calling thread.
  xmlSetGenericErrorFunc(nullptr, Silent);
  xmlSetStructuredErrorFunc(nullptr, SilentStructured);
}

// Entities are left as references (never substituted while parsing), no DTD is fetched, and
// the network is off.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

std::string QualifiedName(xmlNodePtr node) {
  std::string name = reinterpret_cast<const char*>(node->name);
  if (node->ns != nullptr && node->ns->prefix != nullptr) {
    name = reinterpret_cast<const char*>(node->ns->prefix) + (":" + name);
  }
  return name;
}

struct TextWalk {
  std::string text;
  std::size_t visited = 0;

  bool Full() const { return text.size() >= kMaxText || visited >= kMaxNodesVisited; }

  void Children(xmlNodePtr first, int depth) {
    for (xmlNodePtr n = first; n != nullptr && !Full(); n = n->next) Node(n, depth);
  }

  void Node(xmlNodePtr n, int depth) {
    ++visited;
    switch (n->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (n->content != nullptr) text += reinterpret_cast<const char*>(n->content);
        break;
      case XML_ELEMENT_NODE:
        Children(n->children, depth);
        break;
      case XML_ENTITY_REF_NODE:
        // A reference points at the entity's declaration, whose content every reference shares;
        // the declaration's siblings are the rest of the DTD, not part of this text.
        if (n->children != nullptr && n->children->type == XML_ENTITY_DECL && depth < 64) {
          Children(reinterpret_cast<xmlEntityPtr>(n->children)->children, depth + 1);
        }
        break;
      default:
        break;  // comments and processing instructions carry no text
    }
    if (text.size() > kMaxText) text.resize(kMaxText);
  }
};

}  // namespace

void LibxmlDocument::DocDeleter::operator()(_xmlDoc* doc) const { xmlFreeDoc(doc); }

LibxmlDocument::LibxmlDocument() { PrepareLibxml(); }
LibxmlDocument::~LibxmlDocument() = default;

bool LibxmlDocument::Parse(const std::string& bytes, const char* encoding) {
  doc_.reset();
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  PrepareLibxml();
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (ctxt == nullptr) return false;
  int options = kParseOptions;
  if (encoding != nullptr) options |= XML_PARSE_IGNORE_ENC;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                    encoding, options);
  const bool wellFormed = ctxt->wellFormed != 0;
  xmlFreeParserCtxt(ctxt);
  if (doc == nullptr) return false;
  if (!wellFormed || xmlDocGetRootElement(doc) == nullptr) {
    xmlFreeDoc(doc);
    return false;
  }
  doc_.reset(doc);
  return true;
}

// Text is already Unicode: a declared encoding is not applied a second time.
bool LibxmlDocument::LoadXml(const std::string& text) { return Parse(text, "UTF-8"); }

bool LibxmlDocument::LoadBytes(const std::string& bytes) { return Parse(bytes, nullptr); }

std::string LibxmlDocument::Xml() {
  if (!doc_) return {};
  xmlChar* out = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc_.get(), &out, &size, "UTF-8", 0);
  std::string text;
  if (out != nullptr)
    text.assign(reinterpret_cast<const char*>(out), static_cast<std::size_t>(size));
  xmlFree(out);
  return text;
}

bool LibxmlDocument::HasDocumentElement() {
  return doc_ && xmlDocGetRootElement(doc_.get()) != nullptr;
}

std::optional<std::string> LibxmlDocument::SelectChildText(const std::string& name) {
  xmlNodePtr root = doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
  if (root == nullptr) {
    throw RuntimeError(kErrObjectNotSet);
  }
  for (xmlNodePtr n = root->children; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE || QualifiedName(n) != name) continue;
    TextWalk walk;
    walk.Children(n->children, 0);
    return walk.text;
  }
  return std::nullopt;
}

}  // namespace updater::posix
