#include "results_plots.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace tavwin {

namespace {

// The format of the results document this front end reads.
constexpr int kDocumentFormat = 1;
// The steps by which a hazard curve with a shape is drawn across an interval.
constexpr int kCurveSteps = 16;

double Real(const QJsonValue& value) {
  return value.isDouble() ? value.toDouble() : std::numeric_limits<double>::quiet_NaN();
}

QString Figure(double value) { return QString::number(value, 'g', 6); }

// The value labels of the variables that the run read from a labelled data file, by the
// variable's label: the label of category c at c - 1, empty where the file gives none.
using ValueLabels = QHash<QString, QStringList>;

ValueLabels ValueLabelsOf(const QJsonObject& document) {
  ValueLabels labels;
  for (const QJsonValue& v : document["model"].toObject()["variables"].toArray()) {
    const QJsonObject variable = v.toObject();
    const QJsonArray categories = variable["source"].toObject()["categories"].toArray();
    if (categories.isEmpty()) continue;
    QStringList names;
    for (const QJsonValue& c : categories) {
      const QJsonObject category = c.toObject();
      const int code = category["code"].toInt();
      while (names.size() < code) names << QString();
      if (code >= 1) names[code - 1] = category["label"].toString();
    }
    labels.insert(variable["label"].toString(), names);
  }
  return labels;
}

// "A=2", or "A=female" where the data file labels category 2 of A.
QString CategoryText(const QString& variable, int code, const ValueLabels& labels = {}) {
  const auto at = labels.find(variable);
  if (at != labels.end() && code >= 1 && code <= at->size() && !(*at)[code - 1].isEmpty()) {
    return variable + "=" + (*at)[code - 1];
  }
  return variable + "=" + QString::number(code);
}

// "A=1 B=2" for the categories of variables (by their value labels where there are some).
QString CellText(const QStringList& variables, const QJsonArray& categories,
                 const ValueLabels& labels = {}) {
  QStringList parts;
  for (qsizetype i = 0; i < categories.size(); ++i) {
    const QString label = i < variables.size() ? variables[i] : QString("?");
    parts << CategoryText(label, categories[i].toInt(), labels);
  }
  return parts.join(' ');
}

QStringList Strings(const QJsonArray& array) {
  QStringList list;
  for (const QJsonValue& value : array) list << value.toString();
  return list;
}

// The range of the points of every series.
void SeriesRange(const std::vector<PlotSeries>& series, double* x_low, double* x_high,
                 double* y_low, double* y_high) {
  *x_low = *y_low = std::numeric_limits<double>::infinity();
  *x_high = *y_high = -std::numeric_limits<double>::infinity();
  for (const PlotSeries& s : series) {
    for (const QPointF& p : s.points) {
      *x_low = std::min(*x_low, p.x());
      *x_high = std::max(*x_high, p.x());
      *y_low = std::min(*y_low, p.y());
      *y_high = std::max(*y_high, p.y());
    }
  }
}

// Leaves the series beyond kMaxSeries (with their pieces) out, saying so in the note.
void KeepSeries(Plot* plot, const QString& what) {
  int count = 0;
  size_t keep = 0;
  for (size_t i = 0; i < plot->series.size(); ++i) {
    if (!plot->series[i].continued) ++count;
    if (count <= kMaxSeries) keep = i + 1;
  }
  if (count <= kMaxSeries) return;
  plot->series.resize(keep);
  plot->note = QString("The first %1 of %2 %3 are shown.").arg(kMaxSeries).arg(count).arg(what);
}

QStringList LatentLabels(const QJsonObject& document) {
  QStringList labels;
  for (const QJsonValue& v : document["model"].toObject()["variables"].toArray()) {
    const QJsonObject variable = v.toObject();
    if (variable["role"].toString() == "latent") labels << variable["label"].toString();
  }
  return labels;
}

void AddLatentClassPlots(const QJsonObject& document, std::vector<Plot>* plots) {
  const QJsonArray classes = document["latent_classes"].toObject()["classes"].toArray();
  if (classes.isEmpty()) return;
  const QStringList latent = LatentLabels(document);
  const ValueLabels value_labels = ValueLabelsOf(document);
  QStringList class_names;
  for (const QJsonValue& c : classes) {
    class_names << CellText(latent, c.toObject()["latent"].toArray()).replace(' ', ", ");
  }

  Plot profile;
  profile.kind = PlotKind::kClassProfile;
  profile.title = "Latent class profiles";
  profile.x_title = "Item and category";
  profile.y_title = "Conditional probability";
  // The item categories shown, in the order of the first class's items.
  // The line's pieces: a run of two-category items, or the categories of one item.
  struct Shown {
    int item;
    int category;
    int piece;
  };
  std::vector<Shown> shown;
  const QJsonArray first_items = classes[0].toObject()["items"].toArray();
  int piece = -1;
  bool in_run = false;
  for (qsizetype i = 0; i < first_items.size(); ++i) {
    const QJsonObject item = first_items[i].toObject();
    const int count = static_cast<int>(item["probabilities"].toArray().size());
    if (count != 2 || !in_run) ++piece;
    in_run = count == 2;
    for (int c = count == 2 ? 1 : 0; c < count; ++c) {
      shown.push_back({static_cast<int>(i), c, piece});
      profile.x_categories << CategoryText(item["variable"].toString(), c + 1, value_labels);
    }
  }
  for (qsizetype k = 0; k < classes.size(); ++k) {
    const QJsonObject c = classes[k].toObject();
    const QJsonArray items = c["items"].toArray();
    PlotSeries series;
    series.style = PlotSeries::Style::kLinePoints;
    series.name = class_names[k] + " (" + QString::number(100.0 * Real(c["size"]), 'f', 1) + "%)";
    for (size_t x = 0; x < shown.size(); ++x) {
      if (x > 0 && shown[x].piece != shown[x - 1].piece && !series.points.isEmpty()) {
        profile.series.push_back(series);
        series.points.clear();
        series.point_tips.clear();
        series.continued = true;
      }
      const double p =
          Real(items[shown[x].item].toObject()["probabilities"].toArray()[shown[x].category]);
      if (!std::isfinite(p)) continue;
      series.points << QPointF(static_cast<double>(x), p);
      series.point_tips << profile.x_categories[static_cast<qsizetype>(x)] + " | " +
                               class_names[k] + ": " + Figure(p);
    }
    profile.series.push_back(series);
  }
  KeepSeries(&profile, "classes");
  if (!shown.empty()) plots->push_back(profile);

  Plot sizes;
  sizes.kind = PlotKind::kClassSizes;
  sizes.title = "Latent class sizes";
  sizes.x_title = "Class";
  sizes.y_title = "Proportion";
  sizes.bars = true;
  sizes.x_categories = class_names;
  PlotSeries bars;
  bars.name = "Class size";
  double largest = 0.0;
  for (qsizetype k = 0; k < classes.size(); ++k) {
    const double size = Real(classes[k].toObject()["size"]);
    bars.points << QPointF(static_cast<double>(k), std::isfinite(size) ? size : 0.0);
    if (std::isfinite(size)) largest = std::max(largest, size);
  }
  sizes.series.push_back(bars);
  sizes.y_max = std::min(1.0, largest * 1.1);
  RoundRange(&sizes.y_min, &sizes.y_max, &sizes.y_ticks);
  plots->push_back(sizes);
}

void AddFrequencyPlots(const QJsonObject& document, std::vector<Plot>* plots) {
  const QJsonArray subgroups = document["frequencies"].toArray();
  const ValueLabels value_labels = ValueLabelsOf(document);
  Plot fit;
  fit.kind = PlotKind::kObservedEstimated;
  fit.title = "Observed and estimated frequencies";
  fit.x_title = "Estimated frequency";
  fit.y_title = "Observed frequency";
  Plot residuals;
  residuals.kind = PlotKind::kResiduals;
  residuals.title = "Standardised residuals";
  residuals.x_title = "Cell";
  residuals.y_title = "(observed - estimated) / sqrt(estimated)";
  int cells = 0;
  int total = 0;
  double largest = 0.0;
  double largest_residual = 2.5;
  for (const QJsonValue& g : subgroups) {
    const QJsonObject subgroup = g.toObject();
    const QStringList variables = Strings(subgroup["variables"].toArray());
    const QString name = subgroups.size() == 1
                             ? QString("Cells")
                             : "Subgroup " + QString::number(subgroup["subgroup"].toInt()) + " (" +
                                   variables.join(QString()) + ")";
    PlotSeries fit_series{name, PlotSeries::Style::kPoints, {}, {}, {}};
    PlotSeries residual_series = fit_series;
    for (const QJsonValue& c : subgroup["cells"].toArray()) {
      ++total;
      if (cells >= kMaxPoints) continue;
      ++cells;
      const QJsonObject cell = c.toObject();
      const double observed = Real(cell["observed"]);
      const double estimated = Real(cell["estimated"]);
      const double residual = Real(cell["residual"]);
      const QString text = CellText(variables, cell["categories"].toArray(), value_labels);
      if (std::isfinite(observed) && std::isfinite(estimated)) {
        fit_series.points << QPointF(estimated, observed);
        fit_series.point_tips << text + ": observed " + Figure(observed) + ", estimated " +
                                     Figure(estimated);
        largest = std::max({largest, observed, estimated});
      }
      if (std::isfinite(residual)) {
        residual_series.points << QPointF(cells, residual);
        residual_series.point_tips
            << QString::number(cells) + ". " + text + ": " + Figure(residual);
        largest_residual = std::max(largest_residual, std::fabs(residual));
      }
    }
    if (!fit_series.points.isEmpty()) fit.series.push_back(fit_series);
    if (!residual_series.points.isEmpty()) residuals.series.push_back(residual_series);
  }
  if (cells == 0) return;
  const QString left_out =
      total > cells ? QString("The first %1 of %2 cells are shown.").arg(cells).arg(total)
                    : QString();
  if (!fit.series.empty()) {
    fit.x_max = largest > 0.0 ? largest : 1.0;
    RoundRange(&fit.x_min, &fit.x_max, &fit.x_ticks);
    fit.y_min = fit.x_min;
    fit.y_max = fit.x_max;
    fit.y_ticks = fit.x_ticks;
    KeepSeries(&fit, "subgroups");
    fit.series.push_back({"Observed = estimated",
                          PlotSeries::Style::kReference,
                          {QPointF(0.0, 0.0), QPointF(fit.x_max, fit.x_max)},
                          {},
                          {}});
    if (!left_out.isEmpty()) fit.note = left_out;
    plots->push_back(fit);
  }
  if (!residuals.series.empty()) {
    residuals.x_min = 0.0;
    residuals.x_max = cells;
    RoundRange(&residuals.x_min, &residuals.x_max, &residuals.x_ticks);
    residuals.y_min = -largest_residual;
    residuals.y_max = largest_residual;
    RoundRange(&residuals.y_min, &residuals.y_max, &residuals.y_ticks);
    KeepSeries(&residuals, "subgroups");
    const double a = residuals.x_min;
    const double b = residuals.x_max;
    residuals.series.push_back({QString::fromUtf8("\u00b11.96"),
                                PlotSeries::Style::kReference,
                                {QPointF(a, 1.96), QPointF(b, 1.96)},
                                {},
                                {}});
    residuals.series.push_back(
        {QString(), PlotSeries::Style::kReference, {QPointF(a, -1.96), QPointF(b, -1.96)}, {}, {}});
    if (!left_out.isEmpty()) residuals.note = left_out;
    plots->push_back(residuals);
  }
}

QString DimensionTitle(const QJsonArray& dimensions, int d) {
  QString title = "Dimension " + QString::number(d + 1);
  if (d >= dimensions.size()) return title;
  const QJsonObject dimension = dimensions[d].toObject();
  const double proportion = Real(dimension["proportion"]);
  const double phi = Real(dimension["phi"]);
  if (std::isfinite(proportion)) {
    title += " (" + QString::number(100.0 * proportion, 'f', 1) + "%)";
  } else if (std::isfinite(phi)) {
    title += " (phi " + QString::number(phi, 'f', 3) + ")";
  }
  return title;
}

void AddScoreMap(const QJsonObject& document, std::vector<Plot>* plots) {
  const QJsonObject analysis = document["correspondence"].toObject();
  const QJsonArray categories = analysis["categories"].toArray();
  if (categories.isEmpty()) return;
  const QJsonArray dimensions = analysis["dimensions"].toArray();
  // The scores as the report's scaled columns give them: correspondence analysis in principal
  // coordinates (x*rho), multiple correspondence x*sqrt(eigen), association analysis with phi
  // shared between rows and columns (mu*sqrt(phi)).
  const int type = analysis["type"].toInt();
  const QString scaled = type == 1   ? "x*rho"
                         : type == 2 ? "x*sqrt(eigen)"
                         : type == 3 ? "mu*sqrt(phi)"
                                     : "x";
  auto factor = [&](int d) {
    const QJsonObject dimension = dimensions[d].toObject();
    const double f = type == 1   ? Real(dimension["rho"])
                     : type == 2 ? std::sqrt(Real(dimension["eigenvalue"]))
                     : type == 3 ? std::sqrt(Real(dimension["phi"]))
                                 : 1.0;
    return std::isfinite(f) ? f : 1.0;
  };
  Plot map;
  map.kind = PlotKind::kScoreMap;
  map.equal_scales = true;
  bool two = true;
  std::map<QString, size_t> series_of;
  for (const QJsonValue& c : categories) {
    const QJsonObject category = c.toObject();
    const QJsonArray scores = category["scores"].toArray();
    if (scores.isEmpty()) continue;
    two = two && scores.size() >= 2;
    const QString variable = category["variable"].toString();
    const QString side = category["side"].toString();
    const QString name = side == "both" || side.isEmpty() ? variable : variable + " (" + side + ")";
    auto [at, added] = series_of.emplace(name, map.series.size());
    if (added) map.series.push_back({name, PlotSeries::Style::kPoints, {}, {}, {}});
    PlotSeries& series = map.series[at->second];
    const double x = Real(scores[0]) * factor(0);
    const double y = scores.size() >= 2 ? Real(scores[1]) * factor(1) : 0.0;
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    const QString label = variable + QString::number(category["category"].toInt());
    series.points << QPointF(x, y);
    series.point_labels << label;
    series.point_tips << label + ": " + Figure(x) + ", " + Figure(y) + " (weight " +
                             Figure(Real(category["weight"])) + ")";
  }
  std::erase_if(map.series, [](const PlotSeries& s) { return s.points.isEmpty(); });
  if (map.series.empty()) return;
  QString kind = analysis["analysis"].toString();
  if (!kind.isEmpty()) kind[0] = kind[0].toUpper();
  map.title = (kind.isEmpty() ? QString("Scores") : kind + " analysis") + ": " + scaled +
              (two ? " on dimensions 1 and 2" : " on dimension 1");
  map.x_title = DimensionTitle(dimensions, 0);
  map.y_title = two ? DimensionTitle(dimensions, 1) : QString();
  SeriesRange(map.series, &map.x_min, &map.x_max, &map.y_min, &map.y_max);
  // Room for the labels beside the points at the edges.
  const double margin = 0.1 * std::max(map.x_max - map.x_min, map.y_max - map.y_min);
  map.x_min -= margin;
  map.x_max += margin;
  map.y_min -= margin;
  map.y_max += margin;
  RoundRange(&map.x_min, &map.x_max, &map.x_ticks);
  RoundRange(&map.y_min, &map.y_max, &map.y_ticks);
  KeepSeries(&map, "variables");
  plots->push_back(map);
}

void AddAssociationScores(const QJsonObject& document, std::vector<Plot>* plots) {
  static const QRegularExpression kRow("row=(\\S+?)[ )]");
  static const QRegularExpression kColumn("column=(\\S+?)[ )]");
  for (const QJsonValue& b : document["special_parameters"].toArray()) {
    const QJsonObject block = b.toObject();
    const QString heading = block["block"].toString();
    if (!heading.contains(" association (")) continue;
    const QRegularExpressionMatch row = kRow.match(heading);
    const QRegularExpressionMatch column = kColumn.match(heading);
    Plot plot;
    plot.kind = PlotKind::kAssociationScores;
    plot.title = "Association scores of " + block["table"].toString() + ": " + heading;
    plot.x_title = "Category";
    plot.y_title = "Score";
    std::map<QString, size_t> series_of;
    int most = 0;
    for (const QJsonValue& p : block["parameters"].toArray()) {
      const QJsonObject parameter = p.toObject();
      const QStringList words = parameter["label"].toString().split(' ');
      if (words.size() < 2 || words.size() > 3 || (words[0] != "row" && words[0] != "column")) {
        continue;
      }
      const bool is_row = words[0] == "row";
      const QRegularExpressionMatch& named = is_row ? row : column;
      QString name = (named.hasMatch() ? named.captured(1) + " " : QString()) +
                     (is_row ? "(rows)" : "(columns)");
      if (words.size() == 3) name += ", set " + words[1];
      const int category = words.back().toInt();
      const double score = Real(parameter["beta"]);
      if (category < 1 || !std::isfinite(score)) continue;
      auto [at, added] = series_of.emplace(name, plot.series.size());
      if (added) plot.series.push_back({name, PlotSeries::Style::kLinePoints, {}, {}, {}});
      plot.series[at->second].points << QPointF(category - 1, score);
      plot.series[at->second].point_tips
          << name + " " + QString::number(category) + ": " + Figure(score);
      most = std::max(most, category);
    }
    if (plot.series.empty()) continue;
    double x_low = 0.0;
    double x_high = 0.0;
    SeriesRange(plot.series, &x_low, &x_high, &plot.y_min, &plot.y_max);
    for (int c = 1; c <= most; ++c) plot.x_categories << QString::number(c);
    RoundRange(&plot.y_min, &plot.y_max, &plot.y_ticks);
    KeepSeries(&plot, "score sets");
    plots->push_back(plot);
  }
}

// What the hazard and the survival plots share: the time grid, the risks and the covariates
// of the document's event_history.
class EventHistory {
 public:
  explicit EventHistory(const QJsonObject& history) {
    const int kind = history["kind"].toInt();
    discrete = kind == 1;
    for (const QJsonValue& t : history["time_boundaries"].toArray()) bounds_.push_back(Real(t));
    for (const QJsonValue& r : history["risks"].toArray()) {
      const QJsonObject risk = r.toObject();
      const double shape = Real(risk["shape"]);
      risks_[risk["risk"].toInt()] = {risk["origin"].toInt(), risk["destination"].toInt(),
                                      kind >= 2 && std::isfinite(shape) ? shape : 1.0};
    }
    for (const auto& [k, risk] : risks_) drawn_risks_ += Drawn(k) ? 1 : 0;
    covariates_ = Strings(history["covariates"].toArray());
  }

