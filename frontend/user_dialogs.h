#ifndef TAV_FRONTEND_USER_DIALOGS_H_
#define TAV_FRONTEND_USER_DIALOGS_H_

#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>

class QPrinter;
class QWidget;

namespace tavwin {

// What an open or save dialog shows.
struct FileDialogSetup {
  QString default_suffix;
  QStringList filters;  // "Description (patterns)"
};

// How a plot is exported: the kind of file ("png", "svg" or "pdf"), the plot's size on paper
// in millimetres and, for an image, its resolution in dots per inch.
struct PlotExport {
  QString format = "png";
  double width_mm = 160.0;
  double height_mm = 100.0;
  int dpi = 300;
};

// The questions and dialogs the front end puts to its user. The windows ask through this
// interface so that tests can answer in the user's place.
class UserDialogs {
 public:
  enum class Answer { kYes, kNo, kCancel };

  virtual ~UserDialogs() = default;

  // A confirmation box with Yes, No and Cancel.
  virtual Answer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
  // The same box with a check box "Don't ask again"; *dont_ask_again tells whether the user
  // ticked it.
  virtual Answer AskYesNoCancelOnce(QWidget* parent, const QString& text, bool* dont_ask_again) = 0;
  // An information box with OK.
  virtual void Inform(QWidget* parent, const QString& text) = 0;
  // A warning box with OK, for a file that could not be read or written and the like.
  virtual void Warn(QWidget* parent, const QString& text) = 0;
  // The name of an existing file to open, or empty after Cancel.
  virtual QString OpenFileName(QWidget* parent, const FileDialogSetup& setup,
                               const QString& directory) = 0;
  // The name to save under (the dialog asks before overwriting), or empty after Cancel. The
  // dialog starts on start_name, or in it when it is a directory.
  virtual QString SaveFileName(QWidget* parent, const FileDialogSetup& setup,
                               const QString& start_name) = 0;
  // A font, or nothing after Cancel.
  virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& start) = 0;
  // Lets the user set the printer up; false after Cancel.
  virtual bool ChoosePrinter(QWidget* parent, QPrinter* printer) = 0;
  // A line of text, or nothing after Cancel.
  virtual std::optional<QString> AskText(QWidget* parent, const QString& title,
                                         const QString& label, const QString& start) = 0;
  // The kind, size and resolution of a plot's export, or nothing after Cancel.
  virtual std::optional<PlotExport> ChooseExport(QWidget* parent, const PlotExport& start) = 0;
};

// The toolkit's own message boxes and dialogs.
class QtUserDialogs : public UserDialogs {
 public:
  Answer AskYesNoCancel(QWidget* parent, const QString& text) override;
  Answer AskYesNoCancelOnce(QWidget* parent, const QString& text, bool* dont_ask_again) override;
  void Inform(QWidget* parent, const QString& text) override;
  void Warn(QWidget* parent, const QString& text) override;
  QString OpenFileName(QWidget* parent, const FileDialogSetup& setup,
                       const QString& directory) override;
  QString SaveFileName(QWidget* parent, const FileDialogSetup& setup,
                       const QString& start_name) override;
  std::optional<QFont> ChooseFont(QWidget* parent, const QFont& start) override;
  bool ChoosePrinter(QWidget* parent, QPrinter* printer) override;
  std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& label,
                                 const QString& start) override;
  std::optional<PlotExport> ChooseExport(QWidget* parent, const PlotExport& start) override;
};

// "All Files" with the pattern that matches every file on this platform.
QString AllFilesFilter();

}  // namespace tavwin

#endif  // TAV_FRONTEND_USER_DIALOGS_H_
