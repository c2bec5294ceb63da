// The posix stand-ins of the archiver and of regsvr32, and the package maker, run as real
// processes on real temporary folders.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Result {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

// Every file, folder and link below root by relative path: a file maps to its content, a folder
// to "<dir>", a link to "-> target".
using Tree = std::map<std::string, std::string>;

Tree Snapshot(const fs::path& root) {
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink()) {
      tree[name] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[name] = "<dir>";
    } else {
      tree[name] = Read(it->path());
    }
  }
  return tree;
}

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class ToolsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tools-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "io");
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  Result Run(std::vector<std::string> args, const std::vector<std::string>& extra_env = {},
             const fs::path& cwd = {}) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text(extra_env);
    for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const fs::path out = dir_ / "io" / "stdout";
    const fs::path err = dir_ / "io" / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Result result;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << args[0];
      return result;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = Read(out);
    result.err = Read(err);
    return result;
  }

  fs::path dir_;
};

// ---------------------------------------------------------------------------------------------
// rar and make-package

class RarTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    source_ = dir_ / "source";
    dest_ = dir_ / "P" / "tmp";
    outside_ = dir_ / "outside";
    std::mt19937 random(7);
    std::string binary(300 * 1024, '\0');
    for (char& c : binary) c = static_cast<char>(random() % 256);
    Write(source_ / "Trainova.dll", binary);
    Write(source_ / "readme.txt", "new\n");
    Write(source_ / "initSystem" / "题库" / "第一章.txt", "中文内容\r\n");
    Write(source_ / "initSystem" / "config.xml", "<config/>");
    Write(source_ / "system32" / "evalcom.dll", binary.substr(1000, 5000));
    fs::create_directories(source_ / "empty");
    fs::create_directories(outside_);
    Write(outside_ / "target.txt", "keep");
  }

  fs::path MakePackage(const std::string& format, std::vector<std::string> extra = {}) {
    const fs::path package = dir_ / ("setup-" + format + ".rar");
    std::vector<std::string> args = {MAKE_PACKAGE_PATH, package.string(), source_.string(),
                                     "--format", format};
    args.insert(args.end(), extra.begin(), extra.end());
    const Result made = Run(args);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    return package;
  }

  Result Extract(const fs::path& package, const fs::path& dest) {
    return Run({RAR_PATH, "x", package.string(), dest.string(), "-y"});
  }

  // Everything in the test folder except the destination and the captured output.
  Tree OutsideDestination() {
    Tree tree = Snapshot(dir_);
    std::erase_if(tree, [](const auto& item) {
      return item.first.starts_with("P/tmp") || item.first.starts_with("io");
    });
    return tree;
  }

  fs::path source_, dest_, outside_;
};

class RarFormatTest : public RarTest, public testing::WithParamInterface<std::string> {};

