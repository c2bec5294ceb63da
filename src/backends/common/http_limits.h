#pragma once
// How long and how much the updater waits for and keeps from the network, on both backends:
// an exchange with the server and the package download time out alike whichever backend runs.

#include <chrono>
#include <cstddef>

namespace updater {

inline constexpr std::chrono::milliseconds kConnectTimeout{10000};

// One server exchange: a request and its answer.
struct HttpLimits {
  std::chrono::milliseconds connect = kConnectTimeout;
  std::chrono::milliseconds total{30000};  // the whole exchange, from connecting to the last byte
};

// An answer larger than this is not kept: the reply then reads as no document at all.
inline constexpr std::size_t kMaxResponseBody = 1024 * 1024;

// The package download.
struct TransferLimits {
  std::chrono::milliseconds connect = kConnectTimeout;
  // No byte for this long (headers included) ends the transfer as failed.
  std::chrono::milliseconds stall{60000};
  // Bytes held between the network and the caller; the worker waits beyond it.
  std::size_t buffer = 4 * 1024 * 1024;
  // How long StillExecuting waits for the headers before it answers true.
  std::chrono::milliseconds poll{30};
};

}  // namespace updater
