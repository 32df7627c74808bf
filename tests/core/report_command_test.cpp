#include "cli/report_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "platform/day_number.h"
#include "scan_tree_fixture.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "cli/report_format.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"
#include "estimate/saving_small.h"

namespace orbelan {
namespace {

using testing::TempTree;

// Splits CSV text into records of fields, honouring quotes (RFC 4180).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        records.back().back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        records.back().back().push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else {
      records.back().back().push_back(c);
    }
  }
  if (records.back().size() == 1 && records.back()[0].empty()) records.pop_back();
  return records;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A report's context writing to out and err.
ReportContext ContextFor(Settings& settings, std::ostream& out, std::ostream& err) {
  ReportContext context;
  context.settings = &settings;
  context.out = &out;
  context.err = &err;
  return context;
}

struct Report {
  Settings settings;
  std::ostringstream out, err;
  volatile std::sig_atomic_t interrupted = 0;
  double today = 0;

  int Run(const std::vector<std::string>& args) {
    ReportContext context = ContextFor(settings, out, err);
    context.interrupted = &interrupted;
    context.today = today;
    return RunReport(args, context);
  }
};

TEST(ReportArgs, AcceptsTheSortColumnTheCsvSwitchAndOneFolder) {
  std::string error;
  auto options = ParseReportArgs({"/data"}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->SortColumn, 1);
  EXPECT_FALSE(options->Csv);
  EXPECT_EQ(options->Folder, "/data");

  options = ParseReportArgs({"--csv", "--sort", "-6", "/data"}, error);
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->Csv);
  EXPECT_EQ(options->SortColumn, -6);

  options = ParseReportArgs({"--sort=7", "--", "-folder-with-dash"}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->SortColumn, 7);
  EXPECT_EQ(options->Folder, "-folder-with-dash");

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{},
                                             {"--sort", "0", "/d"},
                                             {"--sort", "8", "/d"},
                                             {"--sort", "-8", "/d"},
                                             {"--sort", "2x", "/d"},
                                             {"--sort=", "/d"},
                                             {"/d", "--sort"},
                                             {"--verbose", "/d"},
                                             {"/d", "/e"}}) {
    error.clear();
    EXPECT_FALSE(ParseReportArgs(bad, error)) << ::testing::PrintToString(bad);
    EXPECT_FALSE(error.empty());
  }
}

TEST(ReportFormat, QuotesCsvFieldsOnlyWhenNeeded) {
  EXPECT_EQ(CsvField("/plain/path/"), "/plain/path/");
  EXPECT_EQ(CsvField("/a,b/"), "\"/a,b/\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(CsvField("cr\rhere"), "\"cr\rhere\"");
  EXPECT_EQ(CsvField(" today"), "\" today\"");
  EXPECT_EQ(CsvField(""), "");
}

TEST(ReportFormat, DayNumbersHaveSixDecimalsAndNoneIsZero) {
  EXPECT_EQ(DayNumberText(0), "0");
  EXPECT_EQ(DayNumberText(45000.5), "45000.500000");
  EXPECT_EQ(DayNumberText(45000.0 + 1.0 / 3.0), "45000.333333");
  EXPECT_EQ(DayNumberText(-0.75), "-0.750000");
  EXPECT_EQ(TerminalSafe("a\nb\tc\x7f" "d\xc3\xa9"), "a?b?c?d\xc3\xa9");
}

TEST(ReportFormat, AWidePathStandsAloneWithItsFiguresAlignedBelow) {
  const ScanRules rules;
  FolderList folders;
  std::string wide = "/";
  wide.append(90, 'w').append("/");  // appending keeps GCC 12's -Wrestrict false alarm away
  for (const std::string& path : {std::string("/short/"), wide}) {
    ASSERT_TRUE(folders.AddFolder(path, rules));
    folders.Tail()->SzFiles = 5000;
    folders.Tail()->NFiles = 1;
  }
  std::ostringstream table;
  WriteTable(table, FillRows(folders, 0, 1, 0), 0);
  const auto lines = Lines(table.str());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].rfind("/short/", 0), 0u);
  EXPECT_EQ(lines[2], wide);
  EXPECT_EQ(lines[3].find_first_not_of(' '), lines[0].find("Unzipped") + 8 - 5);  // "5,000"
  EXPECT_EQ(lines[0].size(), lines[1].size());
  EXPECT_EQ(lines[1].size(), lines[3].size());
}

