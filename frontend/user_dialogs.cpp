#include "user_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace tavwin {

QString AllFilesFilter() {
#if defined(Q_OS_WIN)
  return "All Files (*.*)";
#else
  return "All Files (*)";
#endif
}

UserDialogs::Answer QtUserDialogs::AskYesNoCancel(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, "Confirm", text,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Yes);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return Answer::kYes;
    case QMessageBox::No:
      return Answer::kNo;
    default:
      return Answer::kCancel;
  }
}

void QtUserDialogs::Inform(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, "Information", text, QMessageBox::Ok);
}

void QtUserDialogs::Warn(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, "Warning", text, QMessageBox::Ok);
}

QString QtUserDialogs::OpenFileName(QWidget* parent, const FileDialogSetup& setup,
                                    const QString& directory) {
  QFileDialog dialog(parent, "Open", directory);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(setup.filters);
  dialog.setDefaultSuffix(setup.default_suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

QString QtUserDialogs::SaveFileName(QWidget* parent, const FileDialogSetup& setup,
                                    const QString& start_name) {
  QFileDialog dialog(parent, "Save As");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(setup.filters);
  dialog.setDefaultSuffix(setup.default_suffix);
  if (!start_name.isEmpty() && QFileInfo(start_name).isDir()) {
    dialog.setDirectory(start_name);
  } else if (!start_name.isEmpty()) {
    dialog.selectFile(start_name);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

std::optional<QFont> QtUserDialogs::ChooseFont(QWidget* parent, const QFont& start) {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, start, parent, "Font");
  if (!ok) return std::nullopt;
  return font;
}

bool QtUserDialogs::ChoosePrinter(QWidget* parent, QPrinter* printer) {
  QPrintDialog dialog(printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

std::optional<QString> QtUserDialogs::AskText(QWidget* parent, const QString& title,
                                              const QString& label, const QString& start) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, start, &ok);
  if (!ok) return std::nullopt;
  return text;
}

}  // namespace tavwin
