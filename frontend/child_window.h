#ifndef TAV_FRONTEND_CHILD_WINDOW_H_
#define TAV_FRONTEND_CHILD_WINDOW_H_

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QWidget>

class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;

namespace tavwin {

class MainWindow;

// What the three child windows of the frame have in common. Each child exists once, for the
// whole life of the frame: closing it asks its question (MayClose) and then only minimises
// it, so that it can always be brought back.
class ChildWindow : public QWidget {
  Q_OBJECT

 public:
  ChildWindow(MainWindow* frame, const QString& base_caption);

  // The window's menus, shown in the frame's menu bar in front of "&Tools" and "&Window"
  // while the window is active.
  virtual QList<QMenu*> Menus() const = 0;
  // The window became the active child.
  virtual void Activated() {}
  // May the window close? false keeps it as it is.
  virtual bool MayClose() { return true; }
  // The frame's font changed.
  virtual void ApplyFont(const QFont& font) = 0;

  // Files dropped on the window's text go to filter (its event filter sees the drops) rather
  // than being pasted into it as their names.
  void PassDropsTo(QObject* filter);

  const QString& BaseCaption() const { return base_caption_; }
  QMdiSubWindow* SubWindow() const;

 public slots:
  // "&Find...": asks for a text and selects its next occurrence after the cursor, going on
  // from the top after the end; a text that does not occur is reported.
  void Find();
  // "Find &Next": the next occurrence of the text last looked for (Find when there is none).
  void FindNext();

 protected:
  // An action of this window with its text and shortcuts, calling slot of receiver.
  template <typename Receiver, typename Slot>
  QAction* NewAction(const QString& text, const QList<QKeySequence>& keys, Receiver* receiver,
                     Slot slot) {
    auto* action = new QAction(text, this);
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, receiver, slot);
    return action;
  }

  // Adds "Select &All" (of TextEditor()), "&Find..." and "Find &Next" with their standard
  // shortcuts to menu.
  void AddSelectAndFindActions(QMenu* menu);

  // The window's text.
  virtual QPlainTextEdit* TextEditor() const = 0;

  void closeEvent(QCloseEvent* event) override;
  // Selects the next occurrence of text; false when there is none.
  bool FindFromCursor(const QString& text);

  MainWindow* frame_;
  QString base_caption_;
  QString find_text_;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_CHILD_WINDOW_H_