  // The ends of interval t (from 1); the interval's number where the grid lacks them.
  double Start(int t) const {
    return t - 1 < static_cast<int>(bounds_.size()) ? bounds_[t - 1] : t - 1.0;
  }
  double End(int t) const { return t < static_cast<int>(bounds_.size()) ? bounds_[t] : t; }
  // In discrete time the risk of staying where one is is the complement of the others.
  bool Drawn(int risk) const {
    const auto at = risks_.find(risk);
    return at == risks_.end() || at->second.origin != at->second.destination;
  }
  double Shape(int risk) const {
    const auto at = risks_.find(risk);
    return at == risks_.end() ? 1.0 : at->second.shape;
  }
  QString CellName(const QJsonArray& categories) const {
    return covariates_.isEmpty() ? QString("All cases") : CellText(covariates_, categories);
  }
  // A hazard curve's name: the covariate cell, and the risk when several are drawn.
  QString CurveName(const QString& cell, int risk) const {
    if (drawn_risks_ <= 1) return cell;
    QString name = cell + ", risk " + QString::number(risk);
    const auto at = risks_.find(risk);
    if (at != risks_.end()) {
      name += QString(" (%1 to %2)").arg(at->second.origin).arg(at->second.destination);
    }
    return name;
  }

  bool discrete = false;

