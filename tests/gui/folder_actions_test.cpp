// Explore, the two recycle commands and the folder drop, against real folders in a
// temporary directory; boxes and the trash are answered by the scripted interaction
// (one test uses the real trash, kept inside the temporary directory).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "ui/desktop_interaction.h"
#include "app/folder_actions.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan {
namespace {

const QString kDropCaption = "Folder drag/drop";
const QString kDropError = "An error occurred while checking the folder you have dropped.";
const QString kNotAFolder = "The item you have dropped does not appear to be a folder.";

void MakeFile(const QString& path, const QByteArray& content = "data") {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(content);
}

QUrl Url(const QString& path) { return QUrl::fromLocalFile(path); }

// A path's bytes as the file system holds them.
std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

class FolderActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
  QString At(const QString& relative) const { return tmp.path() + "/" + relative; }

  QTemporaryDir tmp;
  testing::ScriptedInteraction script;
};

// ---- Explore ------------------------------------------------------------------------

TEST_F(FolderActionsTest, ExploreOpensThePathAsGiven) {
  ExploreFolder("/home/Ann/Mixed Case/");
  EXPECT_EQ(script.openedFolders, QStringList{"/home/Ann/Mixed Case/"});
}

TEST_F(FolderActionsTest, ExploreKeepsTheBytesOfANameThatIsNotUtf8) {
  const std::string folder = "/tmp/caf\xe9/\xff\xfe dir/";
  ExploreFolder(folder);
  EXPECT_EQ(script.openedFolderBytes, std::vector<std::string>{folder});

  // The desktop is handed a file URL that decodes to exactly those bytes.
  const QUrl url = LocalFileUrl(folder);
  ASSERT_TRUE(url.isValid());
  EXPECT_TRUE(url.isLocalFile());
  EXPECT_EQ(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString(),
            folder);
  // A UTF-8 path gets the same URL as the text path would.
  EXPECT_EQ(LocalFileUrl(Bytes("/home/Ann/Mixed Case/Été/")),
            QUrl::fromLocalFile("/home/Ann/Mixed Case/Été/"));
}

// ---- Dropped folder -----------------------------------------------------------------

TEST_F(FolderActionsTest, DroppedFolderIsReturnedInItsOwnCaseWithoutAddingASlash) {
  ASSERT_TRUE(QDir().mkpath(At("Data/Old")));
  const auto path = DroppedFolder(nullptr, {Url(At("Data/Old"))});
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, Bytes(At("Data/Old")));
  EXPECT_TRUE(script.shown.empty());

  // Non-ASCII but valid UTF-8 names come through unchanged.
  ASSERT_TRUE(QDir().mkpath(At("Résumés été")));
  EXPECT_EQ(DroppedFolder(nullptr, {Url(At("Résumés été"))}), Bytes(At("Résumés été")));
}

TEST_F(FolderActionsTest, NothingDroppedDoesNothing) {
  EXPECT_FALSE(DroppedFolder(nullptr, {}).has_value());
  EXPECT_TRUE(script.shown.empty());
}

TEST_F(FolderActionsTest, DroppedFileAndVanishedPathAreRefusedWithTheirMessages) {
  MakeFile(At("notes.txt"));
  EXPECT_FALSE(DroppedFolder(nullptr, {Url(At("notes.txt"))}).has_value());
  ASSERT_EQ(script.shown.size(), 1u);
  EXPECT_EQ(script.shown[0].text, kNotAFolder);
  EXPECT_EQ(script.shown[0].caption, kDropCaption);

  EXPECT_FALSE(DroppedFolder(nullptr, {Url(At("gone"))}).has_value());
  ASSERT_EQ(script.shown.size(), 2u);
  EXPECT_EQ(script.shown[1].text, kDropError);
  EXPECT_EQ(script.shown[1].caption, kDropCaption);

  // Something that is not a local file at all.
  EXPECT_FALSE(DroppedFolder(nullptr, {QUrl("https://example.com/folder/")}).has_value());
  EXPECT_EQ(script.Texts("message").last(), kDropError);
  EXPECT_EQ(script.shown.size(), 3u);
}