TEST_P(RarFormatTest, ExtractsEveryEntryExactlyAndOverwrites) {
  const fs::path package = MakePackage(GetParam());
  Write(dest_ / "readme.txt", "the old readme, longer than the new one\n");
  Write(dest_ / "initSystem" / "config.xml", "<old/>");
  Write(dest_ / "unrelated.txt", "stays");

  const Result result = Extract(package, dest_);

  ASSERT_EQ(result.exit_code, 0) << result.err;
  Tree expected = Snapshot(source_);
  expected["unrelated.txt"] = "stays";
  EXPECT_EQ(Snapshot(dest_), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, RarFormatTest, testing::Values("zip", "7z", "tar", "tgz"));

TEST_F(RarTest, AcceptsTheCommandLineInItsForms) {
  const fs::path package = MakePackage("zip");
  const std::string dest = dest_.string();
  const std::vector<std::vector<std::string>> forms = {
      {"x", package.string(), dest + "/", "-y"},
      {"X", "-Y", package.string(), dest},
      {"x", package.string(), "-y", dest},
  };
  for (const auto& form : forms) {
    fs::remove_all(dest_.parent_path());
    fs::create_directories(dest_);
    std::vector<std::string> args = {RAR_PATH};
    args.insert(args.end(), form.begin(), form.end());
    const Result result = Run(args);
    EXPECT_EQ(result.exit_code, 0) << testing::PrintToString(form) << result.err;
    EXPECT_EQ(Read(dest_ / "readme.txt"), "new\n") << testing::PrintToString(form);
  }

  // Relative names are taken from where the archiver was started; a missing last folder of the
  // destination is created.
  fs::remove_all(dest_.parent_path());
  fs::create_directories(dest_.parent_path());
  fs::rename(package, dir_ / "setup.rar");
  const Result relative = Run({RAR_PATH, "x", "setup.rar", "P/tmp", "-y"}, {}, dir_);
  EXPECT_EQ(relative.exit_code, 0) << relative.err;
  EXPECT_EQ(Read(dest_ / "initSystem" / "题库" / "第一章.txt"), "中文内容\r\n");

  // Only the last folder: a missing parent is an error.
  const Result orphan = Extract(dir_ / "setup.rar", dir_ / "missing" / "tmp");
  EXPECT_NE(orphan.exit_code, 0);
  EXPECT_EQ(CountLines(orphan.err), 1) << orphan.err;
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

// Windows archivers separate folders with backslashes; links that stay inside are kept.
TEST_F(RarTest, BackslashesSeparateFoldersAndInnerLinksAreKept) {
  const fs::path package = MakePackage("tar", {"--add-entry", "initSystem\\题库\\b.txt=b",
                                               "--add-symlink", "initSystem/latest=../readme.txt"});
  fs::create_directories(dest_);
  const Result result = Extract(package, dest_);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Read(dest_ / "initSystem" / "题库" / "b.txt"), "b");
  EXPECT_EQ(fs::read_symlink(dest_ / "initSystem" / "latest"), "../readme.txt");
}

TEST_F(RarTest, KeepsExistingFilesWithoutYes) {
  const fs::path package = MakePackage("zip");
  Write(dest_ / "readme.txt", "old");
  const Result result = Run({RAR_PATH, "x", package.string(), dest_.string()});
  EXPECT_NE(result.exit_code, 0);
  EXPECT_EQ(Read(dest_ / "readme.txt"), "old");
}

TEST_F(RarTest, FailsOnMissingDamagedAndTruncatedArchives) {
  fs::create_directories(dest_);
  Write(dir_ / "empty.rar", "");
  Write(dir_ / "page.rar", "<html><body>404</body></html>\n");
  std::vector<fs::path> broken = {dir_ / "missing.rar", dir_ / "empty.rar", dir_ / "page.rar"};
  for (const std::string format : {"zip", "7z", "tar"}) {
    const fs::path whole = MakePackage(format);
    const std::string bytes = Read(whole);
    const fs::path truncated = dir_ / ("truncated-" + format + ".rar");
    ASSERT_EQ(Run({MAKE_PACKAGE_PATH, truncated.string(), source_.string(), "--format", format,
                   "--truncate", std::to_string(bytes.size() / 2)})
                  .exit_code,
              0);
    ASSERT_EQ(fs::file_size(truncated), bytes.size() / 2);
    broken.push_back(truncated);
    if (format != "tar") {  // tar keeps no checksum of the data
      std::string flipped = bytes;
      flipped[flipped.size() / 2] ^= 0x55;
      Write(dir_ / ("flipped-" + format + ".rar"), flipped);
      broken.push_back(dir_ / ("flipped-" + format + ".rar"));
    }
    fs::remove(whole);
  }
  const Tree packages = OutsideDestination();

  for (const fs::path& package : broken) {
    const Result result = Extract(package, dest_);
    EXPECT_NE(result.exit_code, 0) << package;
    EXPECT_EQ(CountLines(result.err), 1) << package << ": " << result.err;
    EXPECT_EQ(OutsideDestination(), packages) << package;
  }
  // A missing archive does not even create the destination.
  fs::remove_all(dest_);
  EXPECT_NE(Extract(dir_ / "missing.rar", dest_).exit_code, 0);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(RarTest, RejectsUnknownCommandsAndSwitches) {
  const fs::path package = MakePackage("zip");
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"e", package.string(), dest_.string(), "-y"},
      {"x", package.string(), dest_.string(), "-o+"},
      {"x", package.string(), "-y"},
      {"x", package.string(), dest_.string(), "extra", "-y"},
  };
  for (const auto& line : lines) {
    std::vector<std::string> args = {RAR_PATH};
    args.insert(args.end(), line.begin(), line.end());
    const Result result = Run(args);
    EXPECT_NE(result.exit_code, 0) << testing::PrintToString(line);
    EXPECT_EQ(CountLines(result.err), 1) << testing::PrintToString(line);
  }
  EXPECT_FALSE(fs::exists(dest_));
}

