#ifndef TAV_FRONTEND_REPORT_VIEWER_H_
#define TAV_FRONTEND_REPORT_VIEWER_H_

#include <QStringList>
#include <array>

#include "goto_index.h"
#include "viewer_window.h"

class QPrinter;

namespace tavwin {

// The report viewer "Output": shows the engine's report, saves and prints it, and jumps
// between its sections through the "&GoTo" menu.
class ReportViewer : public ViewerWindow {
  Q_OBJECT

 public:
  explicit ReportViewer(MainWindow* frame);

  QList<QMenu*> Menus() const override;
  bool MayClose() override;
  void Clear() override;

  // Asks whether to save a report that was not saved yet (when "&Confirm" is checked) and
  // then discards "out.tmp". false: the user cancelled, and the caller's request is dropped.
  // The question's box has a check box "Don't ask again"; ticked (and the box not cancelled),
  // it turns "&Confirm" off through ConfirmTurnedOff.
  bool SaveQuestion();

  bool OutputSaved() const { return output_saved_; }
  QAction* GoToAction(int item) const { return goto_actions_[item]; }
  const std::array<GoToTarget, kGoToItemCount>& GoToTargets() const { return targets_; }

 public slots:
  bool SaveAs() override;
  void Print();
  void GoTo(int item);

 signals:
  // The user asked not to be asked about unsaved reports again.
  void ConfirmTurnedOff();

 protected:
  void Loaded() override;

 private:
  void createActions();
  void createMenus();
  void IndexGoToMenu();

  bool output_saved_ = true;
  std::array<GoToTarget, kGoToItemCount> targets_;
  std::array<QAction*, kGoToItemCount> goto_actions_{};
  QAction* printAct_ = nullptr;
  QMenu* gotoMenu_ = nullptr;
};

// Prints lines one below the other in font, starting a new page when a page is full.
// false when the printer could not be used.
bool PrintTextLines(QPrinter* printer, const QStringList& lines, const QFont& font);

}  // namespace tavwin

#endif  // TAV_FRONTEND_REPORT_VIEWER_H_
