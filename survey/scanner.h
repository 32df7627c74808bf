#pragma once
// The two-phase scan of a folder tree: phase 1 records every folder, phase 2 counts
// each recorded folder's own files. Runs on the caller's thread; the observer is the
// face (GUI, report command, tests) that shows progress and answers the cancel protocol.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

class DirReader;
class FolderList;
class PseudoFsDetector;
struct DirEntry;
struct FolderRec;
struct Settings;

class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  // Phase 1: after each recorded folder, with the list's Count.
  virtual void FoldersFound(std::int64_t count) = 0;
  // Phase 2 begins over total records.
  virtual void ScanFilesStarted(std::int64_t total) = 0;
  // Phase 2: once per record, index counting from 1.
  virtual void FolderProgress(std::int64_t index, std::int64_t total) = 0;
  // Called after every directory entry in both phases; must be cheap (the GUI pumps
  // its events here only when a few milliseconds have passed). May set CancelRequested.
  virtual void PumpMessages() = 0;
  // Whether the application has been told to quit (a quit counts as a cancel, unprompted).
  virtual bool QuitRequested() = 0;
  // "Do you wish to cancel the current scan?" / "Cancel scan": true for Yes.
  virtual bool AskCancel() = 0;
  // A modal notice with one OK button.
  virtual void ShowMsg(std::string_view text, std::string_view caption) = 0;
};

// Shows nothing and never cancels: for counting a tree without a face.
class SilentScanObserver : public ScanObserver {
 public:
  void FoldersFound(std::int64_t) override {}
  void ScanFilesStarted(std::int64_t) override {}
  void FolderProgress(std::int64_t, std::int64_t) override {}
  void PumpMessages() override {}
  bool QuitRequested() override { return false; }
  bool AskCancel() override { return false; }
  void ShowMsg(std::string_view, std::string_view) override {}
};

class Scanner {
 public:
  Scanner(FolderList& folders, const Settings& settings, ScanObserver& observer);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Set by the face (Esc, a click while busy, Ctrl+C) at any time; cleared by Run.
  bool CancelRequested = false;
  bool CancelNoticeShown = false;

  // Resets the list and both flags, runs phase 1 and, unless cancelled, phase 2.
  // Returns true when both phases completed (the caller then fills the results list).
  bool Run(std::string_view startPath);

  // Phase 1 from path: records it (with a trailing "/" added when missing) and every
  // folder below it, depth-first, each folder before its subfolders.
  void FindFolders(std::string path);
  // Phase 2 over the whole list: counts each record's own files into it.
  void ScanFiles();
  // After every directory entry: lets the observer pump, asks about a pending cancel
  // request, turns a quit into one. True when the scan is to stop.
  bool CheckCancel();

 private:
  struct Level;

  Level& LevelAt(std::size_t depth);
  void WalkFolders();
  bool EnterSubfolder(std::size_t parentDepth, const DirEntry& entry);
  bool FolderEntryDone();
  bool OpenRecord(DirReader& reader, const FolderRec& rec);
  void CloseBase();

  FolderList& folders_;
  const Settings& settings_;
  ScanObserver& observer_;

  std::string path_;  // the folder being walked in phase 1, ending in "/"
  std::vector<std::unique_ptr<Level>> levels_;  // one open folder per depth in phase 1
  std::unique_ptr<DirReader> fileReader_;       // phase 2
  std::unique_ptr<PseudoFsDetector> pseudoFs_;
  // The start folder, held from phase 1 to phase 2 so that records are reopened below it
  // without following links and without walking the start path again.
  int baseFd_ = -1;
  std::string basePath_;
};

}  // namespace orbelan
