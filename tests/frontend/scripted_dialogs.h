#ifndef TAV_TESTS_FRONTEND_SCRIPTED_DIALOGS_H_
#define TAV_TESTS_FRONTEND_SCRIPTED_DIALOGS_H_

// The front end's questions and dialogs answered by a script instead of a user, and a look
// into windows by the kinds of their children and into menus by their texts.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <optional>

#include "user_dialogs.h"

namespace tavwin {

class ScriptedDialogs : public UserDialogs {
 public:
  Answer AskYesNoCancel(QWidget*, const QString& text) override {
    asked << text;
    return answers.isEmpty() ? Answer::kCancel : answers.takeFirst();
  }
  // Ticks "Don't ask again" when dont_ask_again says so.
  Answer AskYesNoCancelOnce(QWidget* parent, const QString& text, bool* checked) override {
    *checked = dont_ask_again;
    return AskYesNoCancel(parent, text);
  }
  void Inform(QWidget*, const QString& text) override { informed << text; }
  void Warn(QWidget*, const QString& text) override { warned << text; }
  QString OpenFileName(QWidget*, const FileDialogSetup& setup, const QString&) override {
    last_setup = setup;
    return open_names.isEmpty() ? QString() : open_names.takeFirst();
  }
  QString SaveFileName(QWidget*, const FileDialogSetup& setup, const QString& start) override {
    last_setup = setup;
    save_starts << start;
    return save_names.isEmpty() ? QString() : save_names.takeFirst();
  }
  std::optional<QFont> ChooseFont(QWidget*, const QFont& start) override {
    font_starts << start;
    return font;
  }
  // Prints to the PDF file pdf_path; without one, the dialog is cancelled.
  bool ChoosePrinter(QWidget*, QPrinter* printer) override {
    if (pdf_path.isEmpty()) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf_path);
    return true;
  }
  std::optional<QString> AskText(QWidget*, const QString&, const QString&,
                                 const QString&) override {
    if (texts.isEmpty()) return std::nullopt;
    return texts.takeFirst();
  }

  std::optional<PlotExport> ChooseExport(QWidget*, const PlotExport& start) override {
    export_starts << start;
    return export_choice;
  }

  QList<Answer> answers;
  bool dont_ask_again = false;
  QStringList asked;
  QStringList informed;
  QStringList warned;
  QStringList open_names;
  QStringList save_names;
  QStringList save_starts;
  FileDialogSetup last_setup;
  std::optional<QFont> font;
  QList<QFont> font_starts;
  QStringList texts;
  QString pdf_path;
  std::optional<PlotExport> export_choice;
  QList<PlotExport> export_starts;
};

// The window's one child of kind T (a window or widget of the frame), or null.
template <typename T>
T* Child(const QObject* window) {
  return window->findChild<T*>();
}

inline QStringList MenuTitles(QMenuBar* bar) {
  QStringList titles;
  for (QAction* action : bar->actions()) titles << action->text();
  return titles;
}

inline QMenu* MenuNamed(QMenuBar* bar, const QString& title) {
  for (QAction* action : bar->actions()) {
    if (action->text() == title) return action->menu();
  }
  return nullptr;
}

inline QStringList ItemTexts(QMenu* menu) {
  QStringList texts;
  if (menu == nullptr) return texts;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) texts << action->text();
  }
  return texts;
}

inline QAction* ItemNamed(QMenu* menu, const QString& text) {
  if (menu == nullptr) return nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

}  // namespace tavwin

#endif  // TAV_TESTS_FRONTEND_SCRIPTED_DIALOGS_H_
