#pragma once
// A program folder of its own for whole runs of the Linux program: the updater, the archiver and
// regsvr32 stand-ins, a demo client that logs its starts, a real SQLite project.mdb at version
// 1.0. The test binary defines AUTOUPDATE_PATH, RAR_PATH and REGSVR32_PATH.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace program_folder {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

class ProgramFolderTest : public testing::Test {
 protected:
  // root_ is a new folder named after prefix; the program folder prog_ lies inside it.
  explicit ProgramFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / (prefix_ + "-XXXXXX")).string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    prog_ = root_ / "program 中文";
    fs::create_directories(prog_ / "DLL");
    fs::create_directories(root_ / "Desktop");
    fs::copy_file(AUTOUPDATE_PATH, prog_ / "autoupdate");
    fs::copy_file(RAR_PATH, prog_ / "rar.exe");
    fs::copy_file(REGSVR32_PATH, prog_ / "regsvr32");
    Client(prog_ / "Trainova.dll", "1.0");
    Sql("create table system (upserverurl text, indatetime datetime);"
        "create table versions (version text, updatetime text, updatecmt text, versionT text);"
        "create table projectList (project_No text, project_URL text);"
        "insert into versions values ('1.0', 't1', '', '0');"
        "insert into projectList values ('7', 'old');");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A client that appends "client VERSION [ARGS]" to root_/client.log.
  void Client(const fs::path& at, const std::string& version) {
    WriteFile(at, "#!/bin/sh\necho \"client " + version + " [$*]\" >>" +
                      Quote(root_ / "client.log") + "\n");
    fs::permissions(at, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  }
  void Sql(const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((prog_ / "project.mdb").c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }
  // The first column of every row, joined by "|".
  std::string Query(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open((prog_ / "project.mdb").c_str(), &db);
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        if (!out.empty()) out += "|";
        const auto* text = sqlite3_column_text(st, 0);
        out += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
      }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }
  // client.ini with these values; extra holds whole lines ("pubkey=...\r\n").
  void Ini(const std::string& server, const std::string& item = "", const std::string& extra = "") {
    WriteFile(prog_ / "client.ini",
              "[initInfo]\r\nserver=" + server + "\r\nitem_id=" + item + "\r\n" + extra);
  }
  // Runs the updater with input on its standard input; its exit status.
  int Run(const std::string& input = "") {
    WriteFile(root_ / "input", input);
    const std::string cmd = "cd " + Quote(root_) + " && HOME=" + Quote(root_) +
                            " XDG_DESKTOP_DIR=" + Quote(root_ / "Desktop") +
                            " XDG_STATE_HOME=" + Quote(root_ / "state") + " timeout 60 " +
                            Quote(prog_ / "autoupdate") + " <input >stdout 2>stderr";
    const int status = std::system(cmd.c_str());
    ::usleep(300 * 1000);  // the client runs on after the updater ends
    return WEXITSTATUS(status);
  }
  std::string Out() { return ReadFile(root_ / "stdout"); }
  std::string Err() { return ReadFile(root_ / "stderr"); }
  std::string ClientLog() { return ReadFile(root_ / "client.log"); }
  // The support log the runs wrote into the user's state folder (below root_, never the real
  // home); state is the folder XDG_STATE_HOME named, or ~/.local/state.
  std::string SupportLog(const fs::path& state = "state") {
    std::string text;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root_ / state / "autoupdate", ec)) {
      text += ReadFile(e.path());
    }
    return text;
  }

  fs::path root_, prog_;

 private:
  std::string prefix_;
};

}  // namespace program_folder