 private:
  struct Risk {
    int origin;
    int destination;
    double shape;
  };
  std::vector<double> bounds_;
  std::map<int, Risk> risks_;
  int drawn_risks_ = 0;
  QStringList covariates_;
};

void AddHazardPlot(const QJsonArray& cells, const EventHistory& history, std::vector<Plot>* plots) {
  Plot hazard;
  hazard.kind = PlotKind::kHazard;
  hazard.title = history.discrete ? "Probability of an event per interval" : "Hazard rates";
  hazard.x_title = "Time";
  hazard.y_title = history.discrete ? "Probability" : "Rate";
  std::map<QString, size_t> series_of;
  for (const QJsonValue& c : cells) {
    const QJsonObject cell = c.toObject();
    const int risk = cell["risk"].toInt();
    const int t = cell["interval"].toInt();
    const double rate = Real(cell["rate"]);
    if (!history.Drawn(risk) || t < 1 || !std::isfinite(rate)) continue;
    const QString cell_name = history.CellName(cell["covariates"].toArray());
    const QString name = history.CurveName(cell_name, risk);
    auto [at, added] = series_of.emplace(name, hazard.series.size());
    if (added) hazard.series.push_back({name, PlotSeries::Style::kLine, {}, {}, {}});
    PlotSeries& series = hazard.series[at->second];
    const QString tip = name + ", interval " + QString::number(t) + ": " + Figure(rate);
    const double alpha = history.Shape(risk);
    if (alpha == 1.0) {
      series.points << QPointF(history.Start(t), rate) << QPointF(history.End(t), rate);
      series.point_tips << tip << tip;
      continue;
    }
    // With a shape alpha the hazard is rate alpha t^(alpha - 1), unbounded at 0 when alpha < 1.
    for (int j = 0; j <= kCurveSteps; ++j) {
      const double time = history.Start(t) + (history.End(t) - history.Start(t)) * j / kCurveSteps;
      const double h = rate * alpha * std::pow(time, alpha - 1.0);
      if (!std::isfinite(h)) continue;
      series.points << QPointF(time, h);
      series.point_tips << tip;
    }
  }
  if (hazard.series.empty()) return;
  double y_low = 0.0;
  SeriesRange(hazard.series, &hazard.x_min, &hazard.x_max, &y_low, &hazard.y_max);
  hazard.y_min = 0.0;
  if (!(hazard.y_max > 0.0)) hazard.y_max = 1.0;
  RoundRange(&hazard.x_min, &hazard.x_max, &hazard.x_ticks);
  RoundRange(&hazard.y_min, &hazard.y_max, &hazard.y_ticks);
  KeepSeries(&hazard, "curves");
  plots->push_back(hazard);
}

// The points of a survival curve: finite (time, survival) pairs.
QList<QPointF> CurvePoints(const QJsonArray& pairs) {
  QList<QPointF> points;
  for (const QJsonValue& p : pairs) {
    const QJsonArray pair = p.toArray();
    const double time = Real(pair.at(0));
    const double value = Real(pair.at(1));
    if (std::isfinite(time) && std::isfinite(value)) points << QPointF(time, value);
  }
  return points;
}

// A document without survival curves (an older engine's): the survival at the ends of the
// intervals, joined by lines (in discrete time by steps), as curves of the same form.
QJsonArray CurvesThroughIntervalEnds(const QJsonArray& survival, const EventHistory& history) {
  std::map<std::pair<QString, int>, qsizetype> curve_of;
  QJsonArray curves;
  std::vector<double> last;
  for (const QJsonValue& s : survival) {
    const QJsonObject point = s.toObject();
    const int t = point["interval"].toInt();
    const double value = Real(point["survival"]);
    if (t < 1 || !std::isfinite(value)) continue;
    const QJsonArray covariates = point["covariates"].toArray();
    const int origin = point["origin"].toInt();
    const auto [at, added] =
        curve_of.emplace(std::make_pair(history.CellName(covariates), origin), curves.size());
    if (added) {
      // Appended, not braced: a braced array holding one array may be taken as its copy.
      QJsonArray points;
      points.append(QJsonArray{history.Start(1), 1.0});
      curves.append(
          QJsonObject{{"covariates", covariates}, {"origin", origin}, {"points", points}});
      last.push_back(1.0);
    }
    QJsonObject curve = curves[at->second].toObject();
    QJsonArray points = curve["points"].toArray();
    if (history.discrete) points.append(QJsonArray{history.End(t), last[at->second]});
    points.append(QJsonArray{history.End(t), value});
    last[at->second] = value;
    curve["points"] = points;
    curves[at->second] = curve;
  }
  return curves;
}

// The survival curves as the document gives them, one line per covariate cell and state left.
void AddSurvivalPlot(const QJsonArray& survival_curves, const EventHistory& history,
                     std::vector<Plot>* plots) {
  Plot curves;
  curves.kind = PlotKind::kSurvival;
  curves.title = "Survival";
  curves.x_title = "Time";
  curves.y_title = "Probability of no event";
  std::map<int, int> origins;
  for (const QJsonValue& c : survival_curves) origins[c.toObject()["origin"].toInt()] = 1;
  for (const QJsonValue& c : survival_curves) {
    const QJsonObject curve = c.toObject();
    const QList<QPointF> points = CurvePoints(curve["points"].toArray());
    if (points.size() < 2) continue;
    QString name = history.CellName(curve["covariates"].toArray());
    if (origins.size() > 1) name += ", from state " + QString::number(curve["origin"].toInt());
    curves.series.push_back({name, PlotSeries::Style::kLine, points, {}, {}});
  }
  if (curves.series.empty()) return;
  double y_low = 0.0;
  double y_high = 1.0;
  SeriesRange(curves.series, &curves.x_min, &curves.x_max, &y_low, &y_high);
  curves.y_min = 0.0;
  curves.y_max = 1.0;
  RoundRange(&curves.x_min, &curves.x_max, &curves.x_ticks);
  KeepSeries(&curves, "curves");
  plots->push_back(curves);
}

void AddEventHistoryPlots(const QJsonObject& document, std::vector<Plot>* plots) {
  const QJsonObject part = document["event_history"].toObject();
  const QJsonArray cells = part["cells"].toArray();
  if (cells.isEmpty()) return;
  const EventHistory history(part);
  AddHazardPlot(cells, history, plots);
  AddSurvivalPlot(part.contains("survival_curves")
                      ? part["survival_curves"].toArray()
                      : CurvesThroughIntervalEnds(part["survival"].toArray(), history),
                  history, plots);
}

}  // namespace

