// The upgrade window's version check, download and installation on the posix backend, end to
// end: the reference server on loopback, a real program folder with the archiver and regsvr32
// stand-ins in it, a real SQLite project.mdb, packages made by make-package.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "backends/posix/file_io.h"
#include "backends/posix/platform.h"
#include "contract/posix/update_server.h"
#include "filesystem/CFileSystem.h"
#include "helpers/Module1.h"
#include "settings/LocalDatabase.h"
#include "upgrade/InstallJournal.h"
#include "upgrade/frmUpgrade.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using updater::frmUpgrade;

constexpr const char* kComment = "新版本：修正了“错误”";

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Every file below root with its content, folders as "<dir>"; the temporary folder is left out.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().lexically_relative(root).generic_string();
    if (name == "tmp" || name == "tmp.part") {  // the download's own folders
      it.disable_recursion_pending();
      continue;
    }
    tree[name] = it->is_directory() ? "<dir>" : ReadFile(it->path());
  }
  return tree;
}

int RunProgram(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The window system of the test: records when pending events were served and what was shown.
class RecordingUi : public updater::ports::UiHost {
 public:
  void DoEvents() override { events.push_back(Clock::now()); }
  void MsgBox(const std::string& text, updater::ports::MsgIcon, const std::string&) override {
    messages.push_back(text);
  }
  void Show(updater::ui::Form&) override {}
  void ShowModal(updater::ui::Form&) override {}
  void Unload(updater::ui::Form&) override {}
  void Run() override {}
  [[noreturn]] void End() override { throw std::logic_error("the program ended"); }
  [[noreturn]] void ReportRuntimeError(int number, const std::string& text) override {
    throw std::logic_error("run-time error " + std::to_string(number) + ": " + text);
  }
  updater::ports::DateTime Now() override { return {2024, 5, 6, 7, 8, 9}; }

  std::vector<Clock::time_point> events;
  std::vector<std::string> messages;
};

class Sqlite {
 public:
  explicit Sqlite(const fs::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite open");
  }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string why = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + why);
    }
  }
  // The rows of versions as "version|updatetime|updatecmt|versionT", in table order.
  std::vector<std::string> Versions() {
    std::vector<std::string> rows;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_,
                       "select version, updatetime, updatecmt, versionT from versions order by "
                       "rowid",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < 4; ++i) {
        const auto* text = sqlite3_column_text(st, i);
        row += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Ends the process at the chosen call of a port that changes files, before or after the call
// runs, as a user ending the updater would.
struct KillSwitch {
  static constexpr int kKilled = 86;
  int at = 0;
  bool after = false;
  int count = 0;
  template <class F>
  auto Around(F&& f) {
    const bool hit = ++count == at;
    if (hit && !after) ::_exit(kKilled);
    if constexpr (std::is_void_v<decltype(f())>) {
      f();
      if (hit) ::_exit(kKilled);
    } else {
      auto r = f();
      if (hit) ::_exit(kKilled);
      return r;
    }
  }
};

class KillingFiles : public updater::ports::Files {
 public:
  KillingFiles(updater::ports::Files& inner, KillSwitch& kill) : inner_(inner), kill_(kill) {}
  bool FileExists(const std::string& p) override { return inner_.FileExists(p); }
  bool FolderExists(const std::string& p) override { return inner_.FolderExists(p); }
  bool FolderIsEmpty(const std::string& p) override { return inner_.FolderIsEmpty(p); }
  void MakeFolder(const std::string& p) override {
    kill_.Around([&] { inner_.MakeFolder(p); });
  }
  std::vector<std::string> ListFiles(const std::string& f) override { return inner_.ListFiles(f); }
  Kind KindOf(const std::string& p) override { return inner_.KindOf(p); }
  std::vector<std::string> ListFolders(const std::string& f) override {
    return inner_.ListFolders(f);
  }
  void Rename(const std::string& from, const std::string& to) override {
    kill_.Around([&] { inner_.Rename(from, to); });
  }
  void ClearAttributes(const std::string& p) override { inner_.ClearAttributes(p); }
  void Remove(const std::string& p) override {
    kill_.Around([&] { inner_.Remove(p); });
  }
  void WriteWhole(const std::string& p, const std::string& bytes) override {
    kill_.Around([&] { inner_.WriteWhole(p, bytes); });
  }
  bool FitsAnsiCodePage(const std::string& t) override { return inner_.FitsAnsiCodePage(t); }
  std::vector<std::string> ListOthers(const std::string& f) override {
    return inner_.ListOthers(f);
  }

 private:
  updater::ports::Files& inner_;
  KillSwitch& kill_;
};

class KillingIo : public updater::ports::FileIO {
 public:
  KillingIo(updater::ports::FileIO& inner, KillSwitch& kill) : inner_(inner), kill_(kill) {}
  std::unique_ptr<updater::ports::Transfer> NewTransfer() override { return inner_.NewTransfer(); }
  std::unique_ptr<updater::ports::BinaryFile> OpenBinary(const std::string& p) override {
    return kill_.Around([&] { return inner_.OpenBinary(p); });
  }
  std::unique_ptr<updater::ports::BinaryFile> OpenAppend(const std::string& p) override {
    return kill_.Around([&] { return inner_.OpenAppend(p); });
  }
  std::int64_t FileLen(const std::string& p) override { return inner_.FileLen(p); }
  void Name(const std::string& from, const std::string& to) override {
    kill_.Around([&] { inner_.Name(from, to); });
  }
  void Kill(const std::string& p) override {
    kill_.Around([&] { inner_.Kill(p); });
  }
  std::unique_ptr<updater::ports::ReadableFile> OpenRead(const std::string& p) override {
    return inner_.OpenRead(p);
  }
  std::string Sha256(const std::string& p) override { return inner_.Sha256(p); }
  std::string ReadAll(const std::string& p) override { return inner_.ReadAll(p); }
  std::string AnsiToUtf8(const std::string& b) override { return inner_.AnsiToUtf8(b); }

 private:
  updater::ports::FileIO& inner_;
  KillSwitch& kill_;
};

class KillingShell : public updater::ports::Shell {
 public:
  KillingShell(updater::ports::Shell& inner, KillSwitch& kill) : inner_(inner), kill_(kill) {}
  std::int32_t SHFileOperation(updater::ports::ShellFileOperation& r) override {
    return kill_.Around([&] { return inner_.SHFileOperation(r); });
  }

 private:
  updater::ports::Shell& inner_;
  KillSwitch& kill_;
};

contract::UpdateServer& Server() {
  static contract::UpdateServer server;
  server.Ensure();
  return server;
}

class UpgradeTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "autoupdate upgrade 中文-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    work_ = pattern;
    P_ = work_ / "program";
    fs::create_directories(P_ / "tmp");
    fs::create_directories(P_ / "101");
    fs::create_directories(P_ / "102");
    fs::create_directories(P_ / "drive_c" / "Windows" / "System32");
    fs::copy_file(RAR_PATH, P_ / "rar.exe");
    fs::copy_file(REGSVR32_PATH, P_ / "regsvr32");
    WriteFile(P_ / "app.txt", "old app");
    regsvrLog_ = work_ / "regsvr32.log";
    ::setenv("AUTOUPDATE_REGSVR32_LOG", regsvrLog_.c_str(), 1);

    Sqlite db(P_ / "project.mdb");
    db.Exec("create table [system] (upserverurl TEXT(255), indatetime DATETIME)");
    db.Exec(
        "create table versions (version TEXT(50), updatetime TEXT(50), updatecmt TEXT(255), "
        "versionT TEXT(10))");
    db.Exec("create table projectList (project_No TEXT(50), project_URL TEXT(255))");
    db.Exec("insert into versions values ('1.0', '2020-01-01 00:00:00', 'old', '0')");
    db.Exec("insert into projectList values ('101', 'a'), ('102', 'b')");

    data_ = Server().Data();
    fs::remove(data_ / "fault");
    WriteFile(data_ / "version_no", "2.0");
    WriteFile(data_ / "update_time", "2024-05-06 07:08:09");
    WriteFile(data_ / "soft_cmt", kComment);

    source_ = work_ / "package";
    WriteFile(source_ / "app.txt", "new app");
    WriteFile(source_ / "initSystem" / "proj.ini", "[project]\n");
    WriteFile(source_ / "system32" / "other.dll", "other");
    fs::create_directories(source_ / "system32");
    fs::copy_file(COMPONENT_OK_PATH, source_ / "system32" / "evalcom.dll");

    backend_ = std::make_unique<updater::posix::PosixPlatform>(P_.string());
    pf().ui = &ui_;
    before_ = Snapshot(P_);
  }
  void TearDown() override {
    backend_.reset();
    fs::remove(data_ / "fault");
    fs::remove(data_ / "uploads" / "soft" / "setup.rar");
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  updater::Platform& pf() { return backend_->platform(); }
  std::string CoreP() const { return P_.string(); }

  void MakePackage(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {
        MAKE_PACKAGE_PATH, (data_ / "uploads" / "soft" / "setup.rar").string(), source_.string()};
    args.insert(args.end(), options.begin(), options.end());
    fs::create_directories(data_ / "uploads" / "soft");
    ASSERT_EQ(RunProgram(args), 0);
  }
  void Fault(const std::string& rule) { WriteFile(data_ / "fault", rule + "\n"); }

  std::unique_ptr<frmUpgrade> Window(const std::string& itemId = "") {
    auto w = std::make_unique<frmUpgrade>(pf());
    w->gcweb = Server().Url();
    w->item_id = itemId;
    w->strConnString = updater::LocalDatabase::ConnectionString(CoreP());
    return w;
  }
  // The version check, the download and the installation, as the button runs them.
  bool Upgrade(frmUpgrade& w) {
    EXPECT_TRUE(w.CheckVersion());
    w.DownloadPackage();
    bool ok = true;
    w.InstallPackage(CoreP() + "\\tmp\\setup.rar", ok);
    return ok;
  }
  std::vector<std::string> Versions() { return Sqlite(P_ / "project.mdb").Versions(); }
  void ExpectNothingInstalled() {
    EXPECT_EQ(Versions(), std::vector<std::string>{"1.0|2020-01-01 00:00:00|old|0"});
    auto after = Snapshot(P_);
    after.erase("project.mdb");
    auto before = before_;
    before.erase("project.mdb");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists(work_ / "evil.txt"));
  }

  // The program folder and the project folders: what an installation may change, the system
  // folder, the temporary folder and the database aside.
  std::map<std::string, std::string> Installed() {
    auto tree = Snapshot(P_);
    std::erase_if(tree, [](const auto& e) {
      return e.first == "project.mdb" || e.first.starts_with("drive_c");
    });
    return tree;
  }
  // Installs the package in P\tmp\setup.rar in a process of its own, ended at the chosen call
  // when kill.at is set; true when the process ran to its end.
  bool InstallInChild(KillSwitch kill) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      updater::posix::PosixPlatform backend(P_.string());
      updater::Platform& pf = backend.platform();
      RecordingUi ui;
      KillingFiles files(*pf.files, kill);
      KillingIo io(*pf.io, kill);
      KillingShell shell(*pf.shell, kill);
      pf.ui = &ui;
      pf.files = &files;
      pf.io = &io;
      pf.shell = &shell;
      frmUpgrade w(pf);
      w.strConnString = updater::LocalDatabase::ConnectionString(P_.string());
      w.Text1.Text = "2.0";
      bool ok = false;
      w.InstallPackage(P_.string() + "\\tmp\\setup.rar", ok);
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status) != KillSwitch::kKilled;
  }
  // A power cut at that point may leave the journal cut short or zero-filled: the next start
  // then deletes, moves and restores nothing.
  void PowerCut(int at) {
    const fs::path journal = P_ / "tmp.undo" / "journal";
    if (!fs::exists(journal)) return;
    const std::string whole = ReadFile(journal);
    const fs::path cut = work_ / "cut";
    for (const std::string& torn :
         {whole.substr(0, whole.size() / 2), std::string(whole.size(), '\0'), std::string()}) {
      fs::remove_all(cut);
      fs::copy(P_, cut, fs::copy_options::recursive);
      WriteFile(cut / "tmp.undo" / "journal", torn);
      const auto before = Snapshot(cut);
      updater::posix::PosixPlatform next(cut.string());
      updater::InstallJournal::Recover(next.platform(), cut.string());
      EXPECT_EQ(Snapshot(cut), before) << "a journal of " << torn.size() << " bytes, call " << at;
    }
    fs::remove_all(cut);
  }
  // Ends an installation at every call that changes files, before and after it; after each, the
  // next start's recovery must leave either the folders as they were or, once the copies stood,
  // as a finished installation leaves them.
  void KillAtEveryStep(bool canSucceed) {
    const fs::path pristine = work_ / "pristine";
    const fs::path package = work_ / "setup.rar";
    fs::copy(P_, pristine, fs::copy_options::recursive);
    ASSERT_EQ(RunProgram({MAKE_PACKAGE_PATH, package.string(), source_.string()}), 0);
    const auto reset = [&] {
      fs::remove_all(P_);
      fs::copy(pristine, P_, fs::copy_options::recursive);
      fs::copy_file(package, P_ / "tmp" / "setup.rar");
    };
    reset();
    EXPECT_TRUE(InstallInChild({}));
    const auto installed = Installed();
    EXPECT_EQ(installed == before_, !canSucceed);
    int ends = 0;
    for (const bool after : {false, true}) {
      for (int at = 1;; ++at) {
        reset();
        if (InstallInChild({at, after})) break;
        ++ends;
        PowerCut(at);
        updater::posix::PosixPlatform next(P_.string());
        updater::InstallJournal::Recover(next.platform(), P_.string());
        const auto now = Installed();
        EXPECT_TRUE(now == before_ || (canSucceed && now == installed))
            << "ended " << (after ? "after" : "before") << " call " << at;
        if (Versions().front().starts_with("2.0")) {
          EXPECT_EQ(now, installed) << "the version is recorded only over the new files";
        }
        EXPECT_FALSE(fs::exists(P_ / "tmp.undo")) << at;
      }
    }
    EXPECT_GT(ends, 10);
  }

  fs::path work_, P_, data_, source_, regsvrLog_;
  RecordingUi ui_;
  std::unique_ptr<updater::posix::PosixPlatform> backend_;
  std::map<std::string, std::string> before_;
};