TEST_F(FolderActionsTest, TwoFoldersDroppedWarnOnceAndTakeTheFirst) {
  ASSERT_TRUE(QDir().mkpath(At("First")));
  ASSERT_TRUE(QDir().mkpath(At("Second")));
  const auto path = DroppedFolder(nullptr, {Url(At("First")), Url(At("Second"))});
  EXPECT_EQ(path, Bytes(At("First")));
  ASSERT_EQ(script.shown.size(), 1u);
  EXPECT_EQ(script.shown[0].text, "More than one folder dropped.  Only first folder will be processed.");
  EXPECT_EQ(script.shown[0].caption, "Multiple folder drop");

  // The first item alone decides: a file first is refused even if a folder follows.
  MakeFile(At("file"));
  script.shown.clear();
  EXPECT_FALSE(DroppedFolder(nullptr, {Url(At("file")), Url(At("First"))}).has_value());
  EXPECT_EQ(script.Texts("message"),
            (QStringList{"More than one folder dropped.  Only first folder will be processed.", kNotAFolder}));
}

TEST_F(FolderActionsTest, LinksAreJudgedByWhatTheyName) {
  ASSERT_TRUE(QDir().mkpath(At("real")));
  MakeFile(At("file"));
  ASSERT_EQ(::symlink(QFile::encodeName(At("real")).constData(), QFile::encodeName(At("to-dir")).constData()), 0);
  ASSERT_EQ(::symlink(QFile::encodeName(At("file")).constData(), QFile::encodeName(At("to-file")).constData()), 0);
  ASSERT_EQ(::symlink("nowhere", QFile::encodeName(At("dangling")).constData()), 0);

  EXPECT_EQ(DroppedFolder(nullptr, {Url(At("to-dir"))}), Bytes(At("to-dir")));  // the link's own path
  EXPECT_TRUE(script.shown.empty());
  EXPECT_FALSE(DroppedFolder(nullptr, {Url(At("to-file"))}).has_value());
  EXPECT_FALSE(DroppedFolder(nullptr, {Url(At("dangling"))}).has_value());
  EXPECT_EQ(script.Texts("message"), (QStringList{kNotAFolder, kDropError}));
}

