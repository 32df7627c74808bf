#include "dialogs/frm_lists.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <vector>

#include "ui/interaction.h"
#include "dialogs/entry_list_widget.h"
#include "settings/settings.h"
#include "ui/face_fonts.h"
#include "ui/readable_colour.h"
#include "dialogs/size_spin_box.h"
#include "scan/scan_rules.h"

namespace orbelan {

namespace {

constexpr int kClientWidth = 354;
constexpr int kClientHeight = 369;
constexpr int kTabHeight = 272;
constexpr int kDontShowHeight = 56;
constexpr int kBottomHeight = 41;

QString AppTitle() { return QApplication::applicationName(); }

void ShowPlain(QWidget* parent, const QString& text) {
  interaction().ShowMessage(parent, text, AppTitle());
}

QLabel* MaroonLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  KeepTextReadable(label, QColor(128, 0, 0));
  return label;
}

struct PageNames {
  const char* caption;
  const char* label;
  const char* list;
  const char* add;
  const char* edit;
  const char* del;
};

}  // namespace

TfrmLists::TfrmLists(Settings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      settings_(settings) {
  setObjectName("frmLists");
  // One name for one dialog: the menu's, the button's and the window's.
  setWindowTitle("Preferences");
  setModal(false);
  setFont(DialogSansFont(11));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  tab1_ = new QTabWidget(this);
  tab1_->setObjectName("tab1");
  tab1_->setFixedHeight(kTabHeight);
  // All four captions in view, no scroll arrows: the tabs keep the style's own spacing
  // (one style sizing a tab and another drawing it clips the caption) and the dialog widens
  // to hold them (FitTabs).
  tab1_->setUsesScrollButtons(false);
  outer->addWidget(tab1_);

  // One page per list: label across the top, the list, then Add / Edit / Delete.
  auto makePage = [this](const PageNames& names, void (TfrmLists::*add)(),
                         void (TfrmLists::*edit)(), void (TfrmLists::*del)(),
                         void (TfrmLists::*browse)() = nullptr) {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(6, 4, 6, 4);
    QLabel* label = MaroonLabel(names.label, page);
    label->setWordWrap(true);  // whole under any style and scale, never clipped
    column->addWidget(label);
    auto* list = new QListWidget(page);
    list->setObjectName(names.list);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    column->addWidget(list, 1);
    auto* row = new QHBoxLayout;
    auto button = [&](const char* name, const char* text, void (TfrmLists::*handler)()) {
      auto* b = new QPushButton(text, page);
      b->setObjectName(name);
      connect(b, &QPushButton::clicked, this, handler);
      return b;
    };
    row->addWidget(button(names.add, "&Add", add));
    if (browse) {
      row->addStretch(1);
      row->addWidget(button("butBrowsePaths", "&Browse...", browse));
    }
    row->addStretch(1);
    row->addWidget(button(names.edit, "&Edit", edit));
    row->addStretch(1);
    row->addWidget(button(names.del, "&Delete", del));
    column->addLayout(row);
    tab1_->addTab(page, names.caption);
    return list;
  };
  lstZips_ = makePage({"Zip extensions", "Files with these extensions are compressed archives:",
                       "lstZips", "butAddZip", "butEditZips", "butDelZip"},
                      &TfrmLists::butAddZipClick, &TfrmLists::butEditZipsClick,
                      &TfrmLists::butDelZipClick);
  lstPaths_ = makePage({"Paths to ignore", "These paths should be ignored:", "lstPaths",
                        "butAddPaths", "butEditPaths", "butDelPaths"},
                       &TfrmLists::butAddPathsClick, &TfrmLists::butEditPathsClick,
                       &TfrmLists::butDelPathsClick, &TfrmLists::butBrowsePathsClick);
  lstFiles_ = makePage({"Files types to ignore", "Files with these extensions should be ignored:",
                        "lstFiles", "butAddFiles", "butEditFiles", "butDelFiles"},
                       &TfrmLists::butAddFilesClick, &TfrmLists::butEditFilesClick,
                       &TfrmLists::butDelFilesClick);
  lstFav_ = makePage({"Favorites", "Your favorite folders, offered by File > Scan favorite folder:",
                      "lstFav", "butAdd", "butEdit", "butDel"},
                     &TfrmLists::butAddClick, &TfrmLists::butEditClick, &TfrmLists::butDelClick);

  auto* panDontShow = new QWidget(this);
  panDontShow->setObjectName("panDontShow");
  panDontShow->setFixedHeight(kDontShowHeight);
  auto* options = new QVBoxLayout(panDontShow);
  options->setContentsMargins(8, 4, 8, 4);
  options->setSpacing(2);
  auto* sizeRow = new QHBoxLayout;
  options->addLayout(sizeRow);
  sizeRow->addStretch(1);
  sizeRow->addWidget(new QLabel("Don't show unless over ", panDontShow));
  spinSize_ = new SizeSpinBox(panDontShow);
  spinSize_->setObjectName("spinSize");
  spinSize_->setFixedWidth(70);
  sizeRow->addWidget(spinSize_);
  // The field counts kilobytes of 1024 bytes: "0 K" alone named no unit anyone uses.
  sizeRow->addWidget(new QLabel("KiB in size", panDontShow));
  sizeRow->addStretch(1);
  chkEstimate_ = new QCheckBox("E&stimate how much zipping each listed folder would save",
                               panDontShow);
  chkEstimate_->setObjectName("chkEstimate");
  auto* estimateRow = new QHBoxLayout;
  estimateRow->addStretch(1);
  estimateRow->addWidget(chkEstimate_);
  estimateRow->addStretch(1);
  options->addLayout(estimateRow);
  outer->addWidget(panDontShow);

  auto* panBottom = new QWidget(this);
  panBottom->setObjectName("panBottom");
  panBottom->setFixedHeight(kBottomHeight);
  auto* buttons = new QHBoxLayout(panBottom);
  buttons->setContentsMargins(8, 0, 8, 0);
  butOK_ = new QPushButton("OK", panBottom);
  butOK_->setObjectName("butOK");
  butOK_->setDefault(true);
  butCancel_ = new QPushButton("Cancel", panBottom);
  butCancel_->setObjectName("butCancel");
  buttons->addStretch(1);
  buttons->addWidget(butOK_);
  buttons->addStretch(1);
  buttons->addWidget(butCancel_);
  buttons->addStretch(1);
  outer->addWidget(panBottom);
  connect(butOK_, &QPushButton::clicked, this, &TfrmLists::butOKClick);
  connect(butCancel_, &QPushButton::clicked, this, &TfrmLists::butCancelClick);

  setFixedSize(kClientWidth, kClientHeight);
}

void TfrmLists::ShowSettings() {
  if (isVisible()) {
    raise();
    activateWindow();
    return;
  }
  show();
  activateWindow();
}

void TfrmLists::showEvent(QShowEvent* event) {
  // A window manager's restore is spontaneous and must not drop pending changes.
  if (!event->spontaneous()) {
    FitTabs();
    frmLists_show();
  }
  QDialog::showEvent(event);
}

void TfrmLists::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (tab1_ && (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange))
    FitTabs();
}