struct Hostile {
  std::string label;
  std::string format;
  std::vector<std::string> options;  // "{OUT}" stands for the absolute path of outside_
};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.label; }

class RarRefusalTest : public RarTest, public testing::WithParamInterface<Hostile> {};

TEST_P(RarRefusalTest, RefusesEntriesLeavingTheDestination) {
  std::vector<std::string> options;
  for (std::string option : GetParam().options) {
    if (const size_t at = option.find("{OUT}"); at != std::string::npos) {
      option.replace(at, 5, outside_.string());
    }
    options.push_back(option);
  }
  const fs::path package = MakePackage(GetParam().format, options);
  fs::create_directories(dest_);
  const Tree before = OutsideDestination();

  const Result result = Extract(package, dest_);

  EXPECT_NE(result.exit_code, 0);
  EXPECT_EQ(CountLines(result.err), 1) << result.err;
  EXPECT_EQ(OutsideDestination(), before);
  for (const auto& [name, content] : Snapshot(dest_)) {
    EXPECT_FALSE(content.starts_with("-> ")) << name << " is a link left behind";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RarRefusalTest,
    testing::Values(Hostile{"DotDot", "zip", {"--add-entry", "../evil.txt=x"}},
                    Hostile{"DotDotInside", "tar", {"--add-entry", "sub/../../evil.txt=x"}},
                    Hostile{"BackslashDotDot", "zip", {"--add-entry", "..\\..\\evil.txt=x"}},
                    Hostile{"AbsoluteZip", "zip", {"--add-entry", "{OUT}/abs.txt=x"}},
                    Hostile{"AbsoluteTar", "tar", {"--add-entry", "{OUT}/target.txt=x"}},
                    Hostile{"SymlinkAbsolute",
                            "tar",
                            {"--add-symlink", "link={OUT}", "--add-entry", "link/evil.txt=x"}},
                    Hostile{
                        "SymlinkRelative",
                        "zip",
                        {"--add-symlink", "link=../../outside", "--add-entry", "link/evil.txt=x"}},
                    Hostile{"Fifo", "tar", {"--add-fifo", "pipe"}}),
    [](const testing::TestParamInfo<Hostile>& info) { return info.param.label; });

TEST_F(RarTest, DoesNotWriteThroughLinksAlreadyInTheDestination) {
  const fs::path through = MakePackage("tar", {"--add-entry", "lnk/evil.txt=x"});
  const fs::path plain = MakePackage("zip");
  fs::create_directories(dest_);
  fs::create_directory_symlink(outside_, dest_ / "lnk");
  const Tree before = OutsideDestination();
  EXPECT_NE(Extract(through, dest_).exit_code, 0);
  EXPECT_FALSE(fs::exists(outside_ / "evil.txt"));

  // A link in the place of a packaged file is replaced, its target left alone.
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  fs::create_symlink(outside_ / "target.txt", dest_ / "readme.txt");
  EXPECT_EQ(Extract(plain, dest_).exit_code, 0);
  EXPECT_FALSE(fs::is_symlink(dest_ / "readme.txt"));
  EXPECT_EQ(Read(dest_ / "readme.txt"), "new\n");
  EXPECT_EQ(OutsideDestination(), before);
}

// ---------------------------------------------------------------------------------------------
// regsvr32

class Regsvr32Test : public ToolsTest {
 protected:
  // The component under the name the updater registers.
  fs::path Install(const std::string& module) {
    const fs::path system = dir_ / "System32";
    fs::create_directories(system);
    fs::copy_file(module, system / "evalcom.dll", fs::copy_options::overwrite_existing);
    return system / "evalcom.dll";
  }

  Result Regsvr32(const std::vector<std::string>& args, std::vector<std::string> env = {},
                  const fs::path& cwd = {}) {
    std::vector<std::string> argv = {REGSVR32_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back("TEST_COMPONENT_LOG=" + (dir_ / "calls").string());
    return Run(argv, env, cwd);
  }

  std::string Calls() { return Read(dir_ / "calls"); }
};

TEST_F(Regsvr32Test, RunsDllRegisterServerAndReportsOneLine) {
  const fs::path dll = Install(COMPONENT_OK_PATH);
  const Result result = Regsvr32({dll.string()});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(CountLines(result.out), 1);
  EXPECT_NE(result.out.find("DllRegisterServer"), std::string::npos) << result.out;
  EXPECT_EQ(Calls(), "DllRegisterServer\n");
}

TEST_F(Regsvr32Test, SwitchesAnywhereInEitherFormAndCase) {
  const fs::path dll = Install(COMPONENT_OK_PATH);
  EXPECT_EQ(Regsvr32({dll.string(), "-s"}).out, "");
  EXPECT_EQ(Regsvr32({"/S", dll.string()}).out, "");
  const Result unregister = Regsvr32({"/u", dll.string(), "-S"});
  EXPECT_EQ(unregister.exit_code, 0);
  EXPECT_EQ(unregister.out, "");
  EXPECT_EQ(Calls(), "DllRegisterServer\nDllRegisterServer\nDllUnregisterServer\n");
}

TEST_F(Regsvr32Test, BareNameIsTakenFromTheCurrentFolder) {
  const fs::path dll = Install(COMPONENT_OK_PATH);
  EXPECT_EQ(Regsvr32({"evalcom.dll", "-s"}, {}, dll.parent_path()).exit_code, 0);
  EXPECT_EQ(Calls(), "DllRegisterServer\n");
}

TEST_F(Regsvr32Test, ExitCodesTellFailuresApart) {
  // The component returns E_FAIL: a 32-bit HRESULT, negative only when read as 32 bits.
  const Result failing = Regsvr32({Install(COMPONENT_FAILING_PATH).string()});
  EXPECT_EQ(failing.exit_code, 5);
  EXPECT_NE(failing.out.find("0x80004005"), std::string::npos) << failing.out;
  EXPECT_EQ(Calls(), "DllRegisterServer\n");

  const Result no_export = Regsvr32({Install(COMPONENT_NO_EXPORT_PATH).string()});
  EXPECT_EQ(no_export.exit_code, 4);
  EXPECT_EQ(CountLines(no_export.out), 1);

  Write(dir_ / "text.dll", "not a library\n");
  EXPECT_EQ(Regsvr32({(dir_ / "text.dll").string()}).exit_code, 3);
  const Result missing = Regsvr32({"-s", (dir_ / "missing.dll").string()});
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_EQ(missing.out, "");

  EXPECT_EQ(Regsvr32({}).exit_code, 1);
  EXPECT_EQ(Regsvr32({"-x", (dir_ / "text.dll").string()}).exit_code, 1);
  EXPECT_EQ(Regsvr32({"a.dll", "b.dll"}).exit_code, 1);
  EXPECT_EQ(Calls(), "DllRegisterServer\n");  // nothing else ran
}

TEST_F(Regsvr32Test, AppendsOneLogLinePerCall) {
  const fs::path dll = Install(COMPONENT_OK_PATH);
  const std::string log = "AUTOUPDATE_REGSVR32_LOG=" + (dir_ / "regsvr32.log").string();
  EXPECT_EQ(Regsvr32({dll.string(), "-s"}, {log}).exit_code, 0);
  EXPECT_EQ(Regsvr32({"-u", (dir_ / "missing.dll").string()}, {log}).exit_code, 3);
  EXPECT_EQ(Read(dir_ / "regsvr32.log"),
            dll.string() + "\t-s\t0\n-u\t" + (dir_ / "missing.dll").string() + "\t3\n");
}

}  // namespace
