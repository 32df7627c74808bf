#pragma once
// The two-phase scan of a folder tree: phase 1 records every folder, phase 2 counts
// each recorded folder's own files. Runs on the caller's thread, which alone talks to the
// observer, the face (GUI, report command, tests) that shows progress and answers the
// cancel protocol. With more than one thread, phase 2 is done by worker threads that start
// on the records while phase 1 still finds them; the records and every figure are those of
// the one-thread scan.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/file_draws.h"
#include "scan/scan_rules.h"

namespace orbelan {

class CountingCrew;
class DirReader;
class FolderList;
class ListingHandoff;
class RecordLinks;
struct DescriptorPressure;
class PseudoFsDetector;
struct DirEntry;
struct FolderRec;

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
  // The rules are copied: the scanner never refers back to what it was given.
  Scanner(FolderList& folders, const ScanRules& rules, ScanObserver& observer);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Set by the face (Esc, a click while busy, Ctrl+C) at any time; cleared by Run.
  bool CancelRequested = false;
  bool CancelNoticeShown = false;

  // The threads that count files: 1 counts them on the caller's thread between its
  // checks; more run as workers. Clamped to 1..kMaxThreads.
  void SetThreads(int threads);
  static constexpr int kMaxThreads = 16;
  // The rules of the next runs (a copy), for a scanner kept from one scan to the next.
  void SetRules(const ScanRules& rules) { rules_ = rules; }
  // One per core, at most kMaxThreads.
  static int DefaultThreads();
  // Folders within limits get a few files drawn for the saving estimate while their files
  // are counted (FolderRec::Draws). Off unless set.
  void SetFileDraws(const FileDrawLimits& limits) { draws_ = limits; }
  // The bytes of folders' entries phase 1 may hold at once for phase 2 (survey/
  // listing_handoff.h); past them phase 2 lists the folders itself.
  void SetHandoffBound(std::size_t bytes);

  // Makes the start absolute and tidy by its text (links unresolved), resets the list and
  // both flags, runs phase 1 and, unless cancelled, phase 2. Returns true when both phases
  // completed (the caller then fills the results list).
  bool Run(std::string_view startPath);

  // Folders of the last run that could not be read because the process or the system had
  // no descriptor left even after giving back every one it could. Nothing below such a
  // folder was recorded (phase 1) or its files were not counted (phase 2).
  const std::vector<std::string>& Unscanned() const { return unscanned_; }
  // No worker thread is counting files at this moment (paused, idle or none running).
  bool WorkersAtRest() const;
  // Records whose files the counting workers have finished (on the scan's thread; they
  // count while phase 1 still finds folders). Zero without workers.
  std::int64_t FoldersCounted() const;

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
  bool NextEntry(Level& level, DirEntry& entry, bool& folder);
  bool EnterSubfolder(std::size_t parentDepth, const DirEntry& entry);
  bool AddRecord(const std::string& path, std::int64_t parent, std::size_t depth);
  int OpenSubfolder(std::size_t parentDepth, const char* name);
  bool EnsureLevelFd(std::size_t depth);
  std::size_t ShedLevels(std::size_t parentDepth);
  void ShedLevel(Level& level);
  bool FolderEntryDone();
  void ScanFilesHere();
  void ScanFilesWithCrew();
  void StopCrew();
  void CloseBase();
  // The entries phase 1 hands to phase 2, while Run runs both; null otherwise.
  ListingHandoff* Handoff() const { return handingOff_ ? handoff_.get() : nullptr; }

  FolderList& folders_;
  ScanRules rules_;
  ScanObserver& observer_;

  int threads_ = 1;
  FileDrawLimits draws_;
  std::string path_;  // the folder being walked in phase 1, ending in "/"
  std::vector<std::unique_ptr<Level>> levels_;  // one open folder per depth in phase 1
  std::unique_ptr<DirReader> fileReader_;       // phase 2
  std::unique_ptr<PseudoFsDetector> pseudoFs_;
  std::unique_ptr<RecordLinks> links_;          // each record's parent, for phase 2
  std::unique_ptr<ListingHandoff> handoff_;     // folders' entries from phase 1 to phase 2
  bool handingOff_ = false;
  std::unique_ptr<DescriptorPressure> pressure_;
  std::unique_ptr<CountingCrew> crew_;          // phase 2's workers, when threads_ > 1
  std::vector<std::string> unscanned_;
  // The start folder, held from phase 1 to phase 2 so that records are reopened below it
  // without following links and without walking the start path again.
  int baseFd_ = -1;
  std::string basePath_;
};

}  // namespace orbelan
