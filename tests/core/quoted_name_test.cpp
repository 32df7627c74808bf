// Names as shown: plain ones as they are, others quoted so that a shell gives back their
// exact bytes, and nothing in the text can break a line or hide a character.

#include "platform/quoted_name.h"

#include <cstdio>
#include <string>
#include <gtest/gtest.h>

#include "tests/core/file_helpers.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

// What bash makes of the quoted word: the bytes printf writes for it.
std::string ThroughBash(const testing::TempTree& tree, const std::string& word) {
  testing::WriteAll(tree.PathOf("script"), "printf %s " + word);
  FILE* pipe = ::popen(("LC_ALL=C.UTF-8 bash " + tree.PathOf("script")).c_str(), "r");
  std::string out;
  char buffer[256];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  if (pipe) ::pclose(pipe);
  return out;
}

TEST(QuotedName, PlainNamesStayAndOthersComeBackWholeThroughAShell) {
  EXPECT_EQ(QuotedName("report-2026.txt"), "report-2026.txt");
  EXPECT_EQ(QuotedName("caf\xc3\xa9/"), "caf\xc3\xa9/");
  EXPECT_EQ(QuotedName("a b"), "'a b'");
  EXPECT_EQ(QuotedName("nl\nname"), "$'nl\\nname'");
  testing::TempTree tree;
  for (const std::string& name : {std::string("a b, c"), std::string("it's"), std::string("nl\nname"),
                                  std::string("\xff\xfe bad"), std::string("back\\slash 'q'\t"),
                                  std::string("rtl\xe2\x80\xae" "txt.exe"), std::string("ls\xe2\x80\xa8" "ep"),
                                  std::string("c1\xc2\x85"), std::string("\x1b[31mred"), std::string("")}) {
    const std::string shown = QuotedName(name);
    EXPECT_EQ(ThroughBash(tree, shown), name) << shown;
    for (const unsigned char c : shown) EXPECT_TRUE(c >= 0x20 && c != 0x7f) << shown;
    EXPECT_EQ(shown.find("\xe2\x80"), std::string::npos) << shown;  // no separator or bidi mark left
  }
  EXPECT_EQ(VisibleText("cannot move /a\nb (Permission denied)"), "cannot move /a\\nb (Permission denied)");
}

}  // namespace
}  // namespace orbelan