// Two listed folders (one with an awkward name), one too small, one ignored file.
struct SampleTree {
  TempTree tree;
  const std::string odd = "Odd, \"Name\"\nHere";
  const long long when = 1700000000;
  SampleTree() {
    tree.Dir(odd);
    tree.File(odd + "/plain.txt", 2000, when - 500);
    tree.File(odd + "/pack.ZIP", 1000, when);
    tree.File(odd + "/scratch.tmp", 50000, when + 500);  // ignored: neither size nor time
    tree.Dir("big");
    tree.File("big/data.bin", 7000, when - 86400);
    tree.Dir("small");
    tree.File("small/x", 100, when);
  }
};

void PrepareSettings(Settings& settings) {
  settings.MinSize = 0;
  settings.ZipExts.Append(".zip");
  settings.IgnoreExts.Append(".tmp");
}

TEST(ReportCommand, CsvListsEveryFigureOfTheListedFoldersInTheirRealCase) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  LocalDayClock clock;
  report.today = std::floor(clock.DayNumber(sample.when)) + 3;

  ASSERT_EQ(report.Run({"--csv", sample.tree.Root()}), kReportOk) << report.err.str();
  const auto records = ParseCsv(report.out.str());
  ASSERT_EQ(records.size(), 3u) << report.out.str();
  EXPECT_EQ(records[0], (std::vector<std::string>{"path", "files", "bytes", "zip_files", "zip_bytes",
                                                  "ignored_files", "ignored_bytes", "newest",
                                                  "unzipped", "percent", "priority", "age"}));
  // Sorted by the lower-cased path: "big" before "odd".
  EXPECT_EQ(records[1], (std::vector<std::string>{
                            sample.tree.PathOf("big/"), "1", "7000", "0", "0", "0", "0",
                            DayNumberText(clock.DayNumber(sample.when - 86400)), "7000", "0", "50",
                            "4 days ago"}));
  EXPECT_EQ(records[2], (std::vector<std::string>{
                            sample.tree.PathOf(sample.odd + "/"), "2", "3000", "1", "1000", "1",
                            "50000", DayNumberText(clock.DayNumber(sample.when)), "2000", "33", "49",
                            "3 days ago"}));
  EXPECT_TRUE(report.err.str().empty());  // no progress without a terminal
}

TEST(ReportCommand, SortsByTheGivenColumn) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  ASSERT_EQ(report.Run({"--sort", "-2", "--csv", sample.tree.Root()}), kReportOk);
  const auto records = ParseCsv(report.out.str());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1][8], "7000");  // unzipped, descending
  EXPECT_EQ(records[2][8], "2000");
}

TEST(ReportCommand, TableShowsTheSixColumnsAlignedAndTheShareZipped) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  LocalDayClock clock;
  report.today = std::floor(clock.DayNumber(sample.when));

  ASSERT_EQ(report.Run({sample.tree.Root()}), kReportOk);
  const auto lines = Lines(report.out.str());
  ASSERT_EQ(lines.size(), 4u) << report.out.str();
  const std::string& header = lines[0];
  std::size_t at = 0;
  for (const char* column : {"Path", "Unzipped", "Zipped", "%", "Most Recent", "Priority"}) {
    const std::size_t found = header.find(column, at);
    ASSERT_NE(found, std::string::npos) << column;
    at = found + 1;
  }
  // The real path as the list shows it, the line break made harmless.
  EXPECT_EQ(lines[2].rfind(sample.tree.PathOf("Odd, \"Name\"?Here/"), 0), 0u)
      << lines[2];
  EXPECT_NE(lines[2].find("33%"), std::string::npos);
  EXPECT_NE(lines[2].find("today"), std::string::npos);
  EXPECT_NE(lines[1].find("yesterday"), std::string::npos);
  // Figures end in the same column on every line.
  EXPECT_EQ(lines[0].size(), lines[1].size());
  EXPECT_EQ(lines[1].size(), lines[2].size());
  EXPECT_EQ(lines[3], "% Zipped: 10");  // 1,000 of 10,000 listed bytes
}

TEST(ReportCommand, AnInterruptedScanPrintsNothingAndExits130) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  report.interrupted = 1;
  EXPECT_EQ(report.Run({"--csv", sample.tree.Root()}), kReportCanceled);
  EXPECT_TRUE(report.out.str().empty());
}