TEST_F(UpgradeTest, TheVersionCheckComparesWithTheRowOfTheItemKind) {
  Sqlite(P_ / "project.mdb")
      .Exec("insert into versions values ('2.0', '2024-05-06 07:08:09', 'same', '1')");
  auto general = Window("");
  EXPECT_TRUE(general->CheckVersion());
  EXPECT_EQ(general->checkStatus.Value, 1);
  EXPECT_EQ(general->Text1.Text, "2.0");
  EXPECT_EQ(general->Text3.Text, kComment);

  auto item = Window("42");
  EXPECT_FALSE(item->CheckVersion()) << "the item row already holds the offered version";
  EXPECT_EQ(item->checkStatus.Value, 0);

  WriteFile(data_ / "version_no", "1.0");
  WriteFile(data_ / "update_time", "2020-01-01 00:00:00");
  EXPECT_FALSE(Window("")->CheckVersion()) << "up to date";
}

TEST_F(UpgradeTest, APackageIsInstalledEverywhereAndTheVersionRecordedOnce) {
  MakePackage();
  auto w = Window();
  EXPECT_TRUE(Upgrade(*w));
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages.front();
  EXPECT_EQ(ReadFile(P_ / "app.txt"), "new app");
  EXPECT_EQ(ReadFile(P_ / "101" / "proj.ini"), "[project]\n");
  EXPECT_EQ(ReadFile(P_ / "102" / "proj.ini"), "[project]\n");
  const fs::path system = P_ / "drive_c" / "Windows" / "System32";
  EXPECT_EQ(ReadFile(system / "other.dll"), "other");
  EXPECT_EQ(ReadFile(system / "evalcom.dll"), ReadFile(COMPONENT_OK_PATH));
  EXPECT_EQ(Versions(),
            std::vector<std::string>{std::string("2.0|2024-05-06 07:08:09|") + kComment + "|0"});
  EXPECT_EQ(w->ProgressBar2.Value, 100);
  EXPECT_FALSE(fs::exists(P_ / "tmp.undo")) << "nothing moved aside is left behind";

  // regsvr32 is not waited for: its log line comes when it has run.
  const auto start = Clock::now();
  while (ReadFile(regsvrLog_).empty() && Clock::now() - start < 10s) {
    std::this_thread::sleep_for(20ms);
  }
  const std::string log = ReadFile(regsvrLog_);
  EXPECT_NE(log.find((system / "evalcom.dll").string()), std::string::npos) << log;
  EXPECT_NE(log.find("-s"), std::string::npos) << log;
  EXPECT_NE(log.find("\t0\n"), std::string::npos) << "registered: " << log;

  // Renamed over: tmp keeps only what the later steps copy from, the program folder has it all.
  EXPECT_EQ(ReadFile(P_ / "setup.rar"), ReadFile(data_ / "uploads" / "soft" / "setup.rar"));
  EXPECT_FALSE(fs::exists(P_ / "tmp" / "setup.rar"));
  EXPECT_EQ(ReadFile(P_ / "initSystem" / "proj.ini"), "[project]\n");
  EXPECT_EQ(ReadFile(P_ / "system32" / "other.dll"), "other");
  EXPECT_EQ(ReadFile(P_ / "tmp" / "system32" / "other.dll"), "other");

  // Installing the same package again overwrites the row instead of adding one.
  fs::copy_file(P_ / "setup.rar", P_ / "tmp" / "setup.rar");
  bool ok = false;
  w->InstallPackage(CoreP() + "\\tmp\\setup.rar", ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Versions().size(), 1u);
}

