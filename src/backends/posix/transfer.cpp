#include "backends/posix/transfer.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "backends/posix/curl.h"
#include "ports/errors.h"
#include "util/text.h"

namespace updater::posix {

namespace {

constexpr long kReadBlock = 256 * 1024;

// Only http and https with a host can be fetched (redirects too: see SetRequestOptions).
void CheckUrl(const std::string& url) {
  CURLU* parsed = curl_url();
  if (parsed == nullptr) throw RuntimeError(kErrInvalidUrl, "Out of memory");
  char* scheme = nullptr;
  char* host = nullptr;
  const bool parses = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  if (parses) {
    curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(parsed, CURLUPART_HOST, &host, 0);
  }
  const std::string schemeText = scheme != nullptr ? text::AsciiLower(scheme) : "";
  const bool hasHost = host != nullptr && host[0] != '\0';
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(parsed);
  if (!parses || !hasHost) {
    throw RuntimeError(kErrInvalidUrl, "The URL is invalid: \"" + url + "\"");
  }
  if (schemeText != "http" && schemeText != "https") {
    throw RuntimeError(kErrUnrecognizedScheme, "The URL scheme could not be recognized");
  }
}

// What the worker keeps while the request runs.
struct Job {
  std::shared_ptr<TransferBuffer> buffer;
  CURLM* multi = nullptr;
  std::string url;
  bool head = false;
  TransferLimits limits;
  bool paused = false;
  std::string caFile;
  std::vector<std::string> requestHeaders;
  std::vector<std::pair<std::string, std::string>> headers;
  long status = 0;
  bool location = false;  // the current response names a Location
  RedirectGuard guard;

  // A redirect is followed, and its headers and body are not the package's.
  bool Redirecting() const { return status >= 300 && status < 400 && status != 304 && location; }
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* job = static_cast<Job*>(user);
  const std::size_t n = size * count;
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    // A new response (after a 1xx): its headers replace those seen before.
    job->headers.clear();
    job->location = false;
    const std::size_t blank = line.find(' ');
    job->status = blank == std::string::npos ? 0 : std::atol(line.c_str() + blank + 1);
  } else if (line.empty()) {
    if (job->status >= 200 && !job->Redirecting()) {
      job->buffer->SetHeaders(static_cast<int>(job->status), job->headers);
    }
  } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
    std::string name = text::TrimSpaces(line.substr(0, colon));
    std::string value = text::TrimSpaces(line.substr(colon + 1));
    if (text::AsciiLower(name) == "location" && !value.empty()) job->location = true;
    job->headers.emplace_back(std::move(name), std::move(value));
  }
  return n;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* job = static_cast<Job*>(user);
  if (job->buffer->Cancelled()) return 0;  // ends the transfer with a write error
  if (job->Redirecting()) return size * count;
  if (job->buffer->Full()) {
    job->paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  job->buffer->Push(data, size * count);
  return size * count;
}

void Work(Job job) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) {
    job.buffer->WorkerGone();
    return;
  }
  curl_easy_setopt(easy, CURLOPT_URL, job.url.c_str());
  SetRequestOptions(easy, job.caFile, job.guard);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(job.limits.connect.count()));
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReadBlock);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &job);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &job);
  if (job.head) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_slist* requestHeaders = nullptr;
  for (const std::string& line : job.requestHeaders) {
    requestHeaders = curl_slist_append(requestHeaders, line.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders);
  curl_multi_add_handle(job.multi, easy);

  // The stall limit is kept by the caller's side, which cancels; cancelling wakes the poll.
  while (!job.buffer->Cancelled()) {
    if (job.paused) {
      const auto room = job.buffer->WaitForRoom(std::chrono::milliseconds(100));
      if (room == TransferBuffer::Room::Cancelled) break;
      if (room == TransferBuffer::Room::Waiting) continue;
      job.paused = false;
      curl_easy_pause(easy, CURLPAUSE_CONT);  // may deliver held data and pause again
    }
    int running = 0;
    if (curl_multi_perform(job.multi, &running) != CURLM_OK) break;
    int queued = 0;
    bool done = false;
    while (CURLMsg* msg = curl_multi_info_read(job.multi, &queued)) {
      if (msg->msg == CURLMSG_DONE) done = true;
    }
    if (done || running == 0) break;
    if (!job.paused) curl_multi_poll(job.multi, nullptr, 0, 100, nullptr);
  }
  // A body without headers (HTTP/0.9) or an answer to HEAD ends with the headers still unset.
  // A redirect that could not be followed (too many, another scheme) is no answer at all.
  if (!job.buffer->HasHeaders() && job.status >= 200 && !job.Redirecting()) {
    job.buffer->SetHeaders(static_cast<int>(job.status), job.headers);
  }
  job.buffer->Finish();
  curl_multi_remove_handle(job.multi, easy);
  curl_easy_cleanup(easy);
  curl_slist_free_all(requestHeaders);
  job.buffer->WorkerGone();
}

}  // namespace

CurlTransfer::CurlTransfer(TransferLimits limits, std::function<void()> pump, std::string caFile)
    : limits_(limits), pump_(std::move(pump)), caFile_(std::move(caFile)) {
  EnsureCurlInitialised();
}

CurlTransfer::~CurlTransfer() { Stop(); }

void CurlTransfer::Stop() {
  if (buffer_) buffer_->Cancel();
  if (worker_.joinable()) worker_.join();
  if (multi_ != nullptr) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  multi_ = nullptr;
  buffer_.reset();
}

void CurlTransfer::Execute(const std::string& url, const std::string& operation,
                           const std::vector<std::string>& headers) {
  const std::string op = text::AsciiLower(operation);
  if (op != "get" && op != "head") {
    throw RuntimeError(kErrInvalidCall);
  }
  CheckUrl(url);
  Stop();
  CURLM* multi = curl_multi_init();
  if (multi == nullptr) throw RuntimeError(kErrInvalidCall, "The transfer cannot be started");
  multi_ = multi;
  buffer_ = std::make_shared<TransferBuffer>(limits_);
  buffer_->OnCancel([multi] { curl_multi_wakeup(multi); });
  buffer_->WhileWaiting(pump_);
  Job job;
  job.buffer = buffer_;
  job.multi = multi;
  job.url = url;
  job.head = op == "head";
  job.limits = limits_;
  job.caFile = caFile_;
  job.requestHeaders = headers;
  worker_ = std::thread(Work, std::move(job));
}

bool CurlTransfer::StillExecuting() { return buffer_ && buffer_->Pending(); }

int CurlTransfer::StatusCode() { return buffer_ ? buffer_->Status() : 0; }

std::string CurlTransfer::GetHeader(const std::string& name) {
  return buffer_ ? buffer_->Header(name) : "";
}

std::string CurlTransfer::GetChunk(std::size_t size) { return buffer_ ? buffer_->Take(size) : ""; }

}  // namespace updater::posix
