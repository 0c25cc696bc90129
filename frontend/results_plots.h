#ifndef TAV_FRONTEND_RESULTS_PLOTS_H_
#define TAV_FRONTEND_RESULTS_PLOTS_H_

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tavwin {

// The plots a run's JSON results document (the engine's TAV_RESULTS_JSON) offers, worked out
// from the document alone, without a display: the plots window draws them as they are given
// here. A plot is offered only when the document holds what it shows:
//
//   class profile      latent_classes: P(item = c | class) for every item and class, one line
//                      per class with its size in the legend; a two-category item shows only
//                      its second category (the first is one minus it), other items show all.
//                      The line joins the two-category items that follow each other and the
//                      categories of one item, never one item's categories to another's.
//   class sizes        latent_classes: one bar per class.
//   observed/estimated frequencies: each cell's observed against its estimated frequency, one
//                      series per subgroup, with the line observed = estimated.
//   residuals          frequencies: (observed - estimated) / sqrt(estimated) of every cell in
//                      the order of the report, with lines at -1.96 and 1.96.
//   score map          correspondence: the categories' scores on the first two dimensions
//                      (the first against zero when there is one), scaled as the report's
//                      x*rho (correspondence analysis), x*sqrt(eigen) (multiple
//                      correspondence) or mu*sqrt(phi) (association analysis); one series per
//                      variable and side, each point labelled with its variable and category;
//                      both axes at the same scale.
//   association scores special_parameters of a row-column association (ass): the estimated
//                      row and column scores against the category number.
//   hazard             event_history: per covariate cell and risk the rate r (or, in discrete
//                      time, the probability of the event) of every interval as a step, and
//                      with a shape alpha the hazard r alpha t^(alpha - 1) within the interval;
//                      in discrete time the risk of staying is not drawn.
//   survival           event_history: per covariate cell (and state left) the probability of
//                      no event from the start of the time grid, 1 at its start. In discrete
//                      time it steps down at each interval's end. Otherwise, within an interval
//                      [a, b], S(t) = S(a) exp(-sum of r (t^alpha - a^alpha)) over the risks of
//                      leaving the state (alpha = 1 without shapes), through the document's
//                      S(a) and S(b).
//
// A plot draws at most kMaxSeries series (the rest are left out with a note) and at most
// kMaxPoints points of frequencies.
enum class PlotKind {
  kClassProfile,
  kClassSizes,
  kObservedEstimated,
  kResiduals,
  kScoreMap,
  kAssociationScores,
  kHazard,
  kSurvival,
};

struct PlotSeries {
  enum class Style { kLine, kPoints, kLinePoints, kReference };
  QString name;  // the legend's text; a series without a name has no legend entry
  Style style = Style::kLine;
  QList<QPointF> points;
  QStringList point_labels;  // when not empty: a text drawn beside each point
  QStringList point_tips;    // when not empty: a text shown while the pointer is on a point
  // A further piece of the series before it: drawn alike, without a legend entry of its own.
  bool continued = false;
};

struct Plot {
  PlotKind kind = PlotKind::kClassProfile;
  QString title;
  QString x_title;
  QString y_title;
  // When not empty, x runs over these categories: the point x = i stands for category i
  // (from 0). With bars, the first series gives each category's bar height.
  QStringList x_categories;
  bool bars = false;
  // A map: one unit is as long along both axes.
  bool equal_scales = false;
  double x_min = 0.0;
  double x_max = 1.0;
  double y_min = 0.0;
  double y_max = 1.0;
  int x_ticks = 6;  // tick marks of a value axis, the ends included
  int y_ticks = 6;
  std::vector<PlotSeries> series;
  QString note;  // what was left out, or empty
};

// The plots of a document, or the message that says why there are none.
struct ResultsPlots {
  std::vector<Plot> plots;
  QString message;  // empty when there are plots
};

constexpr int kMaxSeries = 16;
constexpr int kMaxPoints = 5000;

// The plots of the document in the file at path. A missing, unreadable or malformed file
// gives no plots and a message that says so. Only the parts of the document that the plots
// draw are parsed (PlotPartsOfDocument): the document of a long run, whose other parts may
// take hundreds of megabytes, costs little more than its plots.
ResultsPlots PlotsFromFile(const QString& path);

// The members of the document's top-level object that the plots read ("program", "format",
// "model", "latent_classes", "frequencies", "correspondence", "special_parameters",
// "event_history"), copied verbatim into a document of their own. The others are passed over
// by their strings and brackets, unparsed. Nothing when text is not an object whose members
// can be told apart that way (its faults are then for the full parse to report).
std::optional<QByteArray> PlotPartsOfDocument(QByteArrayView text);
// The plots of the document text; name, when given, is the file's name for the messages.
ResultsPlots PlotsFromJson(const QByteArray& text, const QString& name = QString());

// An axis range around [low, high] that ends on round numbers: the step between its ticks is
// 1, 2 or 5 times a power of ten, and about ticks - 1 steps cover it. *ticks gets the number
// of ticks used.
void RoundRange(double* low, double* high, int* ticks);

}  // namespace tavwin

#endif  // TAV_FRONTEND_RESULTS_PLOTS_H_
