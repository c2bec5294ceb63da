// A self-registering component for the regsvr32 stand-in's tests. Built three times: returning
// S_OK, returning E_FAIL (COMPONENT_RESULT) and without entry points (COMPONENT_WITHOUT_ENTRY).
// Each entry point notes its name in the file named by TEST_COMPONENT_LOG, so a test sees which
// one ran.

#include <cstdio>
#include <cstdlib>

namespace {

void Note(const char* what) {
  const char* log = std::getenv("TEST_COMPONENT_LOG");
  if (log == nullptr) return;
  if (std::FILE* file = std::fopen(log, "a")) {
    std::fprintf(file, "%s\n", what);
    std::fclose(file);
  }
}

}  // namespace

#ifdef COMPONENT_WITHOUT_ENTRY
extern "C" long ComponentVersion() {
  Note("ComponentVersion");
  return 1;
}
#else
extern "C" long DllRegisterServer() {
  Note("DllRegisterServer");
  return COMPONENT_RESULT;
}

extern "C" long DllUnregisterServer() {
  Note("DllUnregisterServer");
  return COMPONENT_RESULT;
}
#endif
