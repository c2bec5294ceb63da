#pragma once
// The Windows program from its entry point on, shared by the product and its whole-run test
// build, which keeps the local database in a file of its own (wine has no Jet provider).

namespace updater::ports {
class Database;
}

namespace updater::app {

// Runs the updater in the folder of the executable; database null means ADO with Jet. Returns
// the exit status when the windows end without ending the process themselves.
int RunWindowsProgram(ports::Database* database = nullptr);

}  // namespace updater::app
