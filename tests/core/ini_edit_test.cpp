// A batch of writes applied in one pass must leave exactly the text that writing the
// keys one at a time leaves: checked against the plain model on hand-picked files and on
// many random ones.

#include "platform/ini_edit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "key_by_key_writes.h"

namespace orbelan {
namespace {

using orbelan::testing::WriteKeyByKey;

// Files the INI and settings tests read and write, and the odd shapes files take.
const std::vector<std::string> kFiles = {
    "",
    "[MAIN]",
    "[MAIN]\nb=2",
    "[Other]\nx=y",
    "[MAIN]\r\na=1\r\nb=2\n",
    "top=before any section\r\n[Other]\r\nNumZips=7\r\n[main]\r\nnumzips=3\r\nNUMZIPS=4\r\n"
    "Zip1 = .zip \r\n[MAIN]\r\nZip2=.arj\r\n",
    "; settings\n[Other]\nminSize=1\n\n[Main]\n  MINSIZE = 7 ; note\nzip1=.zip\n\n"
    "; trailing comment\n[Tail]\r\n  key = kept  \r\n",
    "[Window]\nLeft=10\n\n[MAIN]\nUnknown = keep me\nminSize=5\n; a note\n[Zzz]\r\nminSize=1\r\n",
    "[MAIN]\r\nminSize=0\r\nNumZips=5\r\nZip1=.zip\r\nZip2=.arj\r\nZip3=.rar\r\nZip4=.7z\r\n"
    "Zip5=.gz\r\nNumPaths=2\r\nPath1=/usr/\r\nPath2=/proc/\r\nNumFav=0\r\nNumExt=0\r\n",
    "[main]\r\nnumzips=3\r\nzip1=.zip\r\nZIP2=.arj\r\nNumPaths=1\r\n",
    "just some text\r\nwithout sections\r\n",
    std::string("\0\xff\xfe[MAIN\n=\n\0=\0\n", 14) + "\n[MAIN]\nNumZips=2\nZip1=zz\n" +
        std::string("Zip2=.a\0rj\n", 11),
    "[MAIN]\n[MAIN]\nminSize=4\n[ MAIN ]\nNumFav=1\n",
    "[MAIN]\nminSize\n[unclosed\nNumZips = 2 \n\n\n",
    "\r\n\r\n[MAIN]\r\n; only a comment",
    "[Other]\nminSize=1\n[MAIN]\nminSize=2\n[Other]\nNumFav=3\n",
};

// What a save of the settings writes, plus keys of other sections in between and keys
// written twice, in other cases, or unchanged.
const std::vector<IniWrites> kWriteLists = {
    {{"MAIN", "minSize", "0"},   {"MAIN", "NumZips", "2"},     {"MAIN", "Zip1", ".zip"},
     {"MAIN", "Zip2", ".arj"},   {"MAIN", "NumPaths", "2"},    {"MAIN", "Path1", "/usr/"},
     {"MAIN", "Path2", "/proc/"}, {"MAIN", "NumFav", "0"},     {"MAIN", "NumExt", "0"}},
    {{"MAIN", "minSize", "5"}, {"MAIN", "NumZips", "3"}, {"MAIN", "Zip1", ".zip"}},
    {{"Window", "Left", "4"},  {"MAIN", "minSize", "1"}, {"New", "a", ""},
     {"Zzz", "b", "2"},        {"new", "A", "3"},        {"Other2", "c", " spaced "},
     {"MAIN", "MINSIZE", "9"}, {"window", "Top", "7"},   {"MAIN", "Zip1", ".zip"}},
    {{"MAIN", "a", "1"}, {"MAIN", "b", "2"}},
};

TEST(IniEditTest, OnePassEqualsKeyByKeyWrites) {
  for (const std::string& file : kFiles) {
    for (const IniWrites& writes : kWriteLists) {
      ASSERT_TRUE(AreWritable(writes));
      const std::string expected = WriteKeyByKey(file, writes);
      const std::optional<std::string> got = ApplyIniWrites(file, writes);
      EXPECT_EQ(got.value_or(file), expected) << "file: " << ::testing::PrintToString(file);
      // Nothing comes back exactly when there is nothing to change.
      EXPECT_EQ(got.has_value(), expected != file) << ::testing::PrintToString(file);
    }
  }
}

TEST(IniEditTest, OnePassEqualsKeyByKeyWritesOnRandomFiles) {
  // Files made of the line shapes that matter: headers of a few names (also repeated and
  // in other cases), keys of a few names, comments, blank lines, lines without "=" or
  // without a line end; written by lists that mix sections, repeat keys and values.
  const std::vector<std::string> pieces = {
      "[MAIN]", "[main]", "[Other]", "[ other ]", "[New]", "minSize=1", "MINSIZE = 2 ",
      "Zip1=.zip", "zip2=.arj", "a=b=c", "nokey", "; comment", "", "  ", "[broken", "Fav1="};
  const std::vector<std::string> ends = {"\n", "\r\n", ""};
  const std::vector<std::string> sections = {"MAIN", "main", "Other", "New", "Fresh", "fresh"};
  const std::vector<std::string> keyNames = {"minSize", "MinSize", "Zip1", "ZIP2", "a", "nokey",
                                             "Fav1", "k"};
  const std::vector<std::string> values = {"", "1", ".zip", "a b", "=x"};
  std::mt19937 random(20261207);
  auto pick = [&random](const auto& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  for (int round = 0; round < 3000; ++round) {
    std::string file;
    const int lineCount = std::uniform_int_distribution<int>(0, 12)(random);
    for (int i = 0; i < lineCount; ++i) {
      file += pick(pieces);
      // Only the last line may go without a line end.
      file += i + 1 == lineCount ? pick(ends) : pick(std::vector<std::string>{"\n", "\r\n"});
    }
    IniWrites writes;
    const int writeCount = std::uniform_int_distribution<int>(1, 10)(random);
    for (int i = 0; i < writeCount; ++i) {
      writes.push_back({pick(sections), pick(keyNames), pick(values)});
    }
    const std::string expected = WriteKeyByKey(file, writes);
    EXPECT_EQ(ApplyIniWrites(file, writes).value_or(file), expected)
        << "file: " << ::testing::PrintToString(file);
    if (HasFailure()) break;
  }
}

TEST(IniEditTest, UnwritableNamesAndValuesAreRecognised) {
  EXPECT_TRUE(AreWritable({{"MAIN", "k", ""}, {"", "k", "v"}}));
  EXPECT_FALSE(AreWritable({{"MAIN", "k", "2\r\n[Evil]"}}));
  EXPECT_FALSE(AreWritable({{"MAIN", std::string("b\0", 2), "2"}}));
  EXPECT_FALSE(AreWritable({{"MAIN", "k=v", "2"}}));
  EXPECT_FALSE(AreWritable({{"MA]IN", "a", "2"}}));
  EXPECT_FALSE(AreWritable({{"MAIN", "", "2"}}));
  EXPECT_FALSE(AreWritable({{"MAIN", "ok", "1"}, {"MAIN", " padded", "1"}}));
}

}  // namespace
}  // namespace orbelan
