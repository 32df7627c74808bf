#pragma once
#include <QUrl>

#include "ui/interaction.h"

namespace orbelan {

// The real answers: Qt message boxes, an input box, the folder picker, the desktop.
class DesktopInteraction : public Interaction {
 public:
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowError(QWidget* parent, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption,
                bool defaultNo = false) override;
  std::optional<QString> InputBox(QWidget* parent, const QString& caption, const QString& prompt,
                                  const QString& start) override;
  std::optional<QString> PickFolder(QWidget* parent, const QString& title,
                                    const QString& startDir) override;
  int ExecModal(QDialog* dialog) override;
  void OpenFolder(const std::string& path) override;
  void OpenUrl(const QString& url) override;
  bool MoveToTrash(const std::string& path) override;
};

// The file URL of a local path, built from its bytes so a name that is not UTF-8 keeps them.
QUrl LocalFileUrl(const std::string& path);

}  // namespace orbelan
