// The support log file of each backend: one per program folder, UTF-8 lines with time and
// process, bounded with one older file kept, and never a reason to fail.
#include <regex>

#include "contract/fixture.h"

namespace contract {
namespace {

class SupportLog : public ContractTest {
 protected:
  std::unique_ptr<updater::ports::SupportLog> Log(const std::string& prog, const std::string& at) {
    MakeDirs(prog);
    return TheEnv().NewSupportLog(P(prog), P(at));
  }
};

TEST_F(SupportLog, EachProgramFolderHasOneFileOfUtf8LinesWithTimeAndProcess) {
  auto first = Log("程序 one", "logs");
  first->Write("start 中文");
  first->Write("two\r\nlines\tand \x01 \xff");
  auto again = Log("程序 one", "logs");  // a later run of the same folder
  again->Write("next run");
  Log("other", "logs")->Write("other folder");

  const std::vector<std::string> files = Tree("logs");
  ASSERT_EQ(files.size(), 2u);
  std::string mine;
  for (const auto& name : files) {
    EXPECT_TRUE(std::regex_match(name, std::regex("autoupdate-[0-9a-f]{16}\\.log"))) << name;
    const std::string text = Read("logs\\" + name).value_or("");
    if (text.find("start") != std::string::npos) mine = text;
  }
  const std::string head = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4} \[\d+\] )";
  EXPECT_TRUE(std::regex_match(
      mine, std::regex(head + "start 中文\n" + head + R"(two\\r\\nlines and \? \?)" + "\n" + head +
                       "next run\n")))
      << mine;

  if (windows()) {  // the folder's name in other letters is the same folder
    Log("程序 ONE", "logs")->Write("upper");
    EXPECT_EQ(Tree("logs").size(), 2u);
  }
}

TEST_F(SupportLog, AFullLogMakesWayKeepingOneOlderFile) {
  auto log = Log("prog", "logs");
  const std::string line(10000, 'x');
  for (int i = 0; i < 250; ++i) log->Write(std::to_string(i) + " " + line);
  const std::vector<std::string> files = Tree("logs");
  ASSERT_EQ(files.size(), 2u);
  for (const auto& name : files) {
    const std::string text = Read("logs\\" + name).value_or("");
    EXPECT_LE(text.size(), 1024u * 1024u) << name;
    const bool old = name.find(".old.log") != std::string::npos;
    if (old) {
      EXPECT_GT(text.size(), 1000u * 1024u) << name;  // filled before it made way
    }
    // The newest line is in the current file, the lines before it in the older one.
    EXPECT_EQ(text.find("] 249 x") != std::string::npos, !old) << name;
  }
}

TEST_F(SupportLog, ALogThatCannotBeWrittenIsSkipped) {
  // Never in the program folder: the installation keeps that folder whole.
  Log("prog", "prog\\state")->Write("inside");
  if (windows()) Log("prog", "PROG\\state")->Write("inside");
  EXPECT_TRUE(Tree("prog").empty());

  Write("blocked", "a file where the log's folder would be");
  auto log = Log("prog", "blocked\\logs");
  log->Write("nowhere");
  log->Write("still nowhere");
  EXPECT_EQ(Read("blocked"), "a file where the log's folder would be");
}

}  // namespace
}  // namespace contract