// The renames leave every folder as the shell's copy of tmp\*.* over the program folder left
// it, file modes included: replaced files, new folders, names differing in case from the folder
// they merge into, an empty folder.
TEST_F(UpgradeTest, TheRenamedInstallationEndsAsTheCopyLeftEverything) {
  WriteFile(P_ / "data" / "scores.db", "old scores");
  WriteFile(P_ / "data" / "kept.txt", "kept");
  WriteFile(P_ / "ro.txt", "old ro");
  WriteFile(source_ / "DATA" / "scores.db", "new scores");
  WriteFile(source_ / "deep" / "a" / "b" / "c.txt", "c");
  WriteFile(source_ / "ro.txt", "new ro");
  WriteFile(source_ / "run.sh", "#!/bin/sh\n");
  fs::permissions(source_ / "ro.txt", fs::perms::owner_write, fs::perm_options::remove);
  fs::permissions(source_ / "run.sh", fs::perms::owner_exec, fs::perm_options::add);
  fs::create_directories(source_ / "empty");
  const fs::path package = work_ / "setup.rar";
  ASSERT_EQ(RunProgram({MAKE_PACKAGE_PATH, package.string(), source_.string()}), 0);
  const fs::path twin = work_ / "twin";
  fs::copy(P_, twin, fs::copy_options::recursive);
  for (const fs::path& folder : {P_, twin}) fs::copy_file(package, folder / "tmp" / "setup.rar");

  // The copy, as the installation made it before: unpacked, then tmp\*.* and initSystem copied.
  {
    updater::posix::PosixPlatform backend(twin.string());
    const std::string T = twin.string();
    ASSERT_EQ(updater::Module1::RunAndWait(
                  backend.platform(),
                  "\"" + T + "\\rar.exe\" x \"" + T + "\\tmp\\setup.rar\" \"" + T + "\\tmp\" -y"),
              0u);
    updater::CFileSystem fs(backend.platform());
    ASSERT_EQ(fs.CopyFolderOrFile(T + "\\tmp\\*.*", T + "\\"), 0);
    for (const char* project : {"101", "102"}) {
      ASSERT_EQ(fs.CopyFolderOrFile(T + "\\tmp\\initSystem\\", T + "\\" + project + "\\"), 0);
    }
  }
  EXPECT_TRUE(InstallInChild({}));
  const auto withModes = [](const fs::path& root) {
    auto tree = Snapshot(root);
    std::erase_if(tree, [](const auto& e) {
      return e.first == "project.mdb" || e.first.starts_with("drive_c");
    });
    for (auto& [name, content] : tree) {
      content += " " + std::to_string(static_cast<int>(fs::status(root / name).permissions()));
    }
    return tree;
  };
  EXPECT_EQ(withModes(P_), withModes(twin));
  EXPECT_EQ(ReadFile(P_ / "data" / "scores.db"), "new scores");
  EXPECT_TRUE(fs::exists(P_ / "tmp" / "initSystem" / "proj.ini")) << "still there for the projects";
}

