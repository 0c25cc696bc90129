#include "report_viewer.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextBlock>

#include "main_window.h"

namespace tavwin {

ReportViewer::ReportViewer(MainWindow* frame)
    : ViewerWindow(frame, "Output", "RichEdit1", frame->Paths().TempOutputPath,
                   FileDialogSetup{"out", {"Output Files (*.out)", AllFilesFilter()}}) {
  setObjectName("TForm3");
  createActions();
  createMenus();
  output_saved_ = true;
}

void ReportViewer::createActions() {
  printAct_ = new QAction("&Print...", this);
  connect(printAct_, &QAction::triggered, this, &ReportViewer::Print);
  for (int item = 0; item < kGoToItemCount; ++item) {
    goto_actions_[item] = new QAction(kGoToCaptions[item], this);
    goto_actions_[item]->setEnabled(false);
    connect(goto_actions_[item], &QAction::triggered, this, [this, item] { GoTo(item); });
  }
}

void ReportViewer::createMenus() {
  fileMenu_->addAction(saveAsAct_);
  fileMenu_->addAction(printAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);
  gotoMenu_ = new QMenu("&GoTo", this);
  for (QAction* action : goto_actions_) gotoMenu_->addAction(action);
}

QList<QMenu*> ReportViewer::Menus() const { return {fileMenu_, editMenu_, gotoMenu_}; }

void ReportViewer::Loaded() {
  output_saved_ = false;
  IndexGoToMenu();
}

void ReportViewer::IndexGoToMenu() {
  targets_ = IndexGoTo(editor_->toPlainText().split('\n'));
  for (int item = 0; item < kGoToItemCount; ++item) {
    goto_actions_[item]->setEnabled(targets_[item].enabled);
  }
}

void ReportViewer::Clear() {
  ViewerWindow::Clear();
  // The positions belonged to the text just removed.
  targets_ = {};
  for (QAction* action : goto_actions_) action->setEnabled(false);
}

void ReportViewer::GoTo(int item) {
  if (item < 0 || item >= kGoToItemCount || !targets_[item].enabled) return;
  QTextDocument* document = editor_->document();
  const QTextBlock block = document->findBlockByNumber(targets_[item].line);
  if (!block.isValid()) return;
  const int position = block.position();
  const int last = document->characterCount() - 1;
  editor_->setFocus();
  // Through a point further on and back, so that the header ends up near the top.
  QTextCursor cursor(document);
  cursor.setPosition(std::min(position + 1500, last));
  editor_->setTextCursor(cursor);
  editor_->ensureCursorVisible();
  cursor.setPosition(position);
  editor_->setTextCursor(cursor);
  editor_->ensureCursorVisible();
}

bool ReportViewer::SaveAs() {
  const QString name = frame_->Dialogs().SaveFileName(this, save_setup_, SaveStart());
  if (name.isEmpty()) return false;
  // A report the window has not picked up yet is what the user means to save.
  if (QFileInfo::exists(temp_path_) && !engine_busy_) {
    LoadTempFile();
  }
  if (!WriteTo(name)) return false;
  save_name_ = name;
  setWindowTitle(base_caption_ + " - " + QFileInfo(name).fileName());
  output_saved_ = true;
  return true;
}

bool ReportViewer::SaveQuestion() {
  if (QFileInfo::exists(temp_path_)) output_saved_ = false;
  if (!output_saved_ && frame_->ConfirmChecked()) {
    bool dont_ask_again = false;
    const UserDialogs::Answer answer = frame_->Dialogs().AskYesNoCancelOnce(
        this, base_caption_ + " not saved. Save now?", &dont_ask_again);
    // "Don't ask again" unchecks "&Confirm", unless the whole request was cancelled.
    if (dont_ask_again && answer != UserDialogs::Answer::kCancel) emit ConfirmTurnedOff();
    switch (answer) {
      case UserDialogs::Answer::kCancel:
        return false;
      case UserDialogs::Answer::kYes:
        // A report that was not written after all is kept, and the request dropped.
        if (!SaveAs()) return false;
        break;
      case UserDialogs::Answer::kNo:
        break;
    }
  }
  output_saved_ = true;
  // The engine may still be writing the report; it is picked up after the run then.
  if (!engine_busy_) QFile::remove(temp_path_);
  return true;
}

bool ReportViewer::MayClose() { return SaveQuestion(); }

void ReportViewer::Print() {
  QPrinter printer;
  if (!frame_->Dialogs().ChoosePrinter(this, &printer)) return;
  if (!PrintTextLines(&printer, editor_->toPlainText().split('\n'), frame_->FrameFont())) {
    frame_->Dialogs().Warn(this, "Cannot print on " + printer.printerName() + ".");
  }
}

bool PrintTextLines(QPrinter* printer, const QStringList& lines, const QFont& font) {
  QPainter painter;
  if (!painter.begin(printer)) return false;
  painter.setFont(QFont(font, painter.device()));
  const QFontMetrics metrics(painter.font(), painter.device());
  const int line_height = metrics.lineSpacing();
  const int page_height = painter.viewport().height();
  int y = metrics.ascent();
  for (const QString& line : lines) {
    if (y + metrics.descent() > page_height && y > metrics.ascent()) {
      if (!printer->newPage()) return false;
      y = metrics.ascent();
    }
    painter.drawText(0, y, line);
    y += line_height;
  }
  return painter.end();
}

}  // namespace tavwin
