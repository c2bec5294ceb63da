// Installs PROGRAM_FOLDER\tmp\setup.rar through the upgrade window's InstallPackage, with a fresh
// SQLite project.mdb, and prints the time it took.
//
//   install_bench PROGRAM_FOLDER

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "backends/posix/platform.h"
#include "quiet_ui.h"
#include "settings/LocalDatabase.h"
#include "upgrade/frmUpgrade.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: install_bench PROGRAM_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string db = (std::filesystem::path(folder) / "project.mdb").string();
  sqlite3* handle = nullptr;
  sqlite3_open(db.c_str(), &handle);
  sqlite3_exec(handle,
               "create table if not exists versions (version TEXT, updatetime TEXT, updatecmt "
               "TEXT, versionT TEXT); create table if not exists projectList (project_No TEXT)",
               nullptr, nullptr, nullptr);
  sqlite3_close(handle);

  updater::posix::PosixPlatform backend(folder);
  QuietUi ui;
  backend.platform().ui = &ui;
  updater::frmUpgrade w(backend.platform());
  w.strConnString = updater::LocalDatabase::ConnectionString(folder);
  w.Text1.Text = "2.0";
  const auto start = std::chrono::steady_clock::now();
  bool ok = false;
  w.InstallPackage(folder + "\\tmp\\setup.rar", ok);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds=%.3f ok=%d\n", seconds, ok ? 1 : 0);
  return ok ? 0 : 1;
}