TEST_F(UpgradeTest, ADownloadCutShortInstallsNothing) {
  MakePackage();
  Fault("setup.rar short 3000");
  auto w = Window();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"升级包下载不完整，请稍后重试！"});
  EXPECT_FALSE(fs::exists(P_ / "tmp" / "setup.rar"));
  EXPECT_EQ(w->Label2.Caption, "升级失败，解压升级包失败。");
  EXPECT_EQ(ReadFile(P_ / "tmp.part" / "setup.rar").size(), 3000u) << "kept for the next try";
  ExpectNothingInstalled();
}

TEST_F(UpgradeTest, AStallingServerEndsTheDownloadAtTheStallLimitAndInstallsNothing) {
  MakePackage();
  Fault("setup.rar stall 3000 30000");
  updater::TransferLimits limits;
  limits.stall = 1s;
  updater::posix::PathMapper mapper(P_);
  updater::posix::PosixFileIO io(mapper, limits);
  pf().io = &io;
  auto w = Window();
  const auto start = Clock::now();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"升级包下载不完整，请稍后重试！"});
  ExpectNothingInstalled();
}

TEST_F(UpgradeTest, ACorruptOrHostilePackageInstallsNothing) {
  MakePackage({"--truncate", "200"});
  EXPECT_FALSE(Upgrade(*Window()));
  ExpectNothingInstalled();

  MakePackage({"--add-entry", "../evil.txt=evil"});
  auto w = Window();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_EQ(w->Label2.Caption, "升级失败，解压升级包失败。");
  EXPECT_FALSE(fs::exists(P_ / "evil.txt"));
  ExpectNothingInstalled();
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(UpgradeTest, WithoutTheArchiverTheInstallationStopsAtOnce) {
  MakePackage();
  fs::remove(P_ / "rar.exe");
  before_ = Snapshot(P_);
  auto w = Window();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_EQ(w->Label2.Caption, "升级失败，缺少rar.exe。");
  EXPECT_TRUE(fs::exists(P_ / "tmp" / "setup.rar"));
  ExpectNothingInstalled();
}

TEST_F(UpgradeTest, WindowEventsAreServedAtLeastEvery100MsDuringASlowDownload) {
  MakePackage();
  WriteFile(data_ / "uploads" / "soft" / "setup.rar", std::string(200000, 'x'));
  Fault("setup.rar stall 100000 1500");
  auto w = Window();
  const auto start = Clock::now();
  w->DownloadPackage();
  const auto end = Clock::now();
  EXPECT_GE(end - start, 1400ms);
  std::vector<Clock::time_point> times = {start};
  times.insert(times.end(), ui_.events.begin(), ui_.events.end());
  times.push_back(end);
  Clock::duration longest{};
  for (std::size_t i = 1; i < times.size(); ++i)
    longest = std::max(longest, times[i] - times[i - 1]);
  EXPECT_LT(longest, 100ms) << std::chrono::duration<double, std::milli>(longest).count() << " ms";
}

// The case: the package holds a file zz where the program folder has a folder zz. The
// copy is refused before anything changes, with the message of a failed copy, and the run goes
// on as before (projects, whose copies are put back, system folder, no version).
TEST_F(UpgradeTest, APackageFileMeetingAFolderChangesNothingAndSaysTheCopyFailed) {
  WriteFile(P_ / "a.txt", "a 1.0");
  WriteFile(P_ / "m.txt", "m 1.0");
  WriteFile(P_ / "zz" / "inside.txt", "inside");
  WriteFile(P_ / "101" / "proj.ini", "old project");
  const auto before = Installed();
  WriteFile(source_ / "a.txt", "a 2.0");
  WriteFile(source_ / "m.txt", "m 2.0");
  WriteFile(source_ / "n_new.txt", "new");
  WriteFile(source_ / "zz", "a file where a folder is");
  MakePackage();
  auto w = Window();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"软件升级失败！错误：文件复制失败！"});
  EXPECT_EQ(w->ProgressBar2.Value, 100);
  EXPECT_EQ(ReadFile(P_ / "drive_c" / "Windows" / "System32" / "other.dll"), "other")
      << "the system folder stays as written";
  EXPECT_TRUE(Installed() == before);  // not EXPECT_EQ: the programs' bytes are no reading
  EXPECT_EQ(Versions(), std::vector<std::string>{"1.0|2020-01-01 00:00:00|old|0"});
}