TEST(ReportCommand, RefusesWhatIsNotAFolderAndBadArguments) {
  TempTree tree;
  tree.File("file.txt", 5);
  for (const std::string& target : {tree.PathOf("missing"), tree.PathOf("file.txt"), std::string()}) {
    Report report;
    EXPECT_EQ(report.Run({target}), kReportUsage) << target;
    EXPECT_TRUE(report.out.str().empty());
    EXPECT_NE(report.err.str().find("orbelan-report: "), std::string::npos);
  }
  Report bad;
  EXPECT_EQ(bad.Run({"--sort", "0", tree.Root()}), kReportUsage);
  EXPECT_NE(bad.err.str().find("Usage: orbelan-report"), std::string::npos);

  Report help;
  EXPECT_EQ(help.Run({"--help"}), kReportOk);
  EXPECT_NE(help.out.str().find("Usage: orbelan-report"), std::string::npos);
}

// An output that refuses every byte, as a full disk or a closed pipe does.
class RefusingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(ReportCommand, AReportThatCannotBeWrittenFailsWithAMessage) {
  SampleTree sample;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--csv", sample.tree.Root()}, {sample.tree.Root()}, {"--help"}}) {
    Settings settings;
    PrepareSettings(settings);
    RefusingBuffer refusing;
    std::ostream out(&refusing);
    std::ostringstream err;
    ReportContext context = ContextFor(settings, out, err);
    EXPECT_EQ(RunReport(args, context), kReportWriteFailed) << args[0];
    EXPECT_EQ(err.str(), "orbelan-report: could not write the report\n");
  }
}

TEST(ReportCommand, AFolderWithNothingListedGivesHeadersAndZero) {
  TempTree tree;
  tree.File("tiny", 10);
  Report report;  // default MinSize 0 in a fresh Settings; 10 bytes do not qualify
  ASSERT_EQ(report.Run({"--csv", tree.Root()}), kReportOk);
  EXPECT_EQ(ParseCsv(report.out.str()).size(), 1u);
  Report table;
  ASSERT_EQ(table.Run({tree.Root()}), kReportOk);
  EXPECT_EQ(Lines(table.out.str()).back(), "% Zipped: 0");
  // Said on stderr, each with what the user can change.
  EXPECT_NE(table.err.str().find("None of the 1 folder found holds 1 KiB or more"), std::string::npos)
      << table.err.str();
  table.settings.MinSize = 5;
  tree.File("small", 3000);
  table.err.str("");
  ASSERT_EQ(table.Run({tree.Root()}), kReportOk);
  EXPECT_NE(table.err.str().find("more than 5 KiB of ordinary files, the minimum size. To list smaller folders, lower it"),
            std::string::npos)
      << table.err.str();
  Report ignored;
  std::string lowered = tree.RootSlash();
  for (char& c : lowered) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  ignored.settings.IgnorePaths.Append(lowered);
  ASSERT_EQ(ignored.Run({tree.Root()}), kReportOk);
  EXPECT_NE(ignored.err.str().find(tree.RootSlash() + " is one of the paths to ignore"), std::string::npos)
      << ignored.err.str();
}

// What zipping size zero bytes frees: compressed whole with raw deflate at level 6.
std::int64_t ZerosSaving(std::size_t size) {
  const std::string data(size, '\0');
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  std::vector<char> out(libdeflate_deflate_compress_bound(c, size));
  const std::size_t n = libdeflate_deflate_compress(c, data.data(), size, out.data(), out.size());
  libdeflate_free_compressor(c);
  return static_cast<std::int64_t>(size) - static_cast<std::int64_t>(n);
}

// Without --estimate the report is exactly what it was: six columns, no saving line.
TEST(ReportCommand, WithoutEstimateTheTableIsUnchangedToTheByte) {
  TempTree tree;
  const long long when = 1700000000;
  tree.Dir("aa");
  tree.File("aa/f", 123456, when);
  tree.Dir("b");
  tree.File("b/g.zip", 5000, when);
  Report report;
  PrepareSettings(report.settings);
  report.today = std::floor(LocalDayClock().DayNumber(when));
  ASSERT_EQ(report.Run({tree.Root()}), kReportOk);
  const std::string a = tree.PathOf("aa/"), b = tree.PathOf("b/");
  const std::size_t w = a.size();
  auto pad = [](std::size_t n) { return std::string(n, ' '); };
  const std::string expected =
      "Path" + pad(w - 4) + "      Unzipped        Zipped     %  Most Recent  Priority\n" +
      a + "       123,456             0    0%        today        51\n" +
      b + pad(w - b.size()) + "             0         5,000  100%        today         0\n" +
      "% Zipped: 3\n";
  EXPECT_EQ(report.out.str(), expected);
}

