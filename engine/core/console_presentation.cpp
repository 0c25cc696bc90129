#include "core/console_presentation.h"

namespace tav {

void ConsolePresentation::LogLine(const std::string& text) { out_ << text << '\n' << std::flush; }

void ConsolePresentation::ErrorBox(const std::string& text) { err_ << text << '\n' << std::flush; }

}  // namespace tav
