#include "goto_index.h"

namespace tavwin {

bool IsSectionHeader(const QString& line) {
  QString text = line;
  while (text.endsWith(' ') || text.endsWith('\r')) text.chop(1);
  return text.startsWith("***") && text != "*** INPUT ***";
}

std::array<GoToTarget, kGoToItemCount> IndexGoTo(const QStringList& lines) {
  std::array<GoToTarget, kGoToItemCount> targets;
  targets[0].enabled = true;
  int line = 0;
  int position = 0;
  for (int item = 1; item < kGoToItemCount; ++item) {
    while (line < lines.size() && !IsSectionHeader(lines[line])) {
      position += lines[line].size() + 2;
      ++line;
    }
    if (line < lines.size() &&
        lines[line].contains(QString::fromLatin1(kGoToCaptions[item]).toUpper())) {
      targets[item].enabled = true;
      targets[item].position = position;
      targets[item].line = line;
      position += lines[line].size() + 2;
      ++line;
    }
  }
  return targets;
}

}  // namespace tavwin
