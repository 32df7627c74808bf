#pragma once
// A folder "Work" to zip in a temporary tree, with the default scan rules, a fixed date and
// a real freedesktop.org trash of its own (home/Trash), for the zipper's tests.

#include <gtest/gtest.h>

#include <string>

#include "archive/folder_zipper.h"
#include "platform/trash.h"
#include "settings/settings.h"
#include "tests/core/file_helpers.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan::testing {

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
    options.Trash = [this](const std::string& path, TrashEntry* entry, std::string* error) {
      return MoveToTrash(path, home, entry, error);
    };
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
