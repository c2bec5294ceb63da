#include "backends/win32/transfer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
#include "backends/win32/wininet.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr DWORD kReadBlock = 256 * 1024;
// A worker blocked in WinINet gets this long to notice its closed handles before the caller
// stops waiting for it; the shared state keeps whatever it still touches alive.
constexpr auto kStopGrace = std::chrono::milliseconds(2000);

// The asynchronous call a download has outstanding, and what WinINet writes into meanwhile. A
// worker that gives up on a call (cancelled) leaves it here until the request handle's closing
// is reported, the last thing WinINet does with it.
struct Pending {
  std::mutex mutex;
  std::condition_variable done;
  bool completed = false;
  DWORD error = 0;
  // Guarded by gMutex.
  bool outstanding = false;
  bool reading = false;  // past the redirects, whose handles close on the way
  bool closed = false;
  bool abandoned = false;
  // The ...A form: Windows has long left InternetReadFileExW unimplemented.
  INTERNET_BUFFERSA read{};
  std::unique_ptr<char[]> block{new char[kReadBlock]};
};
std::mutex gMutex;
DWORD_PTR gLast = 0;
std::map<DWORD_PTR, std::shared_ptr<Pending>> gLive;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR id, DWORD status, LPVOID info, DWORD) {
  std::shared_ptr<Pending> p;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gLive.find(id);
    if (it == gLive.end()) return;
    if (status == INTERNET_STATUS_HANDLE_CLOSING && it->second->reading) {
      if (it->second->abandoned) {
        gLive.erase(it);
      } else {
        it->second->closed = true;
      }
      return;
    }
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || info == nullptr) return;
    p = it->second;
  }
  std::lock_guard<std::mutex> lock(p->mutex);
  p->completed = true;
  p->error = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwError;
  p->done.notify_all();
}

}  // namespace

struct WinInetTransfer::Shared {
  explicit Shared(const TransferLimits& limits) : buffer(limits) {}

  TransferBuffer buffer;
  RequestTarget target;
  std::wstring verb;
  std::wstring headers;  // extra request headers, each line ended by CR LF
  CallTimeouts timeouts;
  RequestHandles handles;
};

namespace {

// Waits for the completion of the call that went pending; a cancelled download stops waiting
// (its closed handles end the call), and so does one whose call outlasts limit: WinINet's own
// time-outs should have ended it by then, and nothing may wait without end.
DWORD Await(Pending& p, TransferBuffer& buffer, std::chrono::milliseconds limit) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    p.outstanding = true;
  }
  const auto giveUp = std::chrono::steady_clock::now() + limit + kStopGrace;
  std::unique_lock<std::mutex> lock(p.mutex);
  while (!p.completed) {
    if (buffer.Cancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
    if (std::chrono::steady_clock::now() >= giveUp) return ERROR_INTERNET_TIMEOUT;
    p.done.wait_for(lock, std::chrono::milliseconds(100));
  }
  p.completed = false;
  std::lock_guard<std::mutex> live(gMutex);
  p.outstanding = false;
  return p.error;
}

// Reads the body as it arrives: each read takes, without waiting, all that has arrived, up to a
// block. A read asking for a fixed amount would wait until it is filled and hold back meanwhile
// what it has: a stream that slows from fast to a trickle would then hand on nothing for minutes,
// and be taken for a stall. A read that finds nothing goes pending, and its completion says only
// that data has come: Windows leaves the block and the count as they were, and the next read
// takes the data. Only a read answered at once with nothing is the end of the body.
void ReadBody(HINTERNET request, DWORD_PTR id, Pending& p, TransferBuffer& buffer,
              std::chrono::milliseconds limit) {
  for (;;) {
    while (buffer.Full()) {
      if (buffer.WaitForRoom(std::chrono::milliseconds(100)) == TransferBuffer::Room::Cancelled) {
        return;
      }
    }
    p.read = {};
    p.read.dwStructSize = sizeof p.read;
    p.read.lpvBuffer = p.block.get();
    p.read.dwBufferLength = kReadBlock;
    if (InternetReadFileExA(request, &p.read, IRF_NO_WAIT, id)) {
      if (p.read.dwBufferLength == 0) return;
      buffer.Push(p.block.get(), p.read.dwBufferLength);
      continue;
    }
    if (GetLastError() != ERROR_IO_PENDING || Await(p, buffer, limit) != 0) return;
  }
}

