#ifndef TAV_ENGINE_CORE_CONSOLE_PRESENTATION_H_
#define TAV_ENGINE_CORE_CONSOLE_PRESENTATION_H_

#include <ostream>

#include "core/presentation.h"

namespace tav {

// The engine without a display: window-mode log lines go to out, error texts to err, the
// closing question is not asked and there is nothing to cancel.
class ConsolePresentation : public Presentation {
 public:
  ConsolePresentation(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void Begin(bool) override {}
  bool PumpEvents(const RunProgress&) override { return false; }
  void LogLine(const std::string& text) override;
  void ProgressStep(int) override {}
  bool AskClose() override { return true; }
  void ErrorBox(const std::string& text) override;
  void StayOpen() override {}

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_CONSOLE_PRESENTATION_H_
