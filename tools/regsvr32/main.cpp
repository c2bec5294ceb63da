// regsvr32: the stand-in for the Windows component registration program on posix machines.
//
//   regsvr32 [-s] [-u] PATH
//
// Loads the shared object PATH and calls its DllRegisterServer, or DllUnregisterServer with -u,
// as the Windows program does with a DLL. A PATH without a slash names a file in the current
// folder, not one on the library search path. Switches start with "-" or "/", may stand anywhere
// and are compared without regard to case. The entry point has the signature long() and returns
// an HRESULT: a negative 32-bit value is a failure, anything else (S_OK, S_FALSE) success.
//
// Without -s one line on stdout tells what happened; -s prints nothing.
//
// Exit codes, those of the Windows program: 0 success; 1 bad command line; 3 the file cannot be
// loaded; 4 it does not export the entry point; 5 the entry point returned a failure code.
//
// When the environment variable AUTOUPDATE_REGSVR32_LOG names a file, every run appends one line
// to it: the arguments as received, then the exit code, separated by tabs; backslash, tab, CR and
// LF inside an argument are written as \\ \t \r \n. The line is written with one append, so the
// lines of runs that overlap do not mix.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kOk = 0;
constexpr int kBadArguments = 1;
constexpr int kLoadFailed = 3;
constexpr int kNoEntryPoint = 4;
constexpr int kEntryPointFailed = 5;

struct Outcome {
  int code;
  std::string message;
};

struct Options {
  bool silent = false;
  bool unregister = false;
  std::vector<std::string> paths;
  std::string problem;  // non-empty when the command line is not understood
};

// "-s", "/S", "-u", ...: a dash or slash and one letter. A longer argument is a path, so that
// absolute paths are not taken for switches.
Options ParseCommandLine(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool switch_like =
        (arg.size() == 2 && (arg[0] == '-' || arg[0] == '/')) || (arg.starts_with('-'));
    if (!switch_like) {
      options.paths.push_back(arg);
      continue;
    }
    const std::string letter = arg.size() == 2 ? arg.substr(1) : "";
    if (letter == "s" || letter == "S") {
      options.silent = true;
    } else if (letter == "u" || letter == "U") {
      options.unregister = true;
    } else {
      options.problem = "unknown switch " + arg;
    }
  }
  if (options.problem.empty() && options.paths.size() != 1) {
    options.problem = "usage: regsvr32 [-s] [-u] PATH";
  }
  return options;
}

Outcome Register(const std::string& path, bool unregister) {
  const char* entry_name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const std::string module = "The module \"" + path + "\"";
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;

  void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    return {kLoadFailed, module + " failed to load: " + (why != nullptr ? why : "unknown error")};
  }
  void* symbol = ::dlsym(library, entry_name);
  if (symbol == nullptr) {
    ::dlclose(library);
    return {kNoEntryPoint,
            module + " was loaded but the entry-point " + entry_name + " was not found."};
  }
  long (*entry_point)();
  static_assert(sizeof(entry_point) == sizeof(symbol));
  std::memcpy(&entry_point, &symbol, sizeof(symbol));
  // An HRESULT is 32 bits wide whatever the width of long here.
  const auto result = static_cast<std::uint32_t>(entry_point());
  ::dlclose(library);
  if (static_cast<std::int32_t>(result) < 0) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08x", static_cast<unsigned>(result));
    return {kEntryPointFailed, module + " was loaded but the call to " + entry_name +
                                   " failed with error code " + code + "."};
  }
  return {kOk, std::string(entry_name) + " in " + path + " succeeded."};
}

std::string EscapeForLog(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void AppendToLog(int argc, char** argv, int code) {
  const char* log = std::getenv("AUTOUPDATE_REGSVR32_LOG");
  if (log == nullptr || *log == '\0') return;
  std::string line;
  for (int i = 1; i < argc; ++i) line += EscapeForLog(argv[i]) + '\t';
  line += std::to_string(code) + '\n';
  const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;  // the log is a test aid; the registration's outcome does not depend on it
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseCommandLine(argc, argv);
  const Outcome outcome = options.problem.empty()
                              ? Register(options.paths.front(), options.unregister)
                              : Outcome{kBadArguments, options.problem};
  AppendToLog(argc, argv, outcome.code);
  if (!options.silent) std::printf("%s\n", outcome.message.c_str());
  return outcome.code;
}
