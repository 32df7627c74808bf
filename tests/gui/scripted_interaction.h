#pragma once
// A scripted stand-in for every modal box, picker and desktop call, so GUI tests never
// block: answers are queued beforehand, and everything asked is recorded for checking.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/interaction.h"

namespace orbelan::testing {

struct Shown {
  QString kind;     // "message", "error", "question", "input", "picker", "modal"
  QString text;     // message text, prompt or title
  QString caption;  // caption, or empty
  bool defaultNo = false;  // a question whose default button is No
};

class ScriptedInteraction : public Interaction {
 public:
  ScriptedInteraction() { setInteraction(this); }
  ~ScriptedInteraction() override { setInteraction(nullptr); }

  // Queued answers; an empty queue answers No / Cancel / reject.
  std::deque<bool> yesNo;
  std::deque<std::optional<QString>> inputs;
  std::deque<std::optional<QString>> folders;
  // Called with our own modal dialog instead of exec(); its return value is the result.
  // Default: reject. The callback may click buttons or call dialog->done(...) itself.
  std::function<int(QDialog*)> onModal;
  bool trashSucceeds = true;

  std::vector<Shown> shown;
  // Folders opened and paths trashed: as readable text, and as the exact bytes received.
  QStringList openedFolders, openedUrls, trashed;
  std::vector<std::string> openedFolderBytes, trashedBytes;
  // Called from inside a box (e.g. to check what the window shows while it is open).
  std::function<void(const Shown&)> whileShown;

  void ShowMessage(QWidget*, const QString& text, const QString& caption) override {
    Record({"message", text, caption});
  }
  void ShowError(QWidget*, const QString& text) override { Record({"error", text, {}}); }
  bool AskYesNo(QWidget*, const QString& text, const QString& caption, bool defaultNo = false) override {
    Record({"question", text, caption, defaultNo});
    if (yesNo.empty()) return false;
    bool answer = yesNo.front();
    yesNo.pop_front();
    return answer;
  }
  std::optional<QString> InputBox(QWidget*, const QString& caption, const QString& prompt,
                                  const QString& start) override {
    Record({"input", prompt, caption});
    lastInputStart = start;
    if (inputs.empty()) return std::nullopt;
    auto answer = inputs.front();
    inputs.pop_front();
    return answer;
  }
  std::optional<QString> PickFolder(QWidget*, const QString& title, const QString&) override {
    Record({"picker", title, {}});
    if (folders.empty()) return std::nullopt;
    auto answer = folders.front();
    folders.pop_front();
    return answer;
  }
  int ExecModal(QDialog* dialog) override {
    Record({"modal", dialog->windowTitle(), {}});
    if (!onModal) return QDialog::Rejected;
    return onModal(dialog);
  }
  void OpenFolder(const std::string& path) override {
    openedFolders << QString::fromStdString(path);
    openedFolderBytes.push_back(path);
  }
  void OpenUrl(const QString& url) override { openedUrls << url; }
  bool MoveToTrash(const std::string& path) override {
    trashed << QString::fromStdString(path);
    trashedBytes.push_back(path);
    return trashSucceeds;
  }

  QString lastInputStart;

  // Texts of the boxes of one kind, in order.
  QStringList Texts(const QString& kind) const {
    QStringList out;
    for (const auto& s : shown)
      if (s.kind == kind) out << s.text;
    return out;
  }

 private:
  void Record(const Shown& s) {
    shown.push_back(s);
    if (whileShown) whileShown(s);
  }
};

}  // namespace orbelan::testing
