#include "app/list_actions.h"

#include <QApplication>
#include <QString>

#include "ui/interaction.h"
#include "dialogs/entry_list_widget.h"
#include "settings/settings.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"

namespace orbelan {

namespace {

// The folder as the results list captions it: blanks and control bytes trimmed off both
// ends, lower-cased, ending in "/" (the form the ignored-path matching compares against).
std::string CaptionOf(const std::string& path) {
  auto trimmed = [](char c) { return static_cast<unsigned char>(c) < 33; };
  std::size_t first = 0;
  std::size_t last = path.size();
  while (first < last && trimmed(path[first])) ++first;
  while (last > first && trimmed(path[last - 1])) --last;
  std::string caption = LowerAscii(std::string_view(path).substr(first, last - first));
  if (caption.empty() || caption.back() != '/') caption.push_back('/');
  return caption;
}

void AppendAndSave(QWidget* parent, Settings& settings, EntryList& list, std::string entry,
                   const char* fullText) {
  const QString title = QApplication::applicationName();
  if (!FitsOneLine(entry)) {
    // The settings file keeps one entry per line; a cut entry would name another folder.
    interaction().ShowMessage(parent,
                              "This folder's path holds a line break, so it cannot be kept "
                              "in the settings file.",
                              title);
    return;
  }
  if (!list.Append(std::move(entry))) {
    interaction().ShowMessage(parent, fullText, title);
    return;
  }
  try {
    settings.SaveSettings();
  } catch (const SettingsWriteError& error) {
    // The entry stays in memory; the next save (at the latest on closing) tries again.
    interaction().ShowError(parent, QString::fromStdString(error.what()) + ".");
  }
}

}  // namespace

void mnuIgnorePathClick(QWidget* parent, Settings& settings, const FolderRec* rec) {
  if (!rec) return;
  AppendAndSave(parent, settings, settings.IgnorePaths, CaptionOf(rec->Path()),
                "The list of paths to ignore is full (50 entries). Delete some of them in the "
                "settings first.");
}

void mnuAddFavorClick(QWidget* parent, Settings& settings, const FolderRec* rec) {
  if (!rec) return;
  AppendAndSave(parent, settings, settings.Favorites, rec->Path(),
                "The list of favorite folders is full (50 entries). Delete some of them in the "
                "settings first.");
}

}  // namespace orbelan
