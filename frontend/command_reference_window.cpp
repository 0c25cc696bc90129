#include "command_reference_window.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "text_files.h"

namespace tavwin {

namespace {

// The colour of the headings: the blue of the program's icon.
const QColor kHeadingColour(0x1f, 0x4e, 0x8c);

// The block number a contents item stands for.
constexpr int kBlockRole = Qt::UserRole;

}  // namespace

CommandReferenceWindow::CommandReferenceWindow(const QString& path, const QStringList& looked_in,
                                               QWidget* parent)
    : QWidget(parent, Qt::Window) {
  setObjectName("CommandReference");
  setWindowTitle("TAV Command Reference");
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("Browser");
  browser_->setOpenExternalLinks(true);
  browser_->document()->setDocumentMargin(12);
  contents_ = new QTreeWidget(this);
  contents_->setObjectName("Contents");
  contents_->setHeaderLabel("Contents");
  contents_->setRootIsDecorated(true);

  find_bar_ = new QWidget(this);
  find_bar_->setObjectName("FindBar");
  auto* find_row = new QHBoxLayout(find_bar_);
  find_row->setContentsMargins(6, 3, 6, 3);
  auto* find_label = new QLabel("&Find:", find_bar_);
  find_edit_ = new QLineEdit(find_bar_);
  find_edit_->setObjectName("FindEdit");
  find_edit_->setClearButtonEnabled(true);
  find_label->setBuddy(find_edit_);
  auto* previous = new QToolButton(find_bar_);
  previous->setText("Previous");
  auto* next = new QToolButton(find_bar_);
  next->setText("Next");
  find_status_ = new QLabel(find_bar_);
  find_status_->setObjectName("FindStatus");
  find_row->addWidget(find_label);
  find_row->addWidget(find_edit_, 1);
  find_row->addWidget(previous);
  find_row->addWidget(next);
  find_row->addWidget(find_status_);
  find_bar_->hide();

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(contents_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({220, 680});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(splitter, 1);
  layout->addWidget(find_bar_);
  resize(900, 600);

  QString text;
  QString error;
  if (!path.isEmpty() && ReadTextFile(path, &text, &error)) {
    // Links between the sections of the document, and to files beside it, are followed.
    browser_->setSearchPaths({QFileInfo(path).absolutePath()});
    browser_->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath() + '/'));
    browser_->setMarkdown(text);
    StyleHeadingsAndListThem();
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
    contents_->hide();
  }

  connect(contents_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == nullptr) return;
    ScrollTo(browser_->document()->findBlockByNumber(item->data(0, kBlockRole).toInt()));
  });
  connect(find_edit_, &QLineEdit::returnPressed, this, [this] { FindText(find_edit_->text()); });
  connect(next, &QToolButton::clicked, this, [this] { FindText(find_edit_->text()); });
  connect(previous, &QToolButton::clicked, this, [this] { FindText(find_edit_->text(), true); });
  auto* back = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Return), find_edit_);
  back->setContext(Qt::WidgetShortcut);
  connect(back, &QShortcut::activated, this, [this] { FindText(find_edit_->text(), true); });

  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, &CommandReferenceWindow::ShowFindBar);
  auto* find_next = new QShortcut(QKeySequence::FindNext, this);
  connect(find_next, &QShortcut::activated, this, [this] {
    if (find_edit_->text().isEmpty()) {
      ShowFindBar();
    } else {
      FindText(find_edit_->text());
    }
  });
  auto* find_previous = new QShortcut(QKeySequence::FindPrevious, this);
  connect(find_previous, &QShortcut::activated, this,
          [this] { FindText(find_edit_->text(), true); });
  auto* close_key = new QShortcut(QKeySequence::Close, this);
  connect(close_key, &QShortcut::activated, this, &QWidget::close);
  // Escape closes the find bar first, then the window.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (find_bar_->isVisible()) {
      find_bar_->hide();
      browser_->setFocus();
    } else {
      close();
    }
  });
}

void CommandReferenceWindow::StyleHeadingsAndListThem() {
  QTextDocument* document = browser_->document();
  const QString family = QApplication::font().family();
  const qreal base = QApplication::font().pointSizeF() > 0 ? QApplication::font().pointSizeF() : 10;
  QTreeWidgetItem* section = nullptr;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const int level = block.blockFormat().headingLevel();
    if (level <= 0) continue;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat look;
    // Also the command names written as code: a heading is no example.
    look.setFontFamilies({family});
    look.setFontFixedPitch(false);
    look.setFontWeight(QFont::Bold);
    look.setFontPointSize(level == 1 ? base * 2.0 : level == 2 ? base * 1.6 : base * 1.3);
    look.setForeground(kHeadingColour);
    cursor.mergeCharFormat(look);
    QTextBlockFormat spacing;
    spacing.setTopMargin(level <= 2 ? 24 : 16);
    spacing.setBottomMargin(6);
    cursor.mergeBlockFormat(spacing);

    // The contents: the sections, and each one's entries under it.
    if (level == 1) continue;
    QTreeWidgetItem* item = nullptr;
    if (level == 2 || section == nullptr) {
      item = new QTreeWidgetItem(contents_, {block.text()});
      section = item;
    } else {
      item = new QTreeWidgetItem(section, {block.text()});
    }
    item->setData(0, kBlockRole, block.blockNumber());
  }
  contents_->expandAll();
}

void CommandReferenceWindow::ScrollTo(const QTextBlock& block) {
  if (!block.isValid()) return;
  browser_->setTextCursor(QTextCursor(block));
  const QRectF where = browser_->document()->documentLayout()->blockBoundingRect(block);
  browser_->verticalScrollBar()->setValue(static_cast<int>(where.top()));
}

bool CommandReferenceWindow::ShowEntry(const QString& command) {
  for (QTreeWidgetItemIterator it(contents_); *it != nullptr; ++it) {
    if ((*it)->parent() != nullptr && (*it)->text(0) == command) {
      contents_->setCurrentItem(*it);
      ScrollTo(browser_->document()->findBlockByNumber((*it)->data(0, kBlockRole).toInt()));
      return true;
    }
  }
  return false;
}

void CommandReferenceWindow::ShowFindBar() {
  find_bar_->show();
  find_edit_->setFocus();
  find_edit_->selectAll();
}

bool CommandReferenceWindow::FindText(const QString& text, bool backward) {
  find_status_->clear();
  if (text.isEmpty()) return false;
  const QTextDocument::FindFlags flags =
      backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  if (browser_->find(text, flags)) return true;
  // On from the other end.
  const QTextCursor kept = browser_->textCursor();
  QTextCursor start(browser_->document());
  if (backward) start.movePosition(QTextCursor::End);
  browser_->setTextCursor(start);
  if (browser_->find(text, flags)) return true;
  browser_->setTextCursor(kept);
  find_status_->setText("Not found");
  return false;
}

}  // namespace tavwin