TEST_F(FolderActionsTest, NonUtf8NameIsCheckedAndReturnedByItsRealBytes) {
  const QByteArray base = QFile::encodeName(tmp.path());
  const QByteArray folder = base + "/caf\xe9";  // Latin-1, not UTF-8
  ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
  const QUrl url = QUrl::fromEncoded("file://" + folder.toPercentEncoding("/"));
  ASSERT_TRUE(url.isValid());

  // A folder like any other: its exact bytes come back to be scanned, without a message.
  EXPECT_EQ(DroppedFolder(nullptr, {url}), folder.toStdString());
  EXPECT_TRUE(script.shown.empty());

  // A non-UTF-8 file is still told apart from a folder by its real bytes.
  const QByteArray file = base + "/r\xe9sum\xe9.txt";
  const int fd = ::open(file.constData(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(DroppedFolder(nullptr, {QUrl::fromEncoded("file://" + file.toPercentEncoding("/"))}).has_value());
  EXPECT_EQ(script.Texts("message"), QStringList{kNotAFolder});

  // QTemporaryDir cannot name these either: remove them by their bytes.
  ::unlink(file.constData());
  ::rmdir(folder.constData());
}

TEST_F(FolderActionsTest, LongPathIsReadWhole) {
  // 3 levels of 60 characters: far beyond the old 119-character cut, whose cut path
  // would not exist.
  QString path = tmp.path();
  for (char c : {'a', 'b', 'c'}) path += "/" + QString(60, QLatin1Char(c));
  ASSERT_TRUE(QDir().mkpath(path));
  ASSERT_GT(path.size(), 119);
  EXPECT_EQ(DroppedFolder(nullptr, {Url(path)}), Bytes(path));
  EXPECT_TRUE(script.shown.empty());
}

// Builds a chain of folders relative to descriptors, since the whole path is longer than
// the kernel accepts in one call; removes it the same way.
class DeepChain {
 public:
  DeepChain(const QString& base, int levels, int nameLength) : name_(nameLength, 'd') {
    fds_.push_back(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY));
    path_ = base;
    for (int i = 0; i < levels && fds_.back() >= 0; ++i) {
      if (::mkdirat(fds_.back(), name_.c_str(), 0700) != 0) break;
      fds_.push_back(::openat(fds_.back(), name_.c_str(), O_RDONLY | O_DIRECTORY));
      path_ += "/" + QString::fromStdString(name_);
    }
  }
  ~DeepChain() {
    for (std::size_t i = fds_.size(); i-- > 1;) {
      ::close(fds_[i]);
      ::unlinkat(fds_[i - 1], name_.c_str(), AT_REMOVEDIR);
    }
    if (!fds_.empty() && fds_[0] >= 0) ::close(fds_[0]);
  }
  int Fd() const { return fds_.back(); }
  const QString& Path() const { return path_; }

 private:
  std::string name_;
  std::vector<int> fds_;
  QString path_;
};

TEST_F(FolderActionsTest, PathLongerThanTheKernelLimitIsReadWhole) {
  DeepChain chain(tmp.path(), 25, 200);
  ASSERT_GT(chain.Path().size(), 4096);
  ASSERT_GE(chain.Fd(), 0);
  EXPECT_EQ(DroppedFolder(nullptr, {Url(chain.Path())}), Bytes(chain.Path()));
  EXPECT_TRUE(script.shown.empty());

  // And a file at that depth is still seen as a file.
  const int fd = ::openat(chain.Fd(), "leaf.txt", O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(DroppedFolder(nullptr, {Url(chain.Path() + "/leaf.txt")}).has_value());
  EXPECT_EQ(script.Texts("message"), QStringList{kNotAFolder});
  ::unlinkat(chain.Fd(), "leaf.txt", 0);
}

// ---- Recycle ------------------------------------------------------------------------

class RecycleTest : public FolderActionsTest {
 protected:
  // A folder with every kind of own entry, and a subfolder with a file of its own.
  void SetUp() override {
    FolderActionsTest::SetUp();
    folder = At("Work") + "/";
    ASSERT_TRUE(QDir().mkpath(folder + "sub/deeper"));
    MakeFile(folder + "report.txt");
    MakeFile(folder + ".hidden");
    MakeFile(folder + "archive.zip");
    MakeFile(folder + "sub/inside.txt");
    ASSERT_EQ(::symlink("sub", QFile::encodeName(folder + "link-to-sub").constData()), 0);
    ASSERT_EQ(::symlink("missing", QFile::encodeName(folder + "dangling").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "pipe").constData(), 0600), 0);
  }
  QStringList OwnNonFolders() const {
    QStringList names = {"report.txt", ".hidden", "archive.zip", "link-to-sub", "dangling", "pipe"};
    for (QString& name : names) name.prepend(folder);
    names.sort();
    return names;
  }
  QString folder;
};

TEST_F(RecycleTest, FilesNeedAYesAndThenGoExactlyTheFolderOwnNonFolders) {
  RecycleFiles(nullptr, Bytes(folder));  // the script answers No
  ASSERT_EQ(script.shown.size(), 1u);
  EXPECT_EQ(script.shown[0].kind, "question");
  EXPECT_EQ(script.shown[0].caption, "Recycle files");
  EXPECT_TRUE(script.shown[0].text.contains(folder));
  EXPECT_TRUE(script.trashed.isEmpty());

  script.yesNo = {true};
  RecycleFiles(nullptr, Bytes(folder));
  QStringList trashed = script.trashed;
  trashed.sort();
  EXPECT_EQ(trashed, OwnNonFolders());  // links themselves, never what they name
  EXPECT_EQ(script.Texts("message"), QStringList{});

  // Without the trailing "/" the same entries are named.
  script.trashed.clear();
  script.yesNo = {true};
  RecycleFiles(nullptr, Bytes(At("Work")));
  trashed = script.trashed;
  trashed.sort();
  EXPECT_EQ(trashed, OwnNonFolders());
}

TEST_F(RecycleTest, FilesThatCannotBeMovedAreCountedInOneMessage) {
  script.trashSucceeds = false;
  script.yesNo = {true};
  RecycleFiles(nullptr, Bytes(folder));
  const QStringList messages = script.Texts("message");
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith("6 files of ")) << messages[0].toStdString();

  // One failure names the folder, not the count twice.
  const QString single = At("Single/");
  ASSERT_TRUE(QDir().mkpath(single));
  MakeFile(single + "only.txt");
  script.shown.clear();
  script.yesNo = {true};
  RecycleFiles(nullptr, Bytes(single));
  EXPECT_EQ(script.Texts("message"),
            QStringList{"1 file of " + single + " could not be moved to the trash."});

  // A folder that vanished before the Yes is reported, not silently passed over.
  script.shown.clear();
  script.yesNo = {true};
  RecycleFiles(nullptr, Bytes(At("gone/")));
  EXPECT_EQ(script.Texts("message").size(), 1);
}

