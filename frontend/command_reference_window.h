#ifndef TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_
#define TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_

#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBlock;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavwin {

// The command reference "TAV Command Reference": a window of its own beside the frame that
// shows "commands.md", every command of the input language with its syntax and an example.
// When the file was not found (or cannot be read) the window says so and where it looked.
//
// The document's headings stand out from its examples: they are set in the window's own
// (proportional) font, bold, larger and in colour, entries ("### `mod`") as the bare command
// name. A contents pane at the left lists the sections and, under each, its commands;
// choosing one scrolls to it. A find bar (Ctrl+F, "Find Next" with Return or F3, the previous
// one with Shift+Return or Shift+F3) searches the text, going on from the top after the end.
class CommandReferenceWindow : public QWidget {
  Q_OBJECT

 public:
  // path: the reference, or empty when none was found; looked_in: where it was looked for.
  CommandReferenceWindow(const QString& path, const QStringList& looked_in, QWidget* parent);

  // True when the reference was shown, false when the window says it was not found.
  bool Found() const { return found_; }

  // Scrolls to the entry of a command (its three-character name, "mod"); false when the
  // reference has no such entry.
  bool ShowEntry(const QString& command);
  // Selects the next (or previous) occurrence of text, going on from the other end; false
  // when there is none.
  bool FindText(const QString& text, bool backward = false);

 private:
  void StyleHeadingsAndListThem();
  void ScrollTo(const QTextBlock& block);
  void ShowFindBar();

  QTextBrowser* browser_ = nullptr;
  QTreeWidget* contents_ = nullptr;
  QWidget* find_bar_ = nullptr;
  QLineEdit* find_edit_ = nullptr;
  QLabel* find_status_ = nullptr;
  bool found_ = false;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_
