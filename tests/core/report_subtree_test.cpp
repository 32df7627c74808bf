#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/report_command.h"
#include "cli/tree_json.h"
#include "scan_tree_fixture.h"
#include "settings/settings.h"

namespace orbelan {
namespace {

using testing::TempTree;

struct SubtreeReport {
  Settings settings;
  std::ostringstream out, err;

  int Run(const std::vector<std::string>& args) {
    ReportContext context;
    context.settings = &settings;
    context.out = &out;
    context.err = &err;
    context.today = 46'000;
    return RunReport(args, context);
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A project whose own folders are small but whose whole is not: listed with --subtree only,
// and with the figures of everything below it.
TEST(ReportSubtree, RowsShowSubtreeFiguresAndTheMinimumSizeAppliesToThem) {
  TempTree tree;
  for (const char* d : {"proj", "proj/a", "proj/b", "proj/b/c", "big"}) tree.Dir(d);
  tree.File("proj/a/x.txt", 900);
  tree.File("proj/b/y.txt", 900);
  tree.File("proj/b/c/z.zip", 900);
  tree.File("big/w.txt", 5000);

  SubtreeReport own;
  own.settings.ZipExts.Append(".zip");
  ASSERT_EQ(own.Run({"--csv", tree.Root()}), kReportOk);
  const auto ownLines = Lines(own.out.str());
  ASSERT_EQ(ownLines.size(), 2u);  // only big/ holds more than 1 KiB of its own
  EXPECT_NE(ownLines[1].find("/big/"), std::string::npos);

  SubtreeReport sub;
  sub.settings.ZipExts.Append(".zip");
  ASSERT_EQ(sub.Run({"--csv", "--subtree", "--sort", "-2", tree.Root()}), kReportOk);
  const auto lines = Lines(sub.out.str());
  ASSERT_EQ(lines.size(), 5u) << sub.out.str();  // root, big, proj, proj/b
  EXPECT_EQ(lines[0].substr(lines[0].size() - 8), ",folders");
  // By Unzipped, descending: the root, big, proj (1,800 unzipped), proj/b (900, listed for
  // its 1,800 bytes with the archive).
  auto fields = [&](std::size_t line) {
    std::vector<std::string> out(1);
    for (char c : lines[line]) {
      if (c == ',') out.emplace_back(); else out.back().push_back(c);
    }
    return out;
  };
  // path,files,bytes,zip_files,zip_bytes,ignored_files,ignored_bytes,newest,unzipped,percent,
  // priority,age,folders
  const auto rootFields = fields(1);
  ASSERT_EQ(rootFields.size(), 13u);
  EXPECT_EQ(rootFields[0], tree.RootSlash());
  EXPECT_EQ(rootFields[1], "4");
  EXPECT_EQ(rootFields[2], "7700");
  EXPECT_EQ(rootFields[8], "6800");
  EXPECT_EQ(rootFields[9], "12");
  EXPECT_EQ(rootFields[12], "6");
  const auto proj = fields(3);
  EXPECT_EQ(proj[0], tree.PathOf("proj/"));
  EXPECT_EQ(proj[1], "3");
  EXPECT_EQ(proj[2], "2700");
  EXPECT_EQ(proj[4], "900");
  EXPECT_EQ(proj[8], "1800");
  EXPECT_EQ(proj[9], "33");
  EXPECT_EQ(proj[12], "4");
  EXPECT_EQ(lines[4].substr(0, lines[4].find(',')), tree.PathOf("proj/b/"));

  SubtreeReport table;
  ASSERT_EQ(table.Run({"--subtree", tree.Root()}), kReportOk);
  EXPECT_NE(table.out.str().find(tree.PathOf("proj/")), std::string::npos);
}

TEST(ReportSubtree, CsvAndJsonTogetherAreRefused) {
  SubtreeReport report;
  EXPECT_EQ(report.Run({"--csv", "--json", "/"}), kReportUsage);
  EXPECT_NE(report.err.str().find("--csv and --json"), std::string::npos);
}

TEST(TreeJson, NamesAreValidUtf8AndBytesThatAreNotComeBackFromNameBytes) {
  EXPECT_TRUE(IsUtf8("plain \xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xA6"));
  EXPECT_FALSE(IsUtf8("\xFF"));
  EXPECT_FALSE(IsUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsUtf8("\xE2\x82"));          // cut short
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("x\xFFy"), "\"x\xEF\xBF\xBDy\"");
  EXPECT_EQ(PercentEncoded("a b\xFF%~"), "a%20b%FF%25~");
}

std::string Decoded(const std::string& percent) {
  std::string out;
  for (std::size_t i = 0; i < percent.size(); ++i) {
    if (percent[i] == '%') {
      out.push_back(static_cast<char>(std::stoi(percent.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(percent[i]);
    }
  }
  return out;
}

const nlohmann::json* Child(const nlohmann::json& folder, const std::string& name) {
  for (const auto& child : folder["children"]) {
    const std::string bytes = child.contains("name_bytes") ? Decoded(child["name_bytes"]) : std::string(child["name"]);
    if (bytes == name) return &child;
  }
  return nullptr;
}

// Odd names on disk, the whole tree out as JSON, parsed back by a strict parser (it refuses
// text that is not UTF-8): every name comes back exactly, and every folder's subtree is its
// own figures plus its children's subtrees.
TEST(TreeJson, TheWholeTreeParsesBackWithOddNamesAndSubtreesAddUp) {
  TempTree tree;
  const std::vector<std::string> odd = {"quote\"and\\slash", "line\nbreak\x01", "latin1-\xE9t\xE9",
                                        "\xF0\x9F\x93\xA6 box", "over\xC0\xAFlong"};
  tree.Dir("top");
  for (const std::string& name : odd) {
    tree.Dir("top/" + name);
    tree.File("top/" + name + "/f.txt", 2000);
  }
  tree.Dir("top/" + odd[2] + "/inner");
  tree.File("top/" + odd[2] + "/inner/g.txt", 3000);
  tree.Dir("top/.hidden");
  tree.File("top/.hidden/h.txt", 10'000);

  SubtreeReport report;
  ASSERT_EQ(report.Run({"--json", tree.Root()}), kReportOk) << report.err.str();
  const std::string text = report.out.str();
  ASSERT_TRUE(IsUtf8(text));
  nlohmann::json root;
  ASSERT_NO_THROW(root = nlohmann::json::parse(text));

  EXPECT_EQ(root["name"], tree.RootSlash());
  EXPECT_EQ(root["subtree"]["folders"], 8);  // the root, top, five odd names, inner
  EXPECT_EQ(root["subtree"]["bytes"], 5 * 2000 + 3000);
  const nlohmann::json* top = Child(root, "top");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(Child(*top, ".hidden"), nullptr);
  for (const std::string& name : odd) {
    const nlohmann::json* folder = Child(*top, name);
    ASSERT_NE(folder, nullptr) << name;
    EXPECT_EQ((*folder)["own"]["bytes"], 2000);
    EXPECT_EQ(folder->contains("name_bytes"), !IsUtf8(name)) << name;
  }
  const nlohmann::json& latin = *Child(*top, odd[2]);
  EXPECT_EQ(latin["name"], "latin1-\xEF\xBF\xBDt\xEF\xBF\xBD");
  EXPECT_EQ(latin["subtree"]["bytes"], 5000);
  EXPECT_EQ(latin["subtree"]["unzipped"], 5000);
  EXPECT_EQ(latin["children"][0]["name"], "inner");
  EXPECT_EQ(latin["children"][0]["children"].size(), 0u);

  // Every folder's subtree: its own figures and its children's subtrees.
  std::vector<const nlohmann::json*> pending{&root};
  while (!pending.empty()) {
    const nlohmann::json& folder = *pending.back();
    pending.pop_back();
    std::int64_t bytes = folder["own"]["bytes"], folders = 1;
    for (const auto& child : folder["children"]) {
      bytes += child["subtree"]["bytes"].get<std::int64_t>();
      folders += child["subtree"]["folders"].get<std::int64_t>();
      pending.push_back(&child);
    }
    EXPECT_EQ(folder["subtree"]["bytes"], bytes);
    EXPECT_EQ(folder["subtree"]["folders"], folders);
  }
}

// With --estimate each folder carries its own saving and its subtree's, whose bounds add
// up its folders' bounds.
TEST(TreeJson, EstimatesAddUpOverSubtrees) {
  TempTree tree;
  for (const char* d : {"a", "a/b"}) tree.Dir(d);
  for (const char* f : {"a/one.txt", "a/b/two.txt"}) {
    const std::string text(12000, 'x');
    FILE* file = std::fopen(tree.PathOf(f).c_str(), "w");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  SubtreeReport report;
  ASSERT_EQ(report.Run({"--json", "--estimate", tree.Root()}), kReportOk) << report.err.str();
  const nlohmann::json root = nlohmann::json::parse(report.out.str());
  EXPECT_TRUE(root["own"]["saving"].is_null());  // no files of its own
  const nlohmann::json& a = root["children"][0];
  const nlohmann::json& b = a["children"][0];
  const std::int64_t aOwn = a["own"]["saving"]["saving"], bOwn = b["own"]["saving"]["saving"];
  EXPECT_GT(aOwn, 5000);  // 12,000 repeated bytes hold three blocks; their archive one
  EXPECT_EQ(a["subtree"]["saving"]["saving"], aOwn + bOwn);
  EXPECT_EQ(a["subtree"]["saving"]["low"],
            a["own"]["saving"]["low"].get<std::int64_t>() + b["own"]["saving"]["low"].get<std::int64_t>());
  EXPECT_EQ(root["subtree"]["saving"]["saving"], aOwn + bOwn);
  EXPECT_EQ(root["subtree"]["saving"]["estimated"], 2);
  EXPECT_EQ(root["subtree"]["saving"]["missing"], 0);
}

}  // namespace
}  // namespace orbelan
