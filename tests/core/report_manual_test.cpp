// The manual page of orbelan-report keeps up with the command: every option its --help
// names, every exit status it returns and every CSV field it writes are described.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/report_command.h"
#include "cli/report_format.h"

namespace orbelan {
namespace {

// The page as a reader sees it: roff's escaped dashes become plain ones.
std::string ManualText() {
  std::ifstream file(ORBELAN_SOURCE_DIR "/resources/man/orbelan-report.1");
  std::stringstream text;
  text << file.rdbuf();
  std::string page = text.str();
  for (std::size_t at = 0; (at = page.find("\\-", at)) != std::string::npos;) page.erase(at, 1);
  return page;
}

// The text from the section heading to the next one.
std::string Section(const std::string& page, const std::string& heading) {
  const std::size_t start = page.find(".SH " + heading + "\n");
  if (start == std::string::npos) return {};
  const std::size_t end = page.find("\n.SH ", start + 1);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The words of the section's macro lines that begin with `macro` (".B" takes .B, .BI and
// .BR lines; "." every macro line), without roff's quotes.
std::set<std::string> MacroWords(const std::string& section, const std::string& macro) {
  std::set<std::string> words;
  std::stringstream lines(section);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(macro, 0) != 0) continue;
    std::stringstream parts(line);
    std::string word;
    parts >> word;  // the macro itself
    while (parts >> word) {
      if (word.front() == '"') word.erase(0, 1);
      if (!word.empty() && word.back() == '"') word.pop_back();
      words.insert(word);
    }
  }
  return words;
}

TEST(ReportManual, DescribesEveryOptionAndExitStatus) {
  const std::string page = ManualText();
  ASSERT_FALSE(page.empty()) << "resources/man/orbelan-report.1 missing";

  std::set<std::string> options = {"--help", "-h", "--"};
  const std::string usage = ReportUsage();
  const std::regex option(R"((^|[\s\[])(--?[a-z][a-z0-9-]*))");
  for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option); it != std::sregex_iterator(); ++it)
    options.insert((*it)[2]);
  EXPECT_GE(options.size(), 5u) << usage;

  const std::set<std::string> synopsis = MacroWords(Section(page, "SYNOPSIS"), ".");
  const std::set<std::string> described = MacroWords(Section(page, "OPTIONS"), ".B");
  for (const std::string& name : options) {
    EXPECT_TRUE(described.count(name)) << name << " lacks its entry under OPTIONS";
    if (name != "-h") {
      EXPECT_TRUE(synopsis.count(name)) << name << " is not in the SYNOPSIS";
    }
  }

  const std::string statuses = Section(page, "EXIT STATUS");
  for (const int status : {kReportOk, kReportWriteFailed, kReportUsage, kReportIncomplete, kReportCanceled})
    EXPECT_NE(statuses.find("\n.B " + std::to_string(status) + "\n"), std::string::npos)
        << "exit status " << status << " is not described";

  std::stringstream header(CsvHeader());
  const std::set<std::string> fields = MacroWords(Section(page, "OPTIONS"), ".I");
  for (std::string field; std::getline(header, field, ',');)
    EXPECT_TRUE(fields.count(field)) << "CSV field " << field << " is not described";
}

}  // namespace
}  // namespace orbelan
