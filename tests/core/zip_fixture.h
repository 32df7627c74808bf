#pragma once
// A folder "Work" to zip in a temporary tree, with the default scan rules, a fixed date and
// a real freedesktop.org trash of its own (home/Trash) on the folder's file system, for the
// zipper's tests.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "archive/folder_zipper.h"
#include "platform/trash.h"
#include "settings/settings.h"
#include "tests/core/file_helpers.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan::testing {

// Sets or clears a file's immutable flag (root only): such a file cannot be renamed.
inline bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

class ZipFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings defaults;
    defaults.SetDefaults();
    rules = defaults.Rules();
    tree.Dir("Work");
    folder = tree.PathOf("Work") + "/";
    home = tree.PathOf("home/Trash");
    options.Date = "2026-12-08";
    options.HomeFolder = tree.PathOf("elsewhere");
    options.HomeTrash = home;
  }
  std::string At(const std::string& name) const { return folder + name; }

  // Plans the folder's zip and, when the plan holds, runs it.
  ZipResult PlanAndRun(ZipPlan& plan) {
    FolderZipper zipper(options);
    const ZipResult planned = zipper.Plan(folder, rules, plan);
    if (planned.Outcome != ZipOutcome::Done) return planned;
    return zipper.Run(plan);
  }
  ZipResult PlanAndRun() {
    ZipPlan plan;
    return PlanAndRun(plan);
  }

  TempTree tree;
  ScanRules rules;
  ZipOptions options;
  std::string folder;
  std::string home;  // the trash's folder: files/ and info/ below it
};

}  // namespace orbelan::testing
