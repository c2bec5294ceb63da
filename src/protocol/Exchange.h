#pragma once
// One XML exchange with the server: the request texts, the page paths, and the steps every
// exchange takes in the same order (load the request, open, send, each followed by a pump), in
// continue-after-error style: a failing step writes the error record and the next step runs.

#include <memory>
#include <optional>
#include <string>

#include "ports/errors.h"
#include "ports/platform.h"

namespace updater::protocol {

inline constexpr const char* kPageCheckServerStatus = "/xmlRequest/XmlCheckServerStatus.aspx";
inline constexpr const char* kPageSendServerName = "/InteractData/Xmlsendservername.aspx";
inline constexpr const char* kPageGetServerName = "/xmlRequest/xmlGetServerName.aspx";
inline constexpr const char* kPageClientVersion = "/xmlRequest/Xmlclientversion.aspx";

// The same greeting for every request that carries no data.
std::string GreetingRequest();
// The card request; id and password are inserted as they are.
std::string CardRequest(const std::string& cardId, const std::string& cardPassword);

class Exchange {
 public:
  explicit Exchange(Platform& pf) : pf_(pf) {}

  // Loads requestText into a new document, pumps, opens a POST to url, pumps, sends the
  // document, pumps. Failures land in the error record.
  void Post(const std::string& url, const std::string& requestText);

  // The transport test: an error is recorded after Post.
  bool TransportFailed() const { return error.IsSet(); }

  // Replaces the document with the reply (parsed from the body that arrived).
  void TakeReply();
  // Replaces the document with a new, empty one.
  void DropReply();

  // The text of a child of the reply's root, or nothing when absent. A reply without root
  // writes the error record (the reply test) and gives nothing.
  std::optional<std::string> Lookup(const std::string& name);

  ErrorRecord error;

 private:
  void Pump();

  Platform& pf_;
  std::unique_ptr<ports::XmlDocument> doc_;
  std::unique_ptr<ports::HttpRequest> http_;
};

}  // namespace updater::protocol
