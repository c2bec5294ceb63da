// Arbitrary reply bodies against the posix document: parsing and every lookup the updater makes
// must neither crash nor leak nor raise anything but the "no root" error.

#include <cstddef>
#include <cstdint>
#include <string>

#include "backends/posix/xml_document.h"
#include "ports/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kNames[] = {"error",       "version_no", "update_time", "soft_cmt", "bm",
                                       "lcserverurl", "res",        "msg",         "x:error"};
  updater::posix::LibxmlDocument doc;
  const bool loaded = doc.LoadBytes(std::string(reinterpret_cast<const char*>(data), size));
  if (loaded != doc.HasDocumentElement()) __builtin_trap();
  for (const char* name : kNames) {
    try {
      doc.SelectChildText(name);
      if (!loaded) __builtin_trap();  // without a root every lookup must fail
    } catch (const updater::RuntimeError& e) {
      if (loaded || e.number() != updater::kErrObjectNotSet) __builtin_trap();
    }
  }
  if (loaded) {
    // What was read serialises to a document that reads again.
    updater::posix::LibxmlDocument again;
    if (!again.LoadBytes(doc.Xml())) __builtin_trap();
  }
  return 0;
}