void RoundRange(double* low, double* high, int* ticks) {
  double a = *low;
  double b = *high;
  if (!std::isfinite(a) || !std::isfinite(b)) {
    a = 0.0;
    b = 1.0;
  }
  if (!(b > a)) {
    const double half = std::max(std::fabs(a), 1.0) * 0.5;
    a -= half;
    b += half;
  }
  const int wanted = std::max(*ticks, 3);
  const double raw = (b - a) / (wanted - 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10.0 * power;
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw * (1.0 - 1e-9)) {
      step = m * power;
      break;
    }
  }
  const double first = std::floor(a / step + 1e-9);
  const double last = std::ceil(b / step - 1e-9);
  *low = first * step;
  *high = last * step;
  *ticks = static_cast<int>(std::lround(last - first)) + 1;
}

ResultsPlots PlotsFromJson(const QByteArray& text, const QString& name) {
  ResultsPlots result;
  const QString document_name = name.isEmpty()
                                    ? QString("The results document")
                                    : "The results document " + QDir::toNativeSeparators(name);
  QJsonParseError error;
  const QJsonDocument json = QJsonDocument::fromJson(text, &error);
  if (error.error != QJsonParseError::NoError) {
    result.message = document_name + " is damaged: " + error.errorString() + " at character " +
                     QString::number(error.offset) + ".";
    return result;
  }
  const QJsonObject document = json.object();
  if (!json.isObject() || document["program"].toString() != "tav95") {
    result.message = document_name + " is not a results document of tav95.";
    return result;
  }
  const int format = document["format"].toInt();
  if (format != kDocumentFormat) {
    result.message = document_name + QString(" has format %1; this front end reads format %2 only.")
                                         .arg(format)
                                         .arg(kDocumentFormat);
    return result;
  }
  AddLatentClassPlots(document, &result.plots);
  AddScoreMap(document, &result.plots);
  AddAssociationScores(document, &result.plots);
  AddEventHistoryPlots(document, &result.plots);
  AddFrequencyPlots(document, &result.plots);
  if (result.plots.empty()) {
    result.message =
        "The model of the last run gives nothing to plot: plots are drawn of latent classes, "
        "correspondence and association scores, event histories and a model's frequencies.";
  }
  return result;
}

