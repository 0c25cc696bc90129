#ifndef TAV_FRONTEND_TAVWIN4_H_
#define TAV_FRONTEND_TAVWIN4_H_

#include "viewer_window.h"

namespace tavwin {

// The log viewer "Log": shows the engine's log and saves it.
class TForm4 : public ViewerWindow {
  Q_OBJECT

 public:
  explicit TForm4(TForm1* frame);

  QList<QMenu*> Menus() const override;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_TAVWIN4_H_
