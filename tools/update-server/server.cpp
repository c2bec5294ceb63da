#include "server.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "faults.h"
#include "text.h"

namespace update_server {
namespace {

enum class Page { kStatus, kOnline, kVersion, kServerList, kPackage, kSignature, kBlocks };

struct PageEntry {
  std::string_view path;
  std::string_view method;
  Page page;
};

constexpr std::array<PageEntry, 7> kPages{{
    {"/xmlRequest/XmlCheckServerStatus.aspx", "POST", Page::kStatus},
    {"/InteractData/Xmlsendservername.aspx", "POST", Page::kOnline},
    {"/xmlRequest/Xmlclientversion.aspx", "POST", Page::kVersion},
    {"/xmlRequest/xmlGetServerName.aspx", "POST", Page::kServerList},
    {"/uploads/soft/setup.rar", "GET", Page::kPackage},
    {"/uploads/soft/setup.rar.sig", "GET", Page::kSignature},
    {"/uploads/soft/setup.rar.blocks", "GET", Page::kBlocks},
}};

// The page is found by the end of the path, so a base address with a sub-path (an item id)
// reaches the same pages; case does not matter, as on the IIS server the client was made for.
std::optional<Page> FindPage(const std::string& method, const std::string& path) {
  std::string_view wanted = method == "HEAD" ? "GET" : method;
  for (const PageEntry& entry : kPages) {
    if (entry.method == wanted && EndsWithNoCase(path, entry.path)) return entry.page;
  }
  return std::nullopt;
}

struct XmlDoc {
  std::string root = "root";
  std::vector<std::pair<std::string, std::string>> children;
};

std::string RenderXml(const XmlDoc& doc, std::string_view encoding) {
  std::string text = "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?>\n";
  text += "<" + doc.root + ">";
  for (const auto& [name, value] : doc.children) {
    text += "<" + name + ">" + XmlEscape(value) + "</" + name + ">";
  }
  text += "</" + doc.root + ">\n";
  return text;
}

// The offer is read from the data folder for every request, so a test can change it at any time.
std::optional<XmlDoc> PageDoc(Page page, const std::filesystem::path& root) {
  XmlDoc doc;
  auto add_file = [&](const char* name, const char* file) {
    if (auto text = ReadTextFile(root / file)) doc.children.emplace_back(name, *text);
  };
  switch (page) {
    case Page::kStatus:
    case Page::kOnline:
      doc.children.emplace_back("error", "");
      return doc;
    case Page::kVersion:
      doc.children.emplace_back("error", "");
      add_file("version_no", "version_no");
      add_file("update_time", "update_time");
      add_file("soft_cmt", "soft_cmt");
      add_file("bm", "bm");
      return doc;
    case Page::kServerList:
      doc.children.emplace_back("error", ReadTextFile(root / "list_error").value_or(""));
      add_file("lcserverurl", "servers");
      doc.children.emplace_back("res", "");
      return doc;
    case Page::kPackage:
    case Page::kSignature:
    case Page::kBlocks:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

UpdateServer::UpdateServer(std::filesystem::path root, std::FILE* log, const std::string& tls_cert,
                           const std::string& tls_key)
    : root_(std::move(root)),
      log_(log),
      http_(tls_cert.empty()
                ? std::make_unique<httplib::Server>()
                : std::make_unique<httplib::SSLServer>(tls_cert.c_str(), tls_key.c_str())) {
  // Hanging answers each hold a worker until their client goes away: keep plenty.
  http_->new_task_queue = [] { return new httplib::ThreadPool(64); };
  http_->set_keep_alive_timeout(2);
  http_->set_payload_max_length(16 * 1024 * 1024);

  http_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    // The library would gzip text replies for clients that accept it and would parse form
    // bodies by their declared type. Answers must go out byte for byte as configured, and a
    // posted document must arrive as it was sent, so both headers are dropped before routing.
    // The request object is the library's own, not const.
    auto& headers = const_cast<httplib::Request&>(request).headers;
    headers.erase("Accept-Encoding");
    headers.erase("Content-Type");
    // Ranges are answered by the handler (validators, faults), never by the library.
    const_cast<httplib::Request&>(request).ranges.clear();
    return httplib::Server::HandlerResponse::Unhandled;
  });

  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  };
  http_->Get(".*", handler);
  http_->Post(".*", handler);
  http_->Put(".*", handler);
  http_->Patch(".*", handler);
  http_->Delete(".*", handler);
  http_->Options(".*", handler);
}

int UpdateServer::Bind(const std::string& host, int port) {
  if (port == 0) return http_->bind_to_any_port(host);
  return http_->bind_to_port(host, port) ? port : -1;
}

bool UpdateServer::Run() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (stopping_) {
      run_over_ = true;
      return true;
    }
  }
  bool ok = http_->listen_after_bind();
  run_over_ = true;
  return ok;
}

void UpdateServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_wake_.notify_all();
  // The library's stop() acts only once listening has begun and must not be called twice.
  while (!run_over_) {
    if (http_->is_running()) {
      if (!stop_sent_.exchange(true)) http_->stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool UpdateServer::SleepUnlessStopping(std::uint64_t ms) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return !stop_wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void UpdateServer::Log(const httplib::Request& request) {
  if (log_ == nullptr) return;
  std::string line =
      request.method + "\t" + EscapeForLog(request.path) + "\t" + EscapeForLog(request.body);
  // A request for part of a file says which part, so a test can tell a continued download.
  if (request.has_header("Range")) line += "\t" + EscapeForLog(request.get_header_value("Range"));
  line += "\n";
  std::lock_guard<std::mutex> lock(log_mutex_);
  std::fwrite(line.data(), 1, line.size(), log_);
  std::fflush(log_);
}

UpdateServer::Reply UpdateServer::HtmlPage(int status, const std::string& path) {
  // Like real error pages, not well-formed XML (unquoted attribute, unclosed elements).
  std::string title =
      std::to_string(status) + (status == 404 ? " Not Found" : " Internal Server Error");
  std::string text = "<!DOCTYPE html>\n<html><head><meta charset=utf-8><title>" + title +
                     "</title></head>\n<body><h1>" + title + "</h1><hr><p>" + XmlEscape(path) +
                     "</p></body></html>\n";
  return {status, "text/html; charset=utf-8", TextBody(std::move(text))};
}

void UpdateServer::Handle(const httplib::Request& request, httplib::Response& response) {
  Log(request);
  std::optional<Page> page = FindPage(request.method, request.path);
  if (!page) return Deliver(response, HtmlPage(404, request.path));

  std::optional<XmlDoc> doc = PageDoc(*page, root_);
  auto xml_reply = [](const XmlDoc& xml) {
    return Reply{200, "text/xml; charset=utf-8", TextBody(RenderXml(xml, "utf-8"))};
  };
  std::optional<Fault> fault = FindFault(root_ / "fault", request.path);
  const bool ranges = !fault || fault->mode != FaultMode::kIgnoreRange;
  auto normal_reply = [&]() {
    if (doc) return xml_reply(*doc);
    const char* name = *page == Page::kSignature ? "setup.rar.sig"
                       : *page == Page::kBlocks  ? "setup.rar.blocks"
                                                 : "setup.rar";
    const std::filesystem::path path = root_ / "uploads" / "soft" / name;
    if (auto file = FileBody(path)) {
      const Validators validators = FileValidators(path);
      response.set_header("ETag", validators.etag);
      response.set_header("Last-Modified", validators.last_modified);
      response.set_header("Accept-Ranges", "bytes");
      if (ranges) return RangeReply(request, response, validators, file);
      return Reply{200, "application/octet-stream", file};
    }
    return HtmlPage(404, request.path);
  };

  if (!fault) return Deliver(response, normal_reply());

  switch (fault->mode) {
    case FaultMode::kHtml404:
      return Deliver(response, HtmlPage(404, request.path));
    case FaultMode::kHtml500:
      return Deliver(response, HtmlPage(500, request.path));
    case FaultMode::kNotXml:
      return Deliver(response, {200, "text/plain; charset=utf-8",
                                TextBody("This answer is plain text, not an XML document.\n")});
    case FaultMode::kEmpty:
      return Deliver(response, {200, "text/xml; charset=utf-8", TextBody("")});
    case FaultMode::kXml500: {
      Reply reply = normal_reply();
      reply.status = 500;
      return Deliver(response, reply);
    }
    case FaultMode::kRoot:
      if (!doc) break;
      doc->root = fault->name;
      return Deliver(response, xml_reply(*doc));
    case FaultMode::kGb2312:
      if (!doc) break;
      return Deliver(response, {200, "text/xml; charset=gb2312",
                                TextBody(Utf8ToGb2312(RenderXml(*doc, "gb2312")))});
    case FaultMode::kOversize: {
      if (!doc) break;
      // The padding is a comment after the declaration: the document keeps its meaning.
      std::string text = RenderXml(*doc, "utf-8");
      std::size_t split = text.find('\n') + 1;
      std::string head = text.substr(0, split) + "<!--";
      std::string tail = "-->" + text.substr(split);
      if (fault->count < text.size() + 7) return Deliver(response, xml_reply(*doc));
      std::uint64_t fill = fault->count - text.size() - 7;
      return Deliver(response, {200, "text/xml; charset=utf-8",
                                PaddedBody(std::move(head), 'x', fill, std::move(tail))});
    }
    case FaultMode::kNotFoundText: {
      // The text a Chinese IIS shows for a missing page; a client checks for it in the body.
      std::string text =
          "<html><head><title>无法找到网页</title></head>\n"
          "<body><h1>无法找到网页</h1><p>您正在搜索的网页可能已经删除、更名或暂时不可用。"
          "<hr><p>HTTP 错误 404 - 文件或目录未找到。</body></html>\n";
      if (fault->name == "gb2312") {
        return Deliver(response, {200, "text/html; charset=gb2312", TextBody(Utf8ToGb2312(text))});
      }
      return Deliver(response, {200, "text/html; charset=utf-8", TextBody(text)});
    }
    case FaultMode::kChunked:
      return Deliver(response, normal_reply(), Transfer::kChunked);
    case FaultMode::kShort:
      return Deliver(response, normal_reply(), Transfer::kLength, fault->count);
    case FaultMode::kStall:
      return Deliver(response, normal_reply(), Transfer::kLength, fault->count,
                     std::max<std::uint64_t>(fault->ms, 1));
    case FaultMode::kDelay:
      SleepUnlessStopping(fault->ms);
      return Deliver(response, normal_reply());
    case FaultMode::kHang:
      return Hang(request, response);
    case FaultMode::kDrop: {
      // The connection ends at once without a word, as one reset by the network.
      const int fd = ConnectionSocket(request);
      if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
      return;
    }
    case FaultMode::kBreakOnce:
      if (FirstTime(*fault))
        return Deliver(response, normal_reply(), Transfer::kLength, fault->count);
      return Deliver(response, normal_reply());
    case FaultMode::kTrickle:
      return Deliver(response, normal_reply(), Transfer::kLength, UINT64_MAX, 0,
                     {fault->count, fault->piece, fault->ms});
    case FaultMode::kLink:
      // A distant server on a slow link: every request waits, then the body flows at the rate.
      SleepUnlessStopping(fault->ms);
      return Deliver(response, normal_reply(), Transfer::kLength, UINT64_MAX, 0,
                     {0, std::max<std::uint64_t>(1, fault->count / 100), 10});
    case FaultMode::kIgnoreRange:
      return Deliver(response, normal_reply());
    case FaultMode::kRefuseRange:
      if (!doc && request.has_header("Range")) {
        return Deliver(response, {416, "text/plain; charset=utf-8", TextBody("")});
      }
      return Deliver(response, normal_reply());
    case FaultMode::kRedirect: {
      // A body of its own, as real servers send, which a client that follows must not keep.
      response.set_header("Location", fault->name);
      return Deliver(response, {static_cast<int>(fault->count), "text/html; charset=utf-8",
                                TextBody("<html><body><h1>Moved</h1><a href=\"" +
                                         XmlEscape(fault->name) + "\">here</a></body></html>\n")});
    }
  }
  // A mode about XML documents asked of the package: the package goes out unchanged.
  Deliver(response, normal_reply());
}

}  // namespace update_server