void TfrmLists::FitTabs() {
  // Styles with roomy tabs (Adwaita, Breeze) need more than the classic width for the four
  // captions: the dialog widens rather than cutting one of them short.
  QTabBar* bar = tab1_->tabBar();
  bar->ensurePolished();
  const int frame = tab1_->width() - tab1_->contentsRect().width();
  const int needed = bar->sizeHint().width() + std::max(frame, 4);
  const int width = std::max(kClientWidth, needed);
  if (width != this->width()) setFixedSize(width, kClientHeight);
}

void TfrmLists::frmLists_show() {
  FillSorted(lstZips_, settings_.ZipExts);
  FillSorted(lstPaths_, settings_.IgnorePaths);
  FillSorted(lstFav_, settings_.Favorites);
  FillSorted(lstFiles_, settings_.IgnoreExts);
  spinSize_->setValue(settings_.MinSize);
  chkEstimate_->setChecked(settings_.EstimateSavings);
  tab1_->setCurrentIndex(0);
}

bool TfrmLists::RefuseEntry(const std::string& bytes) {
  if (FitsOneLine(bytes)) return false;
  // A line break would split the entry's line in the settings file.
  ShowPlain(this, "An entry cannot hold a line break.");
  return true;
}

void TfrmLists::AddTyped(QListWidget* list, const QString& caption, const QString& prompt,
                         Normalise rule) {
  const auto answer = interaction().InputBox(this, caption, prompt, QString());
  if (!answer) return;
  std::string entry;
  if (rule == Normalise::DotInFront) {
    entry = answer->toStdString();
    // An empty answer names no extension; a lone "." would match only names ending in a dot.
    if (entry.empty()) return;
    if (entry.front() != '.') entry.insert(entry.begin(), '.');
  } else {
    std::optional<std::string> folder = FolderEntry(QFile::encodeName(*answer).toStdString(), caption);
    if (!folder) return;
    entry = std::move(*folder);
  }
  // Files' extensions are lower-cased before they are compared, and so are folder paths:
  // an entry in capitals would match nothing.
  entry = LowerAscii(entry);
  if (RefuseEntry(entry)) return;
  list->setCurrentRow(InsertSorted(list, entry));
}