// A package that would write into the temporary or the undo folder is refused as a clash is.
TEST_F(UpgradeTest, APackageNamingTheUndoOrTheTemporaryFolderChangesNothing) {
  WriteFile(P_ / "101" / "proj.ini", "old project");
  const auto before = Installed();
  for (const char* entry : {"tmp.undo/journal", "TMP.UNDO/0/1", "tmp/x"}) {
    SCOPED_TRACE(entry);
    fs::remove_all(source_);
    WriteFile(source_ / "app.txt", "new app");
    WriteFile(source_ / "initSystem" / "proj.ini", "[project]\n");
    WriteFile(source_ / entry, "C\t\tproject.mdb\n");
    MakePackage();
    ui_.messages.clear();
    EXPECT_FALSE(Upgrade(*Window()));
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"软件升级失败！错误：文件复制失败！"});
    EXPECT_TRUE(Installed() == before);
    EXPECT_EQ(Versions(), std::vector<std::string>{"1.0|2020-01-01 00:00:00|old|0"});
  }
}

TEST_F(UpgradeTest, AFailedCopyIntoTheThirdProjectPutsBackTheFirstTwoAndTheProgramFolder) {
  Sqlite(P_ / "project.mdb").Exec("insert into projectList values ('103', 'c')");
  WriteFile(P_ / "103", "a file where the project folder is");
  WriteFile(P_ / "102" / "proj.ini", "old project");
  before_ = Snapshot(P_);
  MakePackage();
  auto w = Window();
  EXPECT_FALSE(Upgrade(*w));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"软件升级失败！错误：文件复制失败！"});
  EXPECT_EQ(w->ProgressBar2.Value, 0);
  ExpectNothingInstalled();
}

