#include "user_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSpinBox>

namespace tavwin {

QString AllFilesFilter() {
#if defined(Q_OS_WIN)
  return "All Files (*.*)";
#else
  return "All Files (*)";
#endif
}

namespace {

UserDialogs::Answer AskInBox(QWidget* parent, const QString& text, bool* dont_ask_again) {
  QMessageBox box(QMessageBox::Question, "Confirm", text,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Yes);
  if (dont_ask_again != nullptr) {
    auto* check = new QCheckBox("Don't ask again", &box);
    check->setObjectName("DontAskAgain");
    box.setCheckBox(check);
  }
  const int answer = box.exec();
  if (dont_ask_again != nullptr) *dont_ask_again = box.checkBox()->isChecked();
  switch (answer) {
    case QMessageBox::Yes:
      return UserDialogs::Answer::kYes;
    case QMessageBox::No:
      return UserDialogs::Answer::kNo;
    default:
      return UserDialogs::Answer::kCancel;
  }
}

}  // namespace

UserDialogs::Answer QtUserDialogs::AskYesNoCancel(QWidget* parent, const QString& text) {
  return AskInBox(parent, text, nullptr);
}

UserDialogs::Answer QtUserDialogs::AskYesNoCancelOnce(QWidget* parent, const QString& text,
                                                      bool* dont_ask_again) {
  return AskInBox(parent, text, dont_ask_again);
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

std::optional<PlotExport> QtUserDialogs::ChooseExport(QWidget* parent, const PlotExport& start) {
  QDialog dialog(parent);
  dialog.setWindowTitle("Export Plot");
  auto* form = new QFormLayout(&dialog);
  auto* format = new QComboBox(&dialog);
  format->addItem("PNG image", "png");
  format->addItem("SVG drawing", "svg");
  format->addItem("PDF document", "pdf");
  format->setCurrentIndex(std::max(format->findData(start.format), 0));
  auto* width = new QDoubleSpinBox(&dialog);
  auto* height = new QDoubleSpinBox(&dialog);
  for (QDoubleSpinBox* box : {width, height}) {
    box->setRange(20.0, 1000.0);
    box->setDecimals(0);
    box->setSuffix(" mm");
  }
  width->setValue(start.width_mm);
  height->setValue(start.height_mm);
  auto* dpi = new QSpinBox(&dialog);
  dpi->setRange(72, 1200);
  dpi->setSuffix(" dpi");
  dpi->setValue(start.dpi);
  form->addRow("&Format:", format);
  form->addRow("&Width:", width);
  form->addRow("&Height:", height);
  form->addRow("&Resolution:", dpi);
  // Drawings scale to any size: the resolution is the image's alone.
  const auto follow = [format, dpi] { dpi->setEnabled(format->currentData() == "png"); };
  QObject::connect(format, &QComboBox::currentIndexChanged, &dialog, follow);
  follow();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  PlotExport chosen;
  chosen.format = format->currentData().toString();
  chosen.width_mm = width->value();
  chosen.height_mm = height->value();
  chosen.dpi = dpi->value();
  return chosen;
}

}  // namespace tavwin