// Allocated bytes of a file of the tree, as the CSV's allocated field should tell them.
std::string AllocatedOf(const TempTree& tree, const std::string& name) {
  struct stat st;
  EXPECT_EQ(stat(tree.PathOf(name).c_str(), &st), 0);
  return std::to_string(static_cast<long long>(st.st_blocks) * 512);
}

TEST(ReportCommand, EstimateAddsItsCsvFieldsAndTheTotalOnStderr) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  ASSERT_EQ(report.Run({"--csv", "--estimate", sample.tree.Root()}), kReportOk) << report.err.str();
  const auto records = ParseCsv(report.out.str());
  ASSERT_EQ(records.size(), 3u) << report.out.str();
  ASSERT_EQ(records[0].size(), 19u);
  EXPECT_EQ(std::vector<std::string>(records[0].begin() + 11, records[0].end()),
            (std::vector<std::string>{"age", "saving", "saving_low", "saving_high", "sampled",
                                      "saving_bytes", "allocated", "fs_compressed"}));
  // Small folders of zeros (sparse beyond their first byte): compressed whole, exact. Each
  // file holds one block, which its archive would take again: no disk space comes back.
  const std::int64_t big = ZerosSaving(7000), odd = ZerosSaving(2000);
  EXPECT_EQ(std::vector<std::string>(records[1].begin() + 12, records[1].end()),
            (std::vector<std::string>{"0", "0", "0", "7000", std::to_string(big),
                                      AllocatedOf(sample.tree, "big/data.bin"), "0"}));
  EXPECT_EQ(std::vector<std::string>(records[2].begin() + 12, records[2].end()),
            (std::vector<std::string>{"0", "0", "0", "2000", std::to_string(odd),
                                      AllocatedOf(sample.tree, sample.odd + "/plain.txt"), "0"}));
  EXPECT_EQ(report.err.str(), "Estimated saving: 0 bytes of disk\n");
}

