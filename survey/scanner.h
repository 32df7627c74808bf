#pragma once
// The two-phase scan of a folder tree: phase 1 records every folder, phase 2 counts
// each recorded folder's own files. Runs on the caller's thread; the observer is the
// face (GUI, report command, tests) that shows progress and answers the cancel protocol.

#include <cstdint>
#include <string>
#include <string_view>

namespace orbelan {

class FolderList;
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

class Scanner {
 public:
  Scanner(FolderList& folders, const Settings& settings, ScanObserver& observer);

  // Set by the face (Esc, a click while busy, Ctrl+C) at any time; cleared by Run.
  bool CancelRequested = false;
  bool CancelNoticeShown = false;

  // Resets the list and both flags, runs phase 1 and, unless cancelled, phase 2.
  // Returns true when both phases completed (the caller then fills the results list).
  bool Run(std::string_view startPath);

  void FindFolders(std::string path);  // phase 1 from path, recursively
  void ScanFiles();                    // phase 2 over the whole list
  bool CheckCancel();                  // after every directory entry

 private:
  FolderList& folders_;
  const Settings& settings_;
  ScanObserver& observer_;
};

}  // namespace orbelan
