#ifndef TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_
#define TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_

#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace tavwin {

// The command reference "TAV Command Reference": a window of its own beside the frame that
// shows "commands.md", every command of the input language with its syntax and an example.
// When the file was not found (or cannot be read) the window says so and where it looked.
class CommandReferenceWindow : public QWidget {
  Q_OBJECT

 public:
  // path: the reference, or empty when none was found; looked_in: where it was looked for.
  CommandReferenceWindow(const QString& path, const QStringList& looked_in, QWidget* parent);

  QTextBrowser* Browser() const { return browser_; }
  // True when the reference was shown, false when the window says it was not found.
  bool Found() const { return found_; }

 private:
  QTextBrowser* browser_ = nullptr;
  bool found_ = false;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_COMMAND_REFERENCE_WINDOW_H_