// Small folders are read whole (their files once, then a few calibration slices), and the
// figures do not depend on which thread counted or estimated which folder.
TEST(ReportCommand, EstimateIsTheSameOnAnyNumberOfThreads) {
  TempTree tree;
  std::string text;
  for (int i = 0; text.size() < 30000; ++i) text.append("line ").append(std::to_string(i % 97)).append(" of a log\n");
  for (int d = 0; d < 8; ++d) {
    std::string dir = "folder";
    dir.append(std::to_string(d));
    tree.Dir(dir);
    for (int f = 0; f <= d; ++f) {
      std::string name = dir;
      name.append("/part").append(std::to_string(f)).append(".log");
      const int fd = open(tree.PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(fd);
    }
  }
  std::string first;
  for (const char* threads : {"1", "2", "5"}) {
    Report report;
    PrepareSettings(report.settings);
    ASSERT_EQ(report.Run({"--csv", "--estimate", "--threads", threads, tree.Root()}), kReportOk) << report.err.str();
    const auto records = ParseCsv(report.out.str());
    ASSERT_EQ(records.size(), 9u) << report.out.str();
    for (std::size_t r = 1; r < records.size(); ++r) {
      EXPECT_GE(std::stoll(records[r][15]), std::stoll(records[r][8])) << r;
      EXPECT_LE(std::stoll(records[r][15]), std::stoll(records[r][8]) + kSmallCalibrationDraws * kSmallSlice) << r;
      EXPECT_GT(std::stoll(records[r][16]), 0) << r;
    }
    if (first.empty()) first = report.out.str();
    EXPECT_EQ(report.out.str(), first) << threads;
  }
}

TEST(ReportCommand, EstimateAddsASavingColumnAndATotalLine) {
  SampleTree sample;
  Report report;
  PrepareSettings(report.settings);
  ASSERT_EQ(report.Run({"--estimate", sample.tree.Root()}), kReportOk);
  const auto lines = Lines(report.out.str());
  ASSERT_EQ(lines.size(), 5u) << report.out.str();
  EXPECT_EQ(lines[0].substr(lines[0].size() - 22), "Priority        Saving") << lines[0];
  // The disk figure: the file's one block comes back as the archive's one block.
  EXPECT_EQ(lines[1].back(), '0') << lines[1];
  EXPECT_EQ(lines[1][lines[1].size() - 2], ' ') << lines[1];
  EXPECT_EQ(lines[0].size(), lines[1].size());
  EXPECT_EQ(lines[3], "% Zipped: 10");
  EXPECT_EQ(lines[4].rfind("Estimated saving: ", 0), 0u);
  EXPECT_TRUE(report.err.str().empty());
}

TEST(ReportFormat, TotalLineTellsTheRangeAndWhatWasNotEstimated) {
  std::vector<SavingEstimate> estimates(3);
  estimates[0].Known = true;
  estimates[0].Disk = 1500000;
  estimates[0].DiskLow = 1000000;
  estimates[0].DiskHigh = 2000000;
  estimates[0].Saving = 9;  // the byte figures are not what the total adds up
  estimates[1].Known = true;
  estimates[1].Disk = estimates[1].DiskLow = estimates[1].DiskHigh = 500;
  EXPECT_EQ(EstimateTotalLine(estimates),
            "Estimated saving: 1,500,500 bytes of disk (1,000,500 to 2,000,500), 1 folder not estimated");
  EXPECT_EQ(CsvEstimateFields(estimates[2]), ",,,,,,,");
  estimates[1].Sampled = 77;
  estimates[1].Saving = 300;
  estimates[1].Allocated = 8192;
  estimates[1].FsCompressed = 4096;
  EXPECT_EQ(CsvEstimateFields(estimates[1]), ",500,500,500,77,300,8192,4096");
}

// Raises the interrupt flag as the estimate shows its first progress: after a whole scan,
// while the estimate runs (the progress line ends in a flush).
class InterruptOnEstimate : public std::stringbuf {
 public:
  explicit InterruptOnEstimate(volatile std::sig_atomic_t& flag) : flag_(flag) {}

 protected:
  int sync() override {
    if (str().find("Estimating savings") != std::string::npos) flag_ = 1;
    return 0;
  }

 private:
  volatile std::sig_atomic_t& flag_;
};

TEST(ReportCommand, AnInterruptedEstimatePrintsNothing) {
  SampleTree sample;
  Settings settings;
  PrepareSettings(settings);
  volatile std::sig_atomic_t interrupted = 0;
  InterruptOnEstimate errBuffer(interrupted);
  std::ostream err(&errBuffer);
  std::ostringstream out;
  ReportContext context = ContextFor(settings, out, err);
  context.interrupted = &interrupted;
  context.showProgress = true;
  EXPECT_EQ(RunReport({"--estimate", sample.tree.Root()}, context), kReportCanceled);
  EXPECT_EQ(interrupted, 1) << "the scan ran to its end and the estimate began";
  EXPECT_TRUE(out.str().empty());
}

TEST(ReportCommand, SortsBySavingOnceEstimatedEitherWay) {
  TempTree tree;
  for (const auto& [name, size] : {std::pair{"a", 3000}, std::pair{"B", 9000}, std::pair{"c", 5000}}) {
    tree.Dir(name);
    // Written out, not sparse: 1, 3 and 2 blocks of zeros, whose archives take one block
    // each, so the disk given back orders them as the bytes do.
    const std::string path = tree.PathOf(std::string(name) + "/zeros");
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    const std::string zeros(static_cast<std::size_t>(size), '\0');
    std::fwrite(zeros.data(), 1, zeros.size(), file);
    std::fclose(file);
  }
  auto order = [&](const char* column) {
    Report report;
    PrepareSettings(report.settings);
    EXPECT_EQ(report.Run({"--csv", "--estimate", "--sort", column, tree.Root()}), kReportOk);
    std::vector<std::string> paths, savings;
    const auto records = ParseCsv(report.out.str());
    for (std::size_t i = 1; i < records.size(); ++i) {
      paths.push_back(records[i][0]);
      savings.push_back(records[i][16]);  // saving_bytes
    }
    EXPECT_EQ(savings[0], std::to_string(ZerosSaving(paths[0] == tree.PathOf("B/") ? 9000 : 3000)));
    return paths;
  };
  const std::string a = tree.PathOf("a/"), b = tree.PathOf("B/"), c = tree.PathOf("c/");
  EXPECT_EQ(order("7"), (std::vector<std::string>{a, c, b}));
  EXPECT_EQ(order("-7"), (std::vector<std::string>{b, c, a}));
}

}  // namespace
}  // namespace orbelan
