#pragma once
// The Windows program from its entry point on, shared by the product and its whole-run test
// build, which keeps the local database in a file of its own (wine has no Jet provider).

namespace updater::ports {
class Database;
}
namespace updater::win32 {
class Win32Rights;
}

namespace updater::app {

// Runs the updater in the folder of the executable; database null means ADO with Jet, rights
// null the backend's own. Returns the exit status when the windows end without ending the
// process themselves.
int RunWindowsProgram(ports::Database* database = nullptr, win32::Win32Rights* rights = nullptr);

}  // namespace updater::app
