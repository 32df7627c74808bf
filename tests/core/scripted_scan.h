#pragma once
// A scan played by a script: logs what the scan shows the user and answers its questions.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"

namespace orbelan::testing {

// Plays the user: logs what the scan shows and answers from a script.
class ScriptedObserver : public ScanObserver {
 public:
  Scanner* scanner = nullptr;
  std::vector<std::int64_t> found;
  std::vector<std::int64_t> progress;
  std::int64_t started = -1;
  int phase = 1;
  int pumps[3] = {0, 0, 0};  // per phase
  int asks = 0;
  std::vector<bool> answers;  // AskCancel answers in turn; Yes when the script runs out
  std::vector<std::string> notices;
  std::function<void(ScriptedObserver&)> onPump;
  std::function<void(ScriptedObserver&)> onFound;
  std::function<void(ScriptedObserver&)> onProgress;
  std::function<void(ScriptedObserver&)> onStarted;
  bool quit = false;

  void FoldersFound(std::int64_t count) override {
    found.push_back(count);
    if (onFound) onFound(*this);
  }
  void ScanFilesStarted(std::int64_t total) override {
    started = total;
    phase = 2;
    if (onStarted) onStarted(*this);
  }
  void FolderProgress(std::int64_t index, std::int64_t total) override {
    EXPECT_EQ(total, started);
    progress.push_back(index);
    if (onProgress) onProgress(*this);
  }
  void PumpMessages() override {
    ++pumps[phase];
    if (onPump) onPump(*this);
  }
  bool QuitRequested() override { return quit; }
  std::function<void(ScriptedObserver&)> onAsk;  // while the question is open
  bool AskCancel() override {
    if (onAsk) onAsk(*this);
    const bool yes = asks < static_cast<int>(answers.size()) ? answers[asks] : true;
    ++asks;
    return yes;
  }
  void ShowMsg(std::string_view text, std::string_view caption) override {
    EXPECT_EQ(text, "Operation canceled by user.");
    notices.emplace_back(caption);
  }
};

// Rules of a scan that tells archives and ignored files apart: ".zip" and ".tmp".
inline ScanRules ZipAndTmpRules() {
  ScanRules rules;
  rules.ZipExts.Append(".zip");
  rules.IgnoreExts.Append(".tmp");
  return rules;
}

struct Scan {
  FolderList folders;
  ScriptedObserver observer;
  // Empty lists: nothing ignored, only "_" extensions are archives (scanner.SetRules
  // gives others).
  Scanner scanner{folders, ScanRules{}, observer};
  explicit Scan(int threads = 1) {
    observer.scanner = &scanner;
    scanner.SetThreads(threads);
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const FolderRec& rec : folders) paths.push_back(rec.Path());
    return paths;
  }
  const FolderRec* Find(const std::string& path) const {
    for (const FolderRec& rec : folders)
      if (rec.Path() == path) return &rec;
    return nullptr;
  }
};

}  // namespace orbelan::testing
