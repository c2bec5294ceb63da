#include "backends/win32/wininet.h"

#include <algorithm>
#include <cwctype>

#include "backends/win32/ansi.h"

namespace updater::win32 {

UrlFault CrackUrl(const std::string& url, bool allowHttps, RequestTarget& target,
                  DWORD& crackError) {
  const std::wstring wide = Utf8ToWide(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // ask for pointers into wide
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    crackError = GetLastError();
    return UrlFault::kUnreadable;
  }
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && !(allowHttps && secure)) return UrlFault::kScheme;
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) return UrlFault::kNoHost;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.secure = secure;
  target.object.clear();
  if (parts.lpszUrlPath != nullptr) target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (target.object.empty()) target.object = L"/";
  return UrlFault::kNone;
}

std::wstring Verb(const std::string& method) {
  std::wstring verb = Utf8ToWide(method);
  std::transform(verb.begin(), verb.end(), verb.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return verb;
}

DWORD RequestHandles::Open(const RequestTarget& target, const wchar_t* verb, DWORD flags,
                           const CallTimeouts& timeouts, HINTERNET& request) {
  HINTERNET session =
      InternetOpenW(L"autoupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return GetLastError();
  if (!Adopt(kSession, session)) return ERROR_INTERNET_TIMEOUT;
  DWORD connectMs = timeouts.connectMs, ioMs = timeouts.sendReceiveMs, oneTry = 1;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &ioMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &ioMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_RETRIES, &oneTry, sizeof(DWORD));

  HINTERNET connection = InternetConnectW(session, target.host.c_str(), target.port, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) return GetLastError();
  if (!Adopt(kConnection, connection)) return ERROR_INTERNET_TIMEOUT;

  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  request = HttpOpenRequestW(connection, verb, target.object.c_str(), nullptr, nullptr, nullptr,
                             flags, 0);
  if (request == nullptr) return GetLastError();
  if (!Adopt(kRequest, request)) return ERROR_INTERNET_TIMEOUT;
  return 0;
}

bool RequestHandles::Adopt(Slot slot, HINTERNET handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    InternetCloseHandle(handle);
    return false;
  }
  handles_[slot] = InternetHandle(handle);
  return true;
}

void RequestHandles::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) it->Reset();
}

}  // namespace updater::win32
