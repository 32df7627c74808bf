#pragma once
// Everything that blocks on the user or reaches outside the program goes through here:
// message boxes, the input box, the folder picker, our own modal windows, and the desktop
// (file manager, web browser, trash). The program uses DesktopInteraction; tests install
// a scripted one that answers without blocking.

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class QDialog;
class QWidget;

namespace orbelan {

class Interaction {
 public:
  virtual ~Interaction() = default;

  // A modal box with the text, an OK button and no icon. The plain box passes the
  // application's title ("orbelan") as caption.
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption) = 0;
  // The error box: error icon, OK, the application's title as caption; text ends with ".".
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // A Yes/No question; true for Yes. defaultNo: No is the button Enter presses (for
  // questions whose Yes cannot be taken back lightly).
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption,
                        bool defaultNo = false) = 0;
  // The one-line input box (at most 255 characters, start text selected); nullopt on Cancel.
  virtual std::optional<QString> InputBox(QWidget* parent, const QString& caption,
                                          const QString& prompt, const QString& start) = 0;
  // A folder picker; returns the chosen folder's path ending in "/", nullopt on Cancel.
  virtual std::optional<QString> PickFolder(QWidget* parent, const QString& title,
                                            const QString& startDir) = 0;
  // Runs one of our own modal windows (About box, favourites chooser); returns its result code.
  virtual int ExecModal(QDialog* dialog) = 0;

  // Desktop services. Results are not reported to the user. Paths are the file system's
  // own bytes, which need not be valid UTF-8.
  virtual void OpenFolder(const std::string& path) = 0;  // in the desktop's file manager
  virtual void OpenUrl(const QString& url) = 0;          // in the web browser
  // Moves one file or folder to the freedesktop trash; false when it could not.
  virtual bool MoveToTrash(const std::string& path) = 0;
};

// The process-wide instance. Defaults to DesktopInteraction; tests replace it.
Interaction& interaction();
void setInteraction(Interaction* replacement);  // nullptr restores the default

}  // namespace orbelan
