#include "backends/posix/http.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "backends/posix/curl.h"
#include "ports/errors.h"

namespace updater::posix {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// Only http and https with a host name can reach the server.
void CheckUrl(const std::string& url) {
  // The URL parser reads "http:///path" as a host named "path"; a missing host is refused here.
  for (const std::string prefix : {"HTTP://", "HTTPS://"}) {
    if (Upper(url.substr(0, prefix.size())) == prefix &&
        (url.size() == prefix.size() ||
         std::string("/?#").find(url[prefix.size()]) != std::string::npos)) {
      throw RuntimeError(kErrInvalidUrl, "The URL names no host: \"" + url + "\"");
    }
  }
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) throw RuntimeError(kErrFailed, "Out of memory");
  if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    throw RuntimeError(kErrInvalidUrl, "The URL is invalid: \"" + url + "\"");
  }
  char* scheme = nullptr;
  std::string schemeText;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
    schemeText = Upper(scheme);
  }
  curl_free(scheme);
  if (schemeText != "HTTP" && schemeText != "HTTPS") {
    throw RuntimeError(kErrUnrecognizedScheme,
                       "The URL does not use the http or https scheme: \"" + url + "\"");
  }
  char* host = nullptr;
  const bool hasHost =
      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host[0] != '\0';
  curl_free(host);
  if (!hasHost) throw RuntimeError(kErrInvalidUrl, "The URL names no host: \"" + url + "\"");
}

struct Sink {
  std::string body;
  bool tooLarge = false;
};

// A redirect's own body is never the answer: each response starts the body afresh.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  const std::size_t n = size * count;
  if (n >= 5 && std::string(data, 5) == "HTTP/") static_cast<Sink*>(user)->body.clear();
  return n;
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t n = size * count;
  if (sink->body.size() + n > kMaxResponseBody) {
    sink->tooLarge = true;
    return 0;  // ends the transfer: nothing more of this answer is wanted
  }
  sink->body.append(data, n);
  return n;
}

}  // namespace

void CurlHttpRequest::Open(const std::string& method, const std::string& url, bool /*async*/) {
  // Every exchange of the updater is synchronous, so the flag changes nothing.
  opened_ = false;
  body_.clear();
  CheckUrl(url);
  method_ = Upper(method);
  url_ = url;
  opened_ = true;
}

void CurlHttpRequest::Send(const std::string& body) {
  if (!opened_) {
    throw RuntimeError(kErrNotOpen, "The request has not been opened");
  }
  body_.clear();
  EnsureCurlInitialised();
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) throw RuntimeError(kErrFailed, "Could not create an HTTP request");
  CURL* c = curl.get();

  std::unique_ptr<curl_slist, ListDeleter> headers(
      curl_slist_append(nullptr, "Content-Type: text/xml"));
  // No "Expect: 100-continue" round trip, whatever the size of the body.
  headers.reset(curl_slist_append(headers.release(), "Expect:"));

  Sink sink;
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_URL, url_.c_str());
  // The page URL goes out as it was joined: "//" and dot segments are not tidied.
  curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
  RedirectGuard guard;
  SetRequestOptions(c, caFile_, guard);
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.total.count()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &sink);
  if (method_ == "GET") {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    if (method_ != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }

  const CURLcode code = curl_easy_perform(c);
  if (code == CURLE_WRITE_ERROR && sink.tooLarge) return;  // an answer, but none to read
  if (code != CURLE_OK) {
    throw RuntimeError(NumberFor(code, guard), error[0] != '\0' ? error : curl_easy_strerror(code));
  }
  body_ = std::move(sink.body);
}

}  // namespace updater::posix