TEST_F(RecycleTest, DirectoryGoesWithoutItsTrailingSlashAfterAYes) {
  RecycleDirectory(nullptr, Bytes(folder));
  EXPECT_EQ(script.Texts("question").size(), 1);
  EXPECT_TRUE(script.trashed.isEmpty());

  script.yesNo = {true};
  RecycleDirectory(nullptr, Bytes(folder));
  EXPECT_EQ(script.trashed, QStringList{At("Work")});
  EXPECT_EQ(script.shown.back().caption, "Recycle directory");

  script.trashSucceeds = false;
  script.yesNo = {true};
  RecycleDirectory(nullptr, Bytes(folder));
  EXPECT_EQ(script.Texts("message").size(), 1);  // the failure is told
}

TEST_F(RecycleTest, RootFolderIsRefusedWithoutAQuestion) {
  script.yesNo = {true, true, true};
  for (const std::string root : {"/", "", "//"}) {
    script.shown.clear();
    RecycleDirectory(nullptr, root);
    ASSERT_EQ(script.shown.size(), 1u);
    EXPECT_EQ(script.shown[0].kind, "message");
  }
  EXPECT_TRUE(script.trashed.isEmpty());
  EXPECT_EQ(script.yesNo.size(), 3u);
}

TEST_F(FolderActionsTest, RecycleOfAFolderNamedInOtherBytesTrashesThoseBytes) {
  const std::string folder = Bytes(tmp.path()) + "/\xff\xfe";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::vector<std::string> files = {folder + "/a.txt", folder + "/\xe9t\xe9.bin"};
  for (const std::string& file : files) {
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }

  script.yesNo = {true};
  RecycleFiles(nullptr, folder + "/");
  std::vector<std::string> trashed = script.trashedBytes;
  std::sort(trashed.begin(), trashed.end());
  EXPECT_EQ(trashed, files);
  EXPECT_TRUE(script.Texts("message").isEmpty());

  script.trashedBytes.clear();
  script.yesNo = {true};
  RecycleDirectory(nullptr, folder + "/");
  EXPECT_EQ(script.trashedBytes, std::vector<std::string>{folder});

  for (const std::string& file : files) ::unlink(file.c_str());
  ::rmdir(folder.c_str());
}

// The scripted answers with the real trash underneath.
class RealTrash : public testing::ScriptedInteraction {
 public:
  bool MoveToTrash(const std::string& path) override {
    trashed << QString::fromStdString(path);
    return desktop.MoveToTrash(path);
  }
  DesktopInteraction desktop;
};