namespace {

// A small reader of JSON's outline: where strings and bracketed values end.
class Outline {
 public:
  explicit Outline(QByteArrayView text) : text_(text) {}

  qsizetype position() const { return at_; }
  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  void SkipBlanks() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipBlanks();
    if (Peek() != c) return false;
    ++at_;
    return true;
  }
  // A string, from its opening quote; false when it does not end.
  bool SkipString() {
    if (Peek() != '"') return false;
    for (++at_; !AtEnd(); ++at_) {
      if (text_[at_] == '\\') {
        ++at_;
      } else if (text_[at_] == '"') {
        ++at_;
        return true;
      }
    }
    return false;
  }
  // Any value: a string, an object or array up to its closing bracket, or a word or number.
  bool SkipValue() {
    SkipBlanks();
    const char first = Peek();
    if (first == '"') return SkipString();
    if (first == '{' || first == '[') {
      std::vector<char> open;
      while (!AtEnd()) {
        const char c = Peek();
        if (c == '"') {
          if (!SkipString()) return false;
          continue;
        }
        ++at_;
        if (c == '{' || c == '[') {
          open.push_back(c == '{' ? '}' : ']');
        } else if (c == '}' || c == ']') {
          if (open.empty() || open.back() != c) return false;
          open.pop_back();
          if (open.empty()) return true;
        }
      }
      return false;
    }
    const qsizetype start = at_;
    while (!AtEnd() && Peek() != ',' && Peek() != '}' && Peek() != ']' && Peek() != ' ' &&
           Peek() != '\n' && Peek() != '\r' && Peek() != '\t') {
      ++at_;
    }
    return at_ > start;
  }
  QByteArrayView Slice(qsizetype from, qsizetype to) const { return text_.sliced(from, to - from); }