TEST_F(UpgradeTest, AnUpdaterEndedAtAnyStepIsPutRightByTheNextStart) {
  WriteFile(P_ / "101" / "proj.ini", "old project");
  WriteFile(P_ / "app.txt", "old app");
  WriteFile(source_ / "docs" / "new" / "n.txt", "a new folder, made and filled on the way in");
  before_ = Installed();
  KillAtEveryStep(true);
}

// A program folder cut off midway and then copied elsewhere (a backup restored, a second install
// made by copying): the copy's start puts the copy back, and leaves the original as it was.
TEST_F(UpgradeTest, ACopiedProgramFolderPutsBackItselfNotTheOriginal) {
  WriteFile(P_ / "101" / "proj.ini", "old project");
  before_ = Installed();
  const fs::path package = work_ / "setup.rar";
  ASSERT_EQ(RunProgram({MAKE_PACKAGE_PATH, package.string(), source_.string()}), 0);
  fs::copy_file(package, P_ / "tmp" / "setup.rar");
  const fs::path pristine = work_ / "pristine";
  fs::copy(P_, pristine, fs::copy_options::recursive);
  // Ended right after the copy over the program folder.
  for (int at = 1; ReadFile(P_ / "app.txt") != "new app"; ++at) {
    fs::remove_all(P_);
    fs::copy(pristine, P_, fs::copy_options::recursive);
    ASSERT_FALSE(InstallInChild({at, true})) << "ran to its end";
  }
  ASSERT_TRUE(fs::exists(P_ / "tmp.undo" / "journal"));
  const auto cutOff = Snapshot(P_);
  const fs::path copy = work_ / "copy";
  fs::copy(P_, copy, fs::copy_options::recursive);
  updater::posix::PosixPlatform next(copy.string());
  EXPECT_TRUE(updater::InstallJournal::Recover(next.platform(), copy.string()));
  EXPECT_EQ(Snapshot(P_), cutOff) << "the original is not the copy's to put back";
  auto restored = Snapshot(copy);
  std::erase_if(restored, [](const auto& e) {
    return e.first == "project.mdb" || e.first.starts_with("drive_c");
  });
  EXPECT_EQ(restored, before_);
}

TEST_F(UpgradeTest, AnUpdaterEndedWhileItPutsBackAFailedCopyIsPutRightByTheNextStart) {
  Sqlite(P_ / "project.mdb").Exec("insert into projectList values ('103', 'c')");
  WriteFile(P_ / "103", "a file where the project folder is");
  WriteFile(P_ / "101" / "proj.ini", "old project");
  before_ = Installed();
  KillAtEveryStep(false);
}

}  // namespace