TEST_F(FolderActionsTest, RealTrashTakesTheFilesAndLeavesTheSubfolders) {
  // Keep the user's own trash out of it: home and data folder inside the temporary folder.
  const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(At("home")));
  qputenv("XDG_DATA_HOME", QFile::encodeName(At("home/.local/share")));
  {
    RealTrash trash;  // replaces this fixture's script while it lives
    const QString folder = At("Work/");
    ASSERT_TRUE(QDir().mkpath(folder + "sub"));
    MakeFile(folder + "a.txt", "alpha");
    MakeFile(folder + ".b", "beta");
    MakeFile(folder + "sub/c.txt");

    trash.yesNo = {true};
    RecycleFiles(nullptr, Bytes(folder));
    EXPECT_EQ(trash.trashed.size(), 2);
    EXPECT_TRUE(trash.Texts("message").isEmpty());
    EXPECT_FALSE(QFile::exists(folder + "a.txt"));
    EXPECT_FALSE(QFile::exists(folder + ".b"));
    EXPECT_TRUE(QFile::exists(folder + "sub/c.txt"));

    const QString files = At("home/.local/share/Trash/files/");
    QFile kept(files + "a.txt");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "alpha");
    EXPECT_TRUE(QFile::exists(files + ".b"));
    EXPECT_TRUE(QFile::exists(At("home/.local/share/Trash/info/a.txt.trashinfo")));

    // Then the whole folder; a second try finds nothing and says so.
    trash.yesNo = {true, true};
    RecycleDirectory(nullptr, Bytes(folder));
    EXPECT_FALSE(QFile::exists(At("Work")));
    EXPECT_TRUE(QFile::exists(files + "Work/sub/c.txt"));
    RecycleDirectory(nullptr, Bytes(folder));
    EXPECT_EQ(trash.Texts("message").size(), 1);
  }
  qputenv("HOME", oldHome);
  if (oldData.isNull()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldData);
}

