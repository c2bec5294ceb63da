// update-server: the reference update server that tests and the demo run on loopback.
//
//   update-server --root DIR [--host 127.0.0.1] [--port N] [--port-file FILE] [--log FILE]
//                 [--tls-cert PEM --tls-key PEM]
//
// With a certificate and its key the server speaks https (only), for tests of secure servers.
//
// Pages, matched at the end of the request path without regard to case, so that any prefix
// (a base address such as http://127.0.0.1:PORT/item42) reaches them:
//   POST .../xmlRequest/XmlCheckServerStatus.aspx  <root><error></error></root>
//   POST .../InteractData/Xmlsendservername.aspx   <root><error></error></root>
//   POST .../xmlRequest/Xmlclientversion.aspx      <root><error/> version_no update_time
//                                                  soft_cmt bm </root>
//   POST .../xmlRequest/xmlGetServerName.aspx      <root><error/> lcserverurl <res/></root>
//   GET  .../uploads/soft/setup.rar                the package, with Content-Length
//   GET  .../uploads/soft/setup.rar.sig            its detached signature, likewise
//   GET  .../uploads/soft/setup.rar.blocks         its block index, likewise
// Anything else is a 404 HTML page. Request bodies are taken whatever their content type.
//
// Data folder (DIR), read afresh for every request so that a test can change it at any time:
//   version_no, update_time, soft_cmt, bm   UTF-8 text of the version reply's elements; the
//                                           trailing line breaks are dropped; a missing file
//                                           leaves its element out of the reply
//   servers                                 text of lcserverurl (address^^name||...); missing:
//                                           no lcserverurl element
//   list_error                              text of error in the server-list reply (default
//                                           empty)
//   uploads/soft/setup.rar                  the package, streamed from disk; missing: 404
//   uploads/soft/setup.rar.sig              the package's signature; missing: 404
//   uploads/soft/setup.rar.blocks           the package's block index; missing: 404
//   fault                                   fault rules (below); missing: normal answers
//
// Fault rules, one per line: PAGE_PATTERN MODE [ARG...]. PAGE_PATTERN is * or a substring of the
// request path, compared without regard to case; the first matching line applies; blank lines
// and lines starting with # are skipped, malformed lines are reported on stderr and skipped.
// Rules apply to the pages above only.
//   html404 | html500      HTML error page (not well-formed XML) with that status
//   notxml                 200, plain text
//   empty                  200, empty body (Content-Length: 0)
//   xml500                 the normal answer with status 500
//   root NAME              the normal XML answer with root element NAME
//   gb2312                 the normal XML answer declared and encoded as GB2312
//   chunked                the normal answer in chunked transfer encoding, no Content-Length
//   short N                full Content-Length announced, connection closed after N body bytes
//   delay MS               waits MS milliseconds, then answers normally
//   link RATE MS           waits MS milliseconds, then sends the body at RATE bytes per second
//                          (in pieces every 10 ms): a distant server on a slow link
//   stall N MS             full Content-Length, N body bytes, silence for MS ms, then closed
//   hang                   never answers; the connection is closed when the client leaves or
//                          the server ends
//   notfoundtext [gb2312]  200, an HTML page holding 无法找到网页 (UTF-8, or GB2312 if asked)
//   oversize N             the normal XML answer padded to exactly N bytes with a comment
//   redirect STATUS URL    status STATUS (3xx) with Location: URL as written and an HTML body
// root, gb2312 and oversize leave the package unchanged.
//
// Log (--log FILE): one line per request, appended and flushed as the request arrives:
// METHOD TAB PATH TAB BODY, where backslash, CR, LF and tab in PATH and BODY are written as
// \\ \r \n \t.
//
// Once listening, the chosen port is written to the port file (atomically, by rename) and
// "listening on HOST:PORT" to stdout. SIGTERM and SIGINT end the server with status 0.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "server.h"

namespace {

struct Options {
  std::filesystem::path root;
  std::string host = "127.0.0.1";
  int port = 0;
  std::filesystem::path port_file;
  std::filesystem::path log;
  std::string tls_cert;
  std::string tls_key;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "update-server: " << problem << "\n"
            << "usage: update-server --root DIR [--host ADDRESS] [--port N] [--port-file FILE] "
               "[--log FILE] [--tls-cert PEM --tls-key PEM]\n";
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bool has_root = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) Usage("missing value for " + name);
    std::string value = argv[++i];
    if (name == "--root") {
      options.root = value;
      has_root = true;
    } else if (name == "--host") {
      options.host = value;
    } else if (name == "--port") {
      char* end = nullptr;
      long port = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || port < 0 || port > 65535) Usage("bad port " + value);
      options.port = static_cast<int>(port);
    } else if (name == "--port-file") {
      options.port_file = value;
    } else if (name == "--log") {
      options.log = value;
    } else if (name == "--tls-cert") {
      options.tls_cert = value;
    } else if (name == "--tls-key") {
      options.tls_key = value;
    } else {
      Usage("unknown option " + name);
    }
  }
  if (!has_root) Usage("--root is required");
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    Usage("--tls-cert and --tls-key go together");
  }
  if (!std::filesystem::is_directory(options.root)) Usage("no folder " + options.root.string());
  return options;
}

// Written under another name first, so that a reader never sees a half-written port.
bool WritePortFile(const std::filesystem::path& file, int port) {
  std::filesystem::path temporary = file;
  temporary += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);

  // Signals are taken by one thread with sigwait, where it is safe to stop the server; all
  // other threads inherit the blocked mask. A client that leaves must not kill the server.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::FILE* log = nullptr;
  if (!options.log.empty()) {
    log = std::fopen(options.log.c_str(), "a");
    if (log == nullptr) {
      std::cerr << "update-server: cannot open " << options.log << ": " << std::strerror(errno)
                << "\n";
      return 1;
    }
  }

  update_server::UpdateServer server(options.root, log, options.tls_cert, options.tls_key);
  std::thread signal_thread([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
  });

  int status = 0;
  int port = server.Valid() ? server.Bind(options.host, options.port) : -1;
  if (!server.Valid()) {
    std::cerr << "update-server: cannot load the certificate or its key\n";
    status = 1;
  } else if (port < 0) {
    std::cerr << "update-server: cannot listen on " << options.host << ":" << options.port << "\n";
    status = 1;
  } else if (!options.port_file.empty() && !WritePortFile(options.port_file, port)) {
    std::cerr << "update-server: cannot write " << options.port_file << "\n";
    status = 1;
  } else {
    std::cout << "listening on " << options.host << ":" << port << std::endl;
    if (!server.Run()) status = 1;
  }
  if (status != 0) server.Abandon();

  // Wakes the signal thread when the server ended on its own or never began.
  ::kill(::getpid(), SIGTERM);
  signal_thread.join();
  if (log != nullptr) std::fclose(log);
  return status;
}
