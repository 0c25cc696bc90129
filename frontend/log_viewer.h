#ifndef TAV_FRONTEND_LOG_VIEWER_H_
#define TAV_FRONTEND_LOG_VIEWER_H_

#include "viewer_window.h"

namespace tavwin {

// The log viewer "Log": shows the engine's log, scrolled to its end where a run's outcome is,
// and saves it.
class LogViewer : public ViewerWindow {
  Q_OBJECT

 public:
  explicit LogViewer(MainWindow* frame);

  QList<QMenu*> Menus() const override;

 protected:
  void Loaded() override;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_LOG_VIEWER_H_
