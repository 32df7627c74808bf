#pragma once
// The main window over a tree of real files in a temporary folder, for the tests that scan
// through it: a settings file of its own, no splash, every folder listed, every modal box
// answered by the scripted interaction.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/main_form.h"
#include "app/results_model.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan::testing {

// A path's bytes as the file system holds them.
inline std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A file of size bytes, its folders made as needed.
inline void MakeFile(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(QByteArray(size, 'x'));
}

class FormTest : public ::testing::Test {
 protected:
  // root_ is dir_/Tree, for the test to fill; the window is made by OpenForm.
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/Tree";
  }
  // A new window (the old one goes first), shown and active, listing folders of any size;
  // estimate: whether it estimates savings.
  void OpenForm(bool estimate = true) {
    TForm1::Options options;
    options.settingsFile = (dir_.path() + "/orbelan.dat").toStdString();
    options.startSplashTimer = false;
    form_.reset();
    form_ = std::make_unique<TForm1>(options);
    form_->settings.MinSize = 0;
    if (!estimate) form_->settings.EstimateSavings = false;
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  // The Path column from top to bottom.
  QStringList PathColumn() const {
    QStringList out;
    auto* model = form_->Model();
    for (int r = 0; r < model->rowCount(); ++r) out << model->data(model->index(r, 0)).toString();
    return out;
  }

  QTemporaryDir dir_;
  QString root_;
  ScriptedInteraction script_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace orbelan::testing
