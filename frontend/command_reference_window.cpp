#include "command_reference_window.h"

#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "text_files.h"

namespace tavwin {

CommandReferenceWindow::CommandReferenceWindow(const QString& path, const QStringList& looked_in,
                                               QWidget* parent)
    : QWidget(parent, Qt::Window) {
  setObjectName("CommandReference");
  setWindowTitle("TAV Command Reference");
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("Browser");
  browser_->setOpenExternalLinks(true);
  browser_->document()->setDocumentMargin(12);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(720, 560);

  QString text;
  QString error;
  if (!path.isEmpty() && ReadTextFile(path, &text, &error)) {
    // Links between the sections of the document, and to files beside it, are followed.
    browser_->setSearchPaths({QFileInfo(path).absolutePath()});
    browser_->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath() + '/'));
    browser_->setMarkdown(text);
    found_ = true;
  } else {
    QString places;
    for (const QString& place : looked_in) {
      places += "<li>" + QDir::toNativeSeparators(place).toHtmlEscaped() + "</li>";
    }
    QString message = "<h2>The command reference was not found</h2>";
    if (!path.isEmpty()) {
      message += "<p>" + QDir::toNativeSeparators(path).toHtmlEscaped() +
                 " cannot be read: " + error.toHtmlEscaped() + "</p>";
    } else {
      message += "<p>The file commands.md is in none of these places:</p><ul>" + places + "</ul>";
    }
    browser_->setHtml(message);
  }

  auto* close = new QShortcut(QKeySequence::Close, this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
}

}  // namespace tavwin
