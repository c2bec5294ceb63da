#include "contract/fixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace contract {

namespace fs = std::filesystem;

void ContractTest::SetUp() { root_ = TheEnv().NewScratchFolder(); }

void ContractTest::TearDown() {
  std::error_code ec;
  fs::remove_all(TheEnv().Host(root_), ec);
}

std::string ContractTest::HostText(const std::string& rel) const {
  const std::u8string s = Host(rel).u8string();
  return std::string(s.begin(), s.end());
}

void ContractTest::Write(const std::string& rel, const std::string& bytes) {
  const fs::path p = Host(rel);
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
  ASSERT_TRUE(f.good()) << rel;
}

std::optional<std::string> ContractTest::Read(const std::string& rel) const {
  std::ifstream f(Host(rel), std::ios::binary);
  if (!f) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void ContractTest::MakeDirs(const std::string& rel) { fs::create_directories(Host(rel)); }

bool ContractTest::IsFile(const std::string& rel) const { return fs::is_regular_file(Host(rel)); }
bool ContractTest::IsDir(const std::string& rel) const { return fs::is_directory(Host(rel)); }
bool ContractTest::Exists(const std::string& rel) const { return fs::exists(Host(rel)); }

std::vector<std::string> ContractTest::Tree(const std::string& rel) const {
  std::vector<std::string> out;
  const fs::path base = Host(rel);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const std::u8string r = it->path().lexically_relative(base).generic_u8string();
    std::string s(r.begin(), r.end());
    std::error_code loop;  // a link leading to itself is no folder
    if (it->is_directory(loop)) s += '/';
    out.push_back(s);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace contract