std::optional<std::string> TfrmLists::FolderEntry(std::string entry, const QString& caption) {
  if (entry.empty() || RefuseEntry(entry)) return std::nullopt;
  // Folders are matched with their trailing "/": without it an entry matches nothing.
  if (entry.back() != '/') entry.push_back('/');
  // Either spelling counts: the path as typed, or as it is compared, in lower case. The
  // bytes are asked as they are: a name need not be UTF-8.
  auto isFolder = [](const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  };
  if (isFolder(entry) || isFolder(LowerAscii(entry))) return entry;
  const QString question = QString("There is no folder \"%1\". Keep it in the list anyway?")
                               .arg(QFile::decodeName(QByteArray::fromStdString(entry)));
  if (!interaction().AskYesNo(this, question, caption)) return std::nullopt;
  return entry;
}

std::optional<int> TfrmLists::TypedMinSize() {
  if (const std::optional<int> size = SizeSpinBox::TypedValue(spinSize_->TypedText())) return size;
  tab1_->setFocus();  // the message box takes the focus from the field; give it back after
  ShowPlain(this, QString("The minimum size must be a whole number of KiB from %1 to %2, "
                          "not \"%3\".")
                      .arg(spinSize_->minimum())
                      .arg(spinSize_->maximum())
                      .arg(spinSize_->TypedText()));
  spinSize_->setFocus(Qt::OtherFocusReason);
  spinSize_->selectAll();
  return std::nullopt;
}

void TfrmLists::EditSelected(QListWidget* list, const QString& caption, const QString& prompt,
                             bool lowerCase) {
  const int row = SelectedRow(list);
  if (row < 0) {
    ShowPlain(this, "You need to select an item before you can Edit it.");
    return;
  }
  QListWidgetItem* item = list->item(row);
  const auto answer = interaction().InputBox(this, caption, prompt, item->text());
  if (!answer) return;
  std::string entry = AnswerBytes(item, *answer);
  if ((list == lstPaths_ || list == lstFav_) && entry != EntryBytes(item)) {
    // A folder gets its "/" and is kept, when it names none, only if the user says so;
    // an ignored path is compared in lower case, a favourite is scanned as it is spelt.
    std::optional<std::string> folder = FolderEntry(entry, caption);
    if (!folder) return;
    entry = list == lstPaths_ ? LowerAscii(*folder) : *folder;
  }
  if (lowerCase) entry = LowerAscii(entry);  // an extension in capitals would match nothing
  if (RefuseEntry(entry)) return;
  SetEntryBytes(item, entry);  // stays at its place even when it would now sort elsewhere
}

bool TfrmLists::DeleteSelected(QListWidget* list) {
  const int row = SelectedRow(list);
  if (row < 0) return false;
  delete list->takeItem(row);
  // The list would select the next entry, which the user never chose: a second Delete
  // must not remove it.
  list->clearSelection();
  list->setCurrentItem(nullptr);
  return true;
}

void TfrmLists::butAddZipClick() {
  AddTyped(lstZips_, "Add zip extension", "Enter new zip extension here:", Normalise::DotInFront);
}

void TfrmLists::butAddPathsClick() {
  AddTyped(lstPaths_, "Ignore path", "Enter new path to ignore:", Normalise::LowerCase);
}

void TfrmLists::butAddFilesClick() {
  AddTyped(lstFiles_, "Ignore file extension", "Enter new file extension to ignore:",
           Normalise::DotInFront);
}

void TfrmLists::butAddClick() {
  const QString start = lastPicked_.isEmpty() ? QDir::homePath() : lastPicked_;
  const auto picked = interaction().PickFolder(this, "Add a Folder to List", start);
  if (!picked) return;
  QString folder = *picked;
  if (!folder.endsWith('/')) folder += '/';
  lastPicked_ = folder;
  // Favourites keep the folder's real case and bytes.
  const std::string entry = QFile::encodeName(folder).toStdString();
  if (RefuseEntry(entry)) return;
  lstFav_->setCurrentRow(InsertSorted(lstFav_, entry));
}