TEST_F(FolderActionsTest, RealTrashTakesLinksThemselvesDanglingOrNot) {
  const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(At("home")));
  qputenv("XDG_DATA_HOME", QFile::encodeName(At("home/.local/share")));
  {
    RealTrash trash;
    const QString folder = At("Links/");
    ASSERT_TRUE(QDir().mkpath(folder));
    MakeFile(folder + "a.txt", "alpha");
    // One link names a file of the same folder (it dangles once that file is trashed),
    // one names nothing at all, one has a blank and a byte that needs escaping.
    ASSERT_EQ(::symlink("a.txt", QFile::encodeName(folder + "to-a").constData()), 0);
    ASSERT_EQ(::symlink("missing", QFile::encodeName(folder + "dangling").constData()), 0);
    ASSERT_EQ(::symlink("/nowhere", QFile::encodeName(folder + "odd %name").constData()), 0);
    // A name already in the trash: the second link gets a name of its own.
    const QString files = At("home/.local/share/Trash/files/");
    ASSERT_TRUE(QDir().mkpath(files));
    MakeFile(files + "dangling", "older");

    trash.yesNo = {true};
    RecycleFiles(nullptr, Bytes(folder));
    EXPECT_EQ(trash.trashed.size(), 4);
    EXPECT_TRUE(trash.Texts("message").isEmpty()) << trash.Texts("message").join('|').toStdString();
    EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System |
                                       QDir::Hidden).isEmpty());

    // The links went as links, with their targets unchanged; the older entry stays.
    EXPECT_EQ(QFileInfo(files + "to-a").symLinkTarget(), files + "a.txt");
    char target[64] = {};
    ASSERT_GT(::readlink(QFile::encodeName(files + "dangling 2").constData(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "missing");
    QFile older(files + "dangling");
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll(), "older");

    // Each has its info file: where it came from, escaped, and when.
    QFile info(At("home/.local/share/Trash/info/odd %name.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(info.readAll());
    EXPECT_TRUE(text.startsWith("[Trash Info]\nPath=")) << text.toStdString();
    EXPECT_TRUE(text.contains("Path=" + QString::fromLatin1(Bytes(folder).c_str()) + "odd%20%25name\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
        << text.toStdString();
    EXPECT_TRUE(QFile::exists(At("home/.local/share/Trash/info/dangling 2.trashinfo")));
    EXPECT_TRUE(QFile::exists(At("home/.local/share/Trash/info/to-a.trashinfo")));
  }
  qputenv("HOME", oldHome);
  if (oldData.isNull()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldData);
}

TEST_F(FolderActionsTest, RealTrashTakesNamesThatAreNotUtf8ByTheirBytes) {
  const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(At("home")));
  qputenv("XDG_DATA_HOME", QFile::encodeName(At("home/.local/share")));
  {
    RealTrash trash;
    const std::string folder = Bytes(tmp.path()) + "/Work\xff";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string odd = folder + "/\xe9.txt", plain = folder + "/plain.txt";
    for (const std::string& file : {odd, plain}) {
      const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0600);
      ASSERT_GE(fd, 0);
      ::close(fd);
    }
    // The folder the decoded name would stand for: its file must not go in their place.
    const std::string lookalike = Bytes(tmp.path()) + "/Work\xef\xbf\xbd";
    ASSERT_EQ(::mkdir(lookalike.c_str(), 0700), 0);
    const std::string innocent = lookalike + "/plain.txt";
    const int fd = ::open(innocent.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);

    // Both names go to the trash by their own bytes; nothing moves under a substituted name.
    trash.yesNo = {true};
    RecycleFiles(nullptr, folder);
    EXPECT_EQ(trash.trashed.size(), 2);
    EXPECT_TRUE(trash.Texts("message").isEmpty());
    struct stat info {};
    EXPECT_NE(::stat(odd.c_str(), &info), 0);
    EXPECT_NE(::stat(plain.c_str(), &info), 0);
    EXPECT_EQ(::stat(innocent.c_str(), &info), 0);
    const std::string files = Bytes(At("home/.local/share/Trash/files/"));
    EXPECT_EQ(::stat((files + "\xe9.txt").c_str(), &info), 0);
    EXPECT_EQ(::stat((files + "plain.txt").c_str(), &info), 0);

    ::rmdir(folder.c_str());
    // The temporary folder's own clean-up goes by decoded names and cannot remove these.
    ::unlink((files + "\xe9.txt").c_str());
    ::unlink((Bytes(At("home/.local/share/Trash/info/")) + "\xe9.txt.trashinfo").c_str());
  }
  qputenv("HOME", oldHome);
  if (oldData.isNull()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldData);
}

// ---- Explore without a file manager --------------------------------------------------
// xdg-open fails after it started; a stand-in xdg-open on PATH plays the desktop.

class ExploreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldPath_ = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir_.path()) + ":" + oldPath_);
  }
  void TearDown() override { qputenv("PATH", oldPath_); }

  // An xdg-open that records its argument and ends with the given status.
  void FakeOpener(int status) {
    QFile script(dir_.path() + "/xdg-open");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s' \"$1\" > '" + QFile::encodeName(dir_.path()) + "/asked'\nexit " +
                 QByteArray::number(status) + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  // Lets the opener run to its end (it is not waited for by the program).
  void WaitForAnswer(const testing::ScriptedInteraction& script) {
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && !QFile::exists(dir_.path() + "/asked")) QThread::msleep(5);
    QDeadlineTimer settle(300);
    while (!settle.hasExpired() && script.shown.empty()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    }
  }
  QByteArray Asked() {
    QFile asked(dir_.path() + "/asked");
    return asked.open(QIODevice::ReadOnly) ? asked.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  QByteArray oldPath_;
  testing::ScriptedInteraction script;
};

TEST_F(ExploreTest, NoFileManagerIsToldInAMessage) {
  FakeOpener(3);  // xdg-open's status when it finds no program for folders
  DesktopInteraction desktop;
  desktop.OpenFolder("/srv/My Data/\xff/");
  WaitForAnswer(script);
  EXPECT_EQ(Asked(), "file:///srv/My%20Data/%FF/");  // the folder's own bytes
  ASSERT_EQ(script.shown.size(), 1u);
  EXPECT_EQ(script.shown[0].kind, "message");
  EXPECT_EQ(script.shown[0].caption, "Explore");
  EXPECT_TRUE(script.shown[0].text.contains("no file manager")) << script.shown[0].text.toStdString();
}

TEST_F(ExploreTest, AFileManagerThatOpensTheFolderSaysNothing) {
  FakeOpener(0);
  DesktopInteraction desktop;
  desktop.OpenFolder("/srv/data/");
  WaitForAnswer(script);
  EXPECT_EQ(Asked(), "file:///srv/data/");
  EXPECT_TRUE(script.shown.empty());
}

}  // namespace
}  // namespace orbelan