void Work(std::shared_ptr<WinInetTransfer::Shared> s) {
  TransferBuffer& buffer = s->buffer;
  auto pending = std::make_shared<Pending>();
  DWORD_PTR id;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    id = ++gLast;
    gLive[id] = pending;
  }
  const auto end = [&] {
    {
      // A read still outstanding may write into pending until the request handle closes.
      std::lock_guard<std::mutex> lock(gMutex);
      if (pending->reading && pending->outstanding && !pending->closed) {
        pending->abandoned = true;
      } else {
        gLive.erase(id);
      }
    }
    buffer.Finish();
    buffer.WorkerGone();
  };
  // An asynchronous session, so that a read can take all that has arrived without waiting for
  // more. Each wait ends when the download is cancelled (the caller's side keeps the stall limit
  // and closes the handles) or when WinINet's own time-outs have passed.
  const std::chrono::milliseconds receive(s->timeouts.sendReceiveMs);
  const std::chrono::milliseconds connect(s->timeouts.connectMs);
  AsyncMode async{OnStatus, id, [&] { return Await(*pending, buffer, connect + receive); }};
  HINTERNET request = nullptr;
  Outgoing out{
      s->target, s->verb, s->headers.empty() ? nullptr : s->headers.c_str(), {}, s->timeouts};
  out.async = &async;
  if (SendFollowingRedirects(s->handles, std::move(out), request) != 0) return end();
  // The headers are read from the request handle when asked for; this marks their arrival.
  DWORD status = 0, size = sizeof status;
  HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  buffer.SetHeaders(static_cast<int>(status), {});
  {
    std::lock_guard<std::mutex> lock(gMutex);
    pending->reading = true;
  }
  ReadBody(request, id, *pending, buffer, receive);
  // The handles stay open for the header queries; the owner closes them.
  end();
}

}  // namespace

WinInetTransfer::~WinInetTransfer() { Stop(); }

void WinInetTransfer::Stop() {
  if (!shared_) return;
  shared_->buffer.Cancel();
  shared_->buffer.WaitWorkerGone(kStopGrace);
  shared_->handles.Close();
  shared_.reset();
}

void WinInetTransfer::Execute(const std::string& url, const std::string& operation,
                              const std::vector<std::string>& headers) {
  const std::wstring verb = Verb(operation);
  if (verb != L"GET" && verb != L"HEAD") {
    throw RuntimeError(kErrInvalidCall);
  }
  RequestTarget target;
  DWORD crackError = 0;
  switch (CrackUrl(url, true, target, crackError)) {
    case UrlFault::kNone:
      break;
    case UrlFault::kScheme:
      throw RuntimeError(HResultFromWin32(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
                         "The URL scheme could not be recognized");
    case UrlFault::kUnreadable:
    case UrlFault::kNoHost:
      throw RuntimeError(HResultFromWin32(ERROR_INTERNET_INVALID_URL), "The URL is invalid");
  }
  Stop();
  auto s = std::make_shared<Shared>(limits_);
  s->verb = verb;
  s->target = std::move(target);
  for (const std::string& line : headers) s->headers += Utf8ToWide(line) + L"\r\n";
  s->timeouts = {static_cast<DWORD>(limits_.connect.count()),
                 static_cast<DWORD>(limits_.stall.count())};
  Shared* raw = s.get();
  s->buffer.OnCancel([raw] { raw->handles.Close(); });
  s->buffer.WhileWaiting(pump_);
  shared_ = s;
  std::thread(Work, std::move(s)).detach();
}

bool WinInetTransfer::StillExecuting() { return shared_ && shared_->buffer.Pending(); }

int WinInetTransfer::StatusCode() { return shared_ ? shared_->buffer.Status() : 0; }

std::string WinInetTransfer::GetHeader(const std::string& name) {
  if (!shared_ || !shared_->buffer.HasHeaders() || shared_->buffer.Cancelled()) return "";
  return shared_->handles.WithRequest([&name](HINTERNET request) -> std::string {
    if (request == nullptr) return "";
    const std::wstring wideName = Utf8ToWide(name);
    // HTTP_QUERY_CUSTOM takes the header's name in the buffer that receives its value.
    std::vector<wchar_t> value(std::max<std::size_t>(wideName.size() + 1, 256));
    for (;;) {
      std::copy(wideName.begin(), wideName.end(), value.begin());
      value[wideName.size()] = L'\0';
      DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
      if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, value.data(), &bytes, nullptr)) {
        return WideToUtf8(std::wstring(value.data(), bytes / sizeof(wchar_t)));
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";  // ERROR_HTTP_HEADER_NOT_FOUND
      value.resize(std::max<std::size_t>(bytes / sizeof(wchar_t) + 1, wideName.size() + 1));
    }
  });
}

std::string WinInetTransfer::GetChunk(std::size_t size) {
  return shared_ ? shared_->buffer.Take(size) : "";
}

}  // namespace updater::win32