void TfrmLists::butBrowsePathsClick() {
  const QString start = lastIgnored_.isEmpty() ? QDir::homePath() : lastIgnored_;
  const auto picked = interaction().PickFolder(this, "Choose a Folder to Ignore", start);
  if (!picked || picked->isEmpty()) return;
  QString folder = *picked;
  if (!folder.endsWith('/')) folder += '/';
  lastIgnored_ = folder;
  // Compared in lower case, as a typed path is.
  const std::string entry = LowerAscii(QFile::encodeName(folder).toStdString());
  if (RefuseEntry(entry)) return;
  lstPaths_->setCurrentRow(InsertSorted(lstPaths_, entry));
}

void TfrmLists::butEditZipsClick() {
  EditSelected(lstZips_, "Edit a zip extension", "Enter (or edit) the name of this zip extension.",
               true);
}

void TfrmLists::butEditPathsClick() {
  EditSelected(lstPaths_, "Edit a path to ignore",
               "Enter (or edit) the name of this path to ignore.");
}

void TfrmLists::butEditFilesClick() {
  EditSelected(lstFiles_, "Edit a file type",
               "Enter (or edit) the name of this file type to ignore.", true);
}

void TfrmLists::butEditClick() {
  EditSelected(lstFav_, "Edit a folder", "Enter (or edit) the name of this Favorite folder.");
}

void TfrmLists::butDelZipClick() {
  if (!DeleteSelected(lstZips_))
    interaction().ShowMessage(this, "You have not selected an item from the list.", "Cannot delete");
}

void TfrmLists::butDelPathsClick() {
  if (!DeleteSelected(lstPaths_))
    interaction().ShowMessage(this, "You have not selected an item from the list.", "Cannot delete");
}

void TfrmLists::butDelFilesClick() {
  if (!DeleteSelected(lstFiles_))
    interaction().ShowMessage(this, "You have not selected an item from the list.", "Cannot delete");
}

void TfrmLists::butDelClick() {
  if (!DeleteSelected(lstFav_))
    ShowPlain(this, "You need to select an item before you can Delete it.");
}

bool TfrmLists::ListsFit() {
  const QListWidget* lists[] = {lstZips_, lstPaths_, lstFiles_, lstFav_};
  for (const QListWidget* list : lists) {
    if (list->count() <= kListCapacity) continue;
    QWidget* page = list->parentWidget();
    tab1_->setCurrentWidget(page);
    ShowPlain(this, QString("The list \"%1\" holds %2 entries, but the settings keep at most %3. "
                            "Delete %4 of them, then choose OK again.")
                        .arg(tab1_->tabText(tab1_->indexOf(page)))
                        .arg(list->count())
                        .arg(kListCapacity)
                        .arg(list->count() - kListCapacity));
    return false;
  }
  return true;
}

void TfrmLists::CopyBack(const QListWidget* list, EntryList& entries) {
  entries.Clear();
  for (int row = 0; row < list->count(); ++row) entries.Append(EntryBytes(list->item(row)));
}

namespace {

// The entries of a list as a set: the order in which they stand matches nothing.
std::vector<std::string> SortedEntries(const EntryList& entries) {
  std::vector<std::string> out(entries.Items.begin(), entries.Items.begin() + entries.Count);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

void TfrmLists::butOKClick() {
  // A value still being typed counts; one out of range is refused, never quietly moved.
  const std::optional<int> minSize = TypedMinSize();
  if (!minSize) return;
  // Nothing is copied unless every list fits, so the settings never hold half an edit.
  if (!ListsFit()) return;
  const Settings before = settings_;
  CopyBack(lstZips_, settings_.ZipExts);
  CopyBack(lstPaths_, settings_.IgnorePaths);
  CopyBack(lstFiles_, settings_.IgnoreExts);
  settings_.MinSize = static_cast<std::uint16_t>(*minSize);
  CopyBack(lstFav_, settings_.Favorites);
  settings_.EstimateSavings = chkEstimate_->isChecked();
  changes_.minSize = settings_.MinSize != before.MinSize;
  changes_.scanLists = SortedEntries(settings_.ZipExts) != SortedEntries(before.ZipExts) ||
                       SortedEntries(settings_.IgnorePaths) != SortedEntries(before.IgnorePaths) ||
                       SortedEntries(settings_.IgnoreExts) != SortedEntries(before.IgnoreExts);
  accept();
}

void TfrmLists::butCancelClick() { reject(); }

}  // namespace orbelan
