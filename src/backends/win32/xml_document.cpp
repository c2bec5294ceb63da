#include "backends/win32/xml_document.h"

// clang-format off
#include "backends/win32/windows_api.h"
#include <ole2.h>
#include <msxml2.h>
// clang-format on

#include <algorithm>

#include "backends/common/encoding_declaration.h"
#include "backends/win32/ansi.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

// DOMDocument of MSXML 3.0, should its ProgID be missing from the registry.
constexpr CLSID kClsidDomDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIidXmlDomDocument = {
    0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

template <class T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR* Out() { return &b_; }
  BSTR get() const { return b_; }
  std::wstring Wide() const { return b_ != nullptr ? std::wstring(b_, SysStringLen(b_)) : L""; }

 private:
  BSTR b_ = nullptr;
};

// The Chinese code pages. MSXML under wine cannot parse a body that declares GB2312 or GB18030,
// so such bodies are decoded here instead.
std::optional<UINT> ChineseCodePage(const std::string& encoding) {
  if (encoding == "gb2312" || encoding == "gbk" || encoding == "cp936" || encoding == "x-gbk" ||
      encoding == "ms936" || encoding == "windows-936" || encoding == "euc-cn") {
    return 936;
  }
  if (encoding == "gb18030") return IsValidCodePage(54936) ? 54936u : 936u;
  return std::nullopt;
}

std::optional<std::wstring> Decode(const std::string& bytes, UINT codePage) {
  if (bytes.empty()) return std::wstring();
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      wide.data(), n);
  return wide;
}

}  // namespace

MsxmlDocument::MsxmlDocument() {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  uninitialize_ = SUCCEEDED(init);  // S_FALSE too: every successful call is balanced
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) clsid = kClsidDomDocument30;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                                      reinterpret_cast<void**>(&doc_));
  if (FAILED(hr) || doc_ == nullptr) {
    doc_ = nullptr;
    if (uninitialize_) CoUninitialize();
    uninitialize_ = false;
    throw RuntimeError(kErrCannotCreateObject);
  }
  doc_->put_async(VARIANT_FALSE);
  doc_->put_validateOnParse(VARIANT_FALSE);
  doc_->put_resolveExternals(VARIANT_FALSE);
  // Element texts are read as they were sent, blanks included.
  doc_->put_preserveWhiteSpace(VARIANT_TRUE);
}

MsxmlDocument::~MsxmlDocument() {
  if (doc_ != nullptr) doc_->Release();
  if (uninitialize_) CoUninitialize();
}

bool MsxmlDocument::LoadWide(const std::wstring& text) {
  Bstr b(text);
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = doc_->loadXML(b.get(), &ok);
  return SUCCEEDED(hr) && ok == VARIANT_TRUE && HasDocumentElement();
}

bool MsxmlDocument::LoadXml(const std::string& text) { return LoadWide(Utf8ToWide(text)); }

bool MsxmlDocument::LoadBytes(const std::string& bytes) {
  if (bytes.empty()) return LoadWide(L"");
  if (auto declared = FindDeclaredEncoding(bytes)) {
    if (auto codePage = ChineseCodePage(declared->name)) {
      auto text = Decode(WithoutDeclaredEncoding(bytes, *declared), *codePage);
      if (!text) return LoadWide(L"");
      return LoadWide(*text);
    }
  }
  // Every other body goes in as bytes, for MSXML to read in the encoding it declares.
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return LoadWide(L"");
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
  SafeArrayUnaccessData(array);
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_ARRAY | VT_UI1;
  source.parray = array;
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = doc_->load(source, &ok);
  VariantClear(&source);
  return SUCCEEDED(hr) && ok == VARIANT_TRUE && HasDocumentElement();
}

std::string MsxmlDocument::Xml() {
  Bstr xml;
  if (FAILED(doc_->get_xml(xml.Out()))) return {};
  return WideToUtf8(xml.Wide());
}

bool MsxmlDocument::HasDocumentElement() {
  Com<IXMLDOMElement> root;
  return doc_->get_documentElement(root.Out()) == S_OK && root;
}

std::optional<std::string> MsxmlDocument::SelectChildText(const std::string& name) {
  Com<IXMLDOMElement> root;
  if (doc_->get_documentElement(root.Out()) != S_OK || !root) {
    throw RuntimeError(kErrObjectNotSet);
  }
  // The children are walked rather than selected by a pattern, so that any name matches only
  // itself.
  Com<IXMLDOMNodeList> children;
  long count = 0;
  if (FAILED(root->get_childNodes(children.Out())) || !children ||
      FAILED(children->get_length(&count))) {
    return std::nullopt;
  }
  const std::wstring wanted = Utf8ToWide(name);
  for (long i = 0; i < count; ++i) {
    Com<IXMLDOMNode> child;
    if (children->get_item(i, child.Out()) != S_OK || !child) continue;
    DOMNodeType type = NODE_INVALID;
    child->get_nodeType(&type);
    if (type != NODE_ELEMENT) continue;
    Bstr nodeName;
    child->get_nodeName(nodeName.Out());
    if (nodeName.Wide() != wanted) continue;
    Bstr text;
    child->get_text(text.Out());
    return WideToUtf8(text.Wide());
  }
  return std::nullopt;
}

}  // namespace updater::win32
