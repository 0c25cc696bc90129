#ifndef TAV_FRONTEND_GOTO_INDEX_H_
#define TAV_FRONTEND_GOTO_INDEX_H_

#include <QString>
#include <QStringList>
#include <array>

namespace tavwin {

// The items of the report viewer's "&GoTo" menu, in menu order.
inline constexpr int kGoToItemCount = 11;
inline constexpr std::array<const char*, kGoToItemCount> kGoToCaptions = {
    "Top",         "Statistics", "Frequencies", "R-squared", "Log-linear",    "Hazard",
    "Conditional", "Latent",     "Random",      "Bivariate", "Classification"};

struct GoToTarget {
  bool enabled = false;
  // Character position of the section header, counting two characters for every line end.
  int position = 0;
  // Line number (from 0) of the section header.
  int line = 0;
};

// True for a section header of the report: a line that begins with "***" and is not
// "*** INPUT ***".
bool IsSectionHeader(const QString& line);

// Indexes a report for the "&GoTo" menu. "Top" is line 0. Every further item is matched
// against the next section header: a header that contains the item's caption in upper case
// gives the item its position, and the search goes on after it; otherwise the item stays
// disabled and the next item is tried on the same header. A header that none of the remaining
// items matches is therefore never passed.
std::array<GoToTarget, kGoToItemCount> IndexGoTo(const QStringList& lines);

}  // namespace tavwin

#endif  // TAV_FRONTEND_GOTO_INDEX_H_