 private:
  QByteArrayView text_;
  qsizetype at_ = 0;
};

}  // namespace

std::optional<QByteArray> PlotPartsOfDocument(QByteArrayView text) {
  static const QByteArrayView kWanted[] = {"program",
                                           "format",
                                           "model",
                                           "latent_classes",
                                           "frequencies",
                                           "correspondence",
                                           "special_parameters",
                                           "event_history"};
  Outline outline(text);
  if (!outline.Take('{')) return std::nullopt;
  QByteArray parts = "{";
  outline.SkipBlanks();
  if (outline.Peek() == '}') return text.toByteArray();
  while (true) {
    outline.SkipBlanks();
    const qsizetype key_start = outline.position();
    if (!outline.SkipString()) return std::nullopt;
    const QByteArrayView key = outline.Slice(key_start + 1, outline.position() - 1);
    if (!outline.Take(':')) return std::nullopt;
    outline.SkipBlanks();
    const qsizetype value_start = outline.position();
    if (!outline.SkipValue()) return std::nullopt;
    if (std::find(std::begin(kWanted), std::end(kWanted), key) != std::end(kWanted)) {
      if (parts.size() > 1) parts += ',';
      parts += outline.Slice(key_start, value_start);
      parts += outline.Slice(value_start, outline.position());
    }
    if (outline.Take('}')) break;
    if (!outline.Take(',')) return std::nullopt;
  }
  outline.SkipBlanks();
  if (!outline.AtEnd()) return std::nullopt;
  parts += '}';
  return parts;
}

ResultsPlots PlotsFromFile(const QString& path) {
  const QString name = QDir::toNativeSeparators(path);
  if (!QFileInfo::exists(path)) {
    ResultsPlots result;
    result.message =
        "No results to plot: the last run wrote none (" + name +
        " does not exist). Run an input first; a run that stops on an error or is cancelled "
        "writes no results.";
    return result;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ResultsPlots result;
    result.message = "Cannot read the results document " + name + ": " + file.errorString() + ".";
    return result;
  }
  // The file is mapped rather than read: only the parts the plots draw are copied.
  const qint64 size = file.size();
  if (size > 0) {
    if (const uchar* data = file.map(0, size)) {
      const std::optional<QByteArray> parts =
          PlotPartsOfDocument(QByteArrayView(reinterpret_cast<const char*>(data), size));
      if (parts) return PlotsFromJson(*parts, path);
      // A document that is not well formed is parsed whole, so that its fault is reported.
    }
  }
  return PlotsFromJson(file.readAll(), path);
}

}  // namespace tavwin
