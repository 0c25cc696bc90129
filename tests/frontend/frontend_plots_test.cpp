// The plots window on the offscreen platform. Every plot kind is drawn from the results
// document of a real run of an example and described (axes, series, legend, point labels);
// the descriptions are compared with tests/golden/plots (TAV_UPDATE_GOLDEN=1 writes them
// anew). Damaged and unexpected documents give a message, never a crash.
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGraphicsSimpleTextItem>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLegend>
#include <QLegendMarker>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QSet>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QXYSeries>
#include <QtTest>
#include <cmath>

#include "engine_launch.h"
#include "main_window.h"
#include "plot_window.h"
#include "results_plots.h"
#include "scripted_dialogs.h"

using namespace tavwin;

namespace {

QString Number(double value) { return QString::number(value, 'g', 6); }

QString Points(const QList<QPointF>& points) {
  auto text = [](const QPointF& p) { return "(" + Number(p.x()) + ", " + Number(p.y()) + ")"; };
  QStringList parts;
  if (points.size() <= 8) {
    for (const QPointF& p : points) parts << text(p);
    return parts.join(' ');
  }
  double low = points.front().y();
  double high = low;
  for (const QPointF& p : points) {
    low = std::min(low, p.y());
    high = std::max(high, p.y());
  }
  return text(points.front()) + " ... " + text(points.back()) + ", y from " + Number(low) + " to " +
         Number(high);
}

QString AxisText(QAbstractAxis* axis) {
  QString text = "\"" + axis->titleText() + "\"";
  if (auto* categories = qobject_cast<QBarCategoryAxis*>(axis)) {
    return text + " categories " + categories->categories().join(" | ");
  }
  // A map's labels depend on the window's proportions.
  if (qobject_cast<QCategoryAxis*>(axis) != nullptr) return text + " labelled at round values";
  auto* values = qobject_cast<QValueAxis*>(axis);
  if (values == nullptr) return text + " of an unexpected type";
  return text + " from " + Number(values->min()) + " to " + Number(values->max()) + ", " +
         QString::number(values->tickCount()) + " ticks";
}

// The contrast ratio of two colours as the WCAG define it, (L1 + 0.05) / (L2 + 0.05) of their
// relative luminances: 1 for equal colours, 21 for black on white.
double Contrast(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& c) {
    const auto linear = [](double v) {
      return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour of a chart's background (the first of a gradient's).
QColor BackgroundColour(QChart* chart) {
  const QBrush brush = chart->backgroundBrush();
  if (brush.gradient() != nullptr && !brush.gradient()->stops().isEmpty()) {
    return brush.gradient()->stops().constFirst().second;
  }
  return brush.color();
}

QString LabelPlace(QAbstractBarSeries* bars) {
  switch (bars->labelsPosition()) {
    case QAbstractBarSeries::LabelsOutsideEnd:
      return "above the bars";
    case QAbstractBarSeries::LabelsInsideEnd:
      return "inside the bars' ends";
    case QAbstractBarSeries::LabelsInsideBase:
      return "inside the bars' bases";
    default:
      return "in the bars' middles";
  }
}

// What the chart of the window shows, in words: what a reader of the plot would check.
QString Describe(const PlotWindow& window) {
  QChart* chart = window.Chart();
  const Plot& plot = window.Plots().plots[window.CurrentPlot()];
  QStringList lines;
  lines << "plot \"" + chart->title() + "\"";
  // What the labels are drawn on.
  const QString background = BackgroundColour(chart).name();
  if (!plot.note.isEmpty()) lines << "  note: " + plot.note;
  lines << "  x axis " + AxisText(chart->axes(Qt::Horizontal).constFirst());
  lines << "  y axis " + AxisText(chart->axes(Qt::Vertical).constFirst());
  if (plot.equal_scales) {
    lines << "  drawn around x from " + Number(plot.x_min) + " to " + Number(plot.x_max) +
                 ", y from " + Number(plot.y_min) + " to " + Number(plot.y_max);
  }
  for (QAbstractSeries* series : chart->series()) {
    if (auto* bars = qobject_cast<QBarSeries*>(series)) {
      for (QBarSet* set : bars->barSets()) {
        QStringList values;
        for (int i = 0; i < set->count(); ++i) values << Number(set->at(i));
        lines << "  bars \"" + set->label() + "\": " + values.join(' ');
        if (bars->isLabelsVisible()) {
          lines << "  bar labels " + set->labelColor().name() + " on " + background + " " +
                       LabelPlace(bars);
        }
      }
      continue;
    }
    auto* xy = qobject_cast<QXYSeries*>(series);
    const QString kind = qobject_cast<QScatterSeries*>(series) != nullptr ? "points"
                         : xy->pointsVisible()                            ? "line and points"
                                                                          : "line";
    lines << "  " + kind + " \"" + xy->name() + "\" " + QString::number(xy->count()) + ": " +
                 Points(xy->points());
  }
  QStringList legend;
  for (QLegendMarker* marker : chart->legend()->markers()) {
    if (marker->isVisible()) legend << marker->label();
  }
  lines << "  legend: " + legend.join(" | ");
  QStringList labels;
  QStringList colours;
  for (QGraphicsSimpleTextItem* label : window.PointLabels()) {
    labels << label->text();
    const QString colour = label->brush().color().name();
    if (!colours.contains(colour)) colours << colour;
  }
  if (!labels.isEmpty()) {
    lines << "  point labels: " + labels.join(' ');
    lines << "  point label colours: " + colours.join(' ') + " on " + background;
  }
  return lines.join('\n') + '\n';
}

// The area shared by two labels of the map.
double LabelOverlap(const PlotWindow& window) {
  double overlap = 0.0;
  const QList<QGraphicsSimpleTextItem*>& labels = window.PointLabels();
  for (qsizetype i = 0; i < labels.size(); ++i) {
    for (qsizetype j = 0; j < i; ++j) {
      const QRectF common =
          labels[i]->sceneBoundingRect().intersected(labels[j]->sceneBoundingRect());
      if (!common.isEmpty()) overlap += common.width() * common.height();
    }
  }
  return overlap;
}

// Colours of an image that are not grey: a plot shows its series.
int Colours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) {
      const QRgb c = image.pixel(x, y);
      if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)) colours.insert(c);
    }
  }
  return static_cast<int>(colours.size());
}

}  // namespace

class FrontendPlotsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void EveryPlotKindOfTheExamples_data();
  void EveryPlotKindOfTheExamples();
  void RoundRanges();
  void MissingAndDamagedDocumentsGiveAMessage();
  void GarbledDocumentsNeverCrash();
  void SurvivalCurvesAsTheDocumentGivesThem();
  void SavesAndPrints();
  void OnlyThePlottedPartsAreRead();
  void ToolsMenuOpensThePlotsOfTheLastRun();

 private:
  // Runs the engine on an example with TAV_RESULTS_JSON; the document's path.
  QString RunExample(const QString& name);

  QTemporaryDir dir_;
  ScriptedDialogs dialogs_;
};

void FrontendPlotsTest::initTestCase() { QVERIFY(dir_.isValid()); }

QString FrontendPlotsTest::RunExample(const QString& name) {
  // An example, else a golden case.
  QDir examples(TAV_SOURCE_DIR "/examples");
  if (!examples.exists(name + ".inp")) examples.setPath(TAV_SOURCE_DIR "/tests/golden/cases");
  const QString work = dir_.filePath(name);
  QDir().mkpath(work);
  for (const QString& file : examples.entryList({name + ".*"}, QDir::Files)) {
    QFile::copy(examples.filePath(file), QDir(work).filePath(file));
  }
  const QString document = QDir(work).filePath("results.json");
  QProcess engine;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("TAV_RESULTS_JSON", document);
  engine.setProcessEnvironment(environment);
  engine.setWorkingDirectory(work);
  engine.start(TAV95_PATH, {name + ".inp", name + ".out"});
  engine.waitForFinished(120000);
  return engine.exitCode() == 0 ? document : QString();
}

void FrontendPlotsTest::EveryPlotKindOfTheExamples_data() {
  QTest::addColumn<QString>("example");
  // Between them every plot kind: latent classes (with frequencies; items of three categories;
  // subgroups of nonresponse), correspondence,
  // association analysis and multiple correspondence maps, row-column association scores,
  // discrete and continuous time with competing risks, a mixture of hazards, Weibull rates and
  // a chain of states. The survival curves' ends are checked by hand: mixhaz X=1 at 8 is
  // exp(-2 (0.637013 + 0.455751 + 0.437276 + 0.299956)) = 0.0257327, discrete A=1 at 5 is the
  // product of 1 - p over the five intervals, 0.212688, and hazweib A=1 at 11.952 is
  // exp(-0.0419776 11.952^1.46351) = 0.205072.
  for (const char* name : {"lcthree", "smoke", "assoc", "mca", "rcmental", "discrete", "compete",
                           "mixhaz", "haireye", "lcorder", "lcmissin", "hazweib", "hazchain"}) {
    QTest::newRow(name) << QString(name);
  }
}

void FrontendPlotsTest::EveryPlotKindOfTheExamples() {
  QFETCH(QString, example);
  const QString document = RunExample(example);
  QVERIFY2(!document.isEmpty(), "the engine failed");
  PlotWindow window(document, &dialogs_, nullptr);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.Reload();
  QVERIFY2(window.Message().isEmpty(), qPrintable(window.Message()));
  QString description;
  for (int i = 0; i < Child<QComboBox>(&window)->count(); ++i) {
    Child<QComboBox>(&window)->setCurrentIndex(i);
    QCoreApplication::processEvents();
    QCOMPARE(window.CurrentPlot(), i);
    const Plot& plot = window.Plots().plots[i];
    description += Describe(window);
    // Every text can be read on its background: the bars' values as body text, the labels
    // of a map's points, which take their series' colours, as large text at least.
    const QColor background = BackgroundColour(window.Chart());
    for (QAbstractSeries* series : window.Chart()->series()) {
      if (auto* bars = qobject_cast<QBarSeries*>(series)) {
        for (QBarSet* set : bars->barSets()) {
          QVERIFY2(Contrast(set->labelColor(), background) >= 4.5, qPrintable(plot.title));
        }
      }
    }
    for (QGraphicsSimpleTextItem* label : window.PointLabels()) {
      QVERIFY2(Contrast(label->brush().color(), background) >= 2.0, qPrintable(label->text()));
    }
    const QImage image = window.Image();
    QCOMPARE(image.size(), Child<QChartView>(&window)->size() * window.devicePixelRatio());
    QVERIFY2(Colours(image) >= 3, qPrintable(plot.title));
    // To look at them: TAV_PLOT_IMAGES names a directory.
    if (qEnvironmentVariableIsSet("TAV_PLOT_IMAGES")) {
      image.save(QDir(qEnvironmentVariable("TAV_PLOT_IMAGES"))
                     .filePath(example + "-" + QString::number(i + 1) + ".png"));
    }
    if (plot.equal_scales) {
      // One unit as long along both axes, and nothing of the plot cut off.
      QChart* chart = window.Chart();
      auto* x = static_cast<QValueAxis*>(chart->axes(Qt::Horizontal).constFirst());
      auto* y = static_cast<QValueAxis*>(chart->axes(Qt::Vertical).constFirst());
      const double x_scale = (x->max() - x->min()) / chart->plotArea().width();
      const double y_scale = (y->max() - y->min()) / chart->plotArea().height();
      QVERIFY2(std::fabs(x_scale - y_scale) < 1e-9 * x_scale,
               qPrintable(QString("%1 %2 %3 %4")
                              .arg(x_scale)
                              .arg(y_scale)
                              .arg(chart->plotArea().width())
                              .arg(chart->plotArea().height())));
      QVERIFY(x->min() <= plot.x_min + 1e-12 && x->max() >= plot.x_max - 1e-12);
      QVERIFY(y->min() <= plot.y_min + 1e-12 && y->max() >= plot.y_max - 1e-12);
      QCOMPARE(LabelOverlap(window), 0.0);
    }
  }
  const QString golden = QString(TAV_SOURCE_DIR "/tests/golden/plots/") + example + ".txt";
  if (qEnvironmentVariableIsSet("TAV_UPDATE_GOLDEN")) {
    QDir().mkpath(QFileInfo(golden).absolutePath());
    QFile out(golden);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(out.write(description.toUtf8()) == description.toUtf8().size());
  }
  QFile in(golden);
  QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(golden));
  QCOMPARE(description, QString::fromUtf8(in.readAll()));
}

void FrontendPlotsTest::RoundRanges() {
  struct Case {
    double low, high;
    int ticks;
    double want_low, want_high;
    int want_ticks;
  };
  for (const Case& c : {Case{0.0, 1.0, 6, 0.0, 1.0, 6}, Case{0.0, 32.0, 6, 0.0, 40.0, 5},
                        Case{-3.1, 3.1, 6, -4.0, 4.0, 5}, Case{0.013, 0.087, 6, 0.0, 0.1, 6},
                        Case{5.0, 5.0, 6, 2.0, 8.0, 7}, Case{-0.35, 0.42, 6, -0.4, 0.6, 6}}) {
    double low = c.low;
    double high = c.high;
    int ticks = c.ticks;
    RoundRange(&low, &high, &ticks);
    QVERIFY2(
        std::fabs(low - c.want_low) < 1e-12 && std::fabs(high - c.want_high) < 1e-12 &&
            ticks == c.want_ticks,
        qPrintable(
            QString("%1 %2 -> %3 %4 %5").arg(c.low).arg(c.high).arg(low).arg(high).arg(ticks)));
  }
}

void FrontendPlotsTest::MissingAndDamagedDocumentsGiveAMessage() {
  struct Case {
    const char* text;  // nullptr: no file at all
    const char* message;
  };
  const Case cases[] = {
      {nullptr, "No results to plot: the last run wrote none ("},
      {"{\"program\": \"tav95\", \"format\": 1, ", "is damaged: "},
      {"", "is damaged: "},
      {"[1, 2]", "is not a results document of tav95."},
      {"{\"program\": \"other\"}", "is not a results document of tav95."},
      {"{\"program\": \"tav95\", \"format\": 2}", "has format 2; this front end reads format 1"},
      {"{\"program\": \"tav95\", \"format\": 1, \"frequencies\": []}",
       "The model of the last run gives nothing to plot"},
  };
  const QString path = dir_.filePath("damaged.json");
  PlotWindow window(path, &dialogs_, nullptr);
  for (const Case& c : cases) {
    QFile::remove(path);
    if (c.text != nullptr) {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(c.text);
    }
    window.Reload();
    QVERIFY2(window.Message().contains(c.message), qPrintable(window.Message()));
    QVERIFY(window.Chart() == nullptr);
    QVERIFY(!window.SavePng() && !window.SaveSvg());
  }
}

// The survival plot draws the document's curves point for point; a document without them (an
// older engine's) gets lines through the survival at the interval ends.
void FrontendPlotsTest::SurvivalCurvesAsTheDocumentGivesThem() {
  const QString document = RunExample("compete");
  QVERIFY(!document.isEmpty());
  QFile file(document);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QJsonObject whole = QJsonDocument::fromJson(file.readAll()).object();
  const auto survival_plot = [](const QJsonObject& changed) {
    const ResultsPlots plots = PlotsFromJson(QJsonDocument(changed).toJson());
    for (const Plot& plot : plots.plots) {
      if (plot.kind == PlotKind::kSurvival) return plot;
    }
    return Plot();
  };
  QJsonObject part = whole["event_history"].toObject();
  const QJsonArray curves = part["survival_curves"].toArray();
  const Plot drawn = survival_plot(whole);
  QCOMPARE(drawn.series.size(), static_cast<size_t>(curves.size()));
  for (qsizetype c = 0; c < curves.size(); ++c) {
    const QJsonArray points = curves[c].toObject()["points"].toArray();
    const QList<QPointF>& series = drawn.series[c].points;
    QCOMPARE(series.size(), points.size());
    for (qsizetype i = 0; i < points.size(); ++i) {
      QCOMPARE(series[i].x(), points[i].toArray()[0].toDouble());
      QCOMPARE(series[i].y(), points[i].toArray()[1].toDouble());
    }
  }
  part.remove("survival_curves");
  whole["event_history"] = part;
  const Plot ends = survival_plot(whole);
  QCOMPARE(ends.series.size(), drawn.series.size());
  const QJsonArray bounds = part["time_boundaries"].toArray();
  const QList<QPointF>& first = ends.series[0].points;
  QCOMPARE(first.size(), bounds.size());
  QCOMPARE(first[0], QPointF(bounds[0].toDouble(), 1.0));
  for (qsizetype t = 1; t < bounds.size(); ++t) {
    QCOMPARE(first[t].x(), bounds[t].toDouble());
    QCOMPARE(first[t].y(), drawn.series[0].points[16 * t].y());
  }
}

void FrontendPlotsTest::GarbledDocumentsNeverCrash() {
  const QString document = RunExample("mixhaz");
  QVERIFY(!document.isEmpty());
  QFile file(document);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  const QJsonObject whole = QJsonDocument::fromJson(text).object();
  // Every part and every value of the parts replaced by values of other types.
  const QJsonValue strangers[] = {QJsonValue(), QJsonValue(-7), QJsonValue("x"),
                                  QJsonArray{1, "a", QJsonArray{}}, QJsonObject{{"k", 1}}};
  int documents = 0;
  for (const QString& key : whole.keys()) {
    for (const QJsonValue& stranger : strangers) {
      QJsonObject changed = whole;
      changed[key] = stranger;
      PlotsFromJson(QJsonDocument(changed).toJson());
      ++documents;
      if (!whole[key].isObject()) continue;
      QJsonObject part = whole[key].toObject();
      for (const QString& inner : part.keys()) {
        QJsonObject changed_part = part;
        changed_part[inner] = stranger;
        changed[key] = changed_part;
        const ResultsPlots plots = PlotsFromJson(QJsonDocument(changed).toJson());
        for (const Plot& plot : plots.plots) {
          QVERIFY(std::isfinite(plot.x_min) && std::isfinite(plot.x_max) &&
                  plot.x_max > plot.x_min);
          QVERIFY(std::isfinite(plot.y_min) && std::isfinite(plot.y_max) &&
                  plot.y_max > plot.y_min);
        }
        ++documents;
      }
    }
  }
  // Cut off anywhere.
  QRandomGenerator random(20261208);
  for (int i = 0; i < 200; ++i) {
    const ResultsPlots plots = PlotsFromJson(text.left(random.bounded(text.size())));
    QVERIFY(plots.plots.empty() && plots.message.contains("is damaged"));
  }
  QVERIFY(documents > 100);
}

void FrontendPlotsTest::SavesAndPrints() {
  const QString document = RunExample("smoke");
  PlotWindow window(document, &dialogs_, nullptr);
  window.resize(640, 480);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.Reload();
  const QString png = dir_.filePath("map.png");
  const QString svg = dir_.filePath("map.svg");
  dialogs_.save_names = QStringList{png, svg};
  QVERIFY(window.SavePng());
  QVERIFY2(dialogs_.save_starts.last().endsWith(
               "/correspondence-analysis-x-rho-on-dimensions-1-and-2.png"),
           qPrintable(dialogs_.save_starts.last()));
  QVERIFY(window.SaveSvg());
  QCOMPARE(QImage(png).size(), window.Image().size());
  QFile drawing(svg);
  QVERIFY(drawing.open(QIODevice::ReadOnly));
  const QByteArray svg_text = drawing.readAll();
  QVERIFY(svg_text.contains("<svg") && svg_text.contains("Correspondence analysis: x*rho"));
  // A file that cannot be written is reported and nothing is left behind.
  const QString unwritable = dir_.filePath("no such directory/map.png");
  QVERIFY(!window.SavePngTo(unwritable));
  QVERIFY(dialogs_.warned.last().startsWith("Cannot write "));
  QVERIFY(!QFile::exists(unwritable));
  // Printed to a PDF file.
  dialogs_.pdf_path = dir_.filePath("map.pdf");
  window.Print();
  QFile pdf(dialogs_.pdf_path);
  QVERIFY(pdf.open(QIODevice::ReadOnly));
  QVERIFY(pdf.read(5) == "%PDF-" && pdf.size() > 1000);
  dialogs_.pdf_path.clear();

  // Exported for a paper: 160 x 100 mm at 300 dpi is 1890 x 1181 pixels (160 / 25.4 * 300 =
  // 1889.8), 11811 dots per metre; the window's own picture stays as it was.
  const QSize shown = window.Image().size();
  const QString paper = dir_.filePath("paper.png");
  dialogs_.export_choice = PlotExport{"png", 160.0, 100.0, 300};
  dialogs_.save_names = QStringList{paper};
  QVERIFY(window.Export());
  QCOMPARE(dialogs_.export_starts.last().dpi, 300);  // what the dialog starts from
  const QImage image(paper);
  QCOMPARE(image.size(), QSize(1890, 1181));
  QCOMPARE(image.dotsPerMeterX(), 11811);
  QVERIFY(Colours(image) >= 3);
  QCOMPARE(window.Image().size(), shown);
  // A drawing of 80 x 60 mm: 302.362 x 226.772 units at 96 to the inch; a PDF page of that size
  // in whole points, as page sizes go (80 / 25.4 * 72 = 226.77, 60 / 25.4 * 72 = 170.08).
  const QString drawing_path = dir_.filePath("paper.svg");
  QVERIFY(window.ExportTo(drawing_path, PlotExport{"svg", 80.0, 60.0, 300}));
  QFile exported(drawing_path);
  QVERIFY(exported.open(QIODevice::ReadOnly));
  const QByteArray exported_text = exported.readAll();
  QVERIFY2(exported_text.contains("width=\"80mm\" height=\"60mm\"") &&
               exported_text.contains("viewBox=\"0 0 302.362 226.772\""),
           exported_text.left(600));
  const QString pdf_path = dir_.filePath("paper.pdf");
  QVERIFY(window.ExportTo(pdf_path, PlotExport{"pdf", 80.0, 60.0, 300}));
  QFile exported_pdf(pdf_path);
  QVERIFY(exported_pdf.open(QIODevice::ReadOnly));
  const QByteArray pdf_text = exported_pdf.readAll();
  QVERIFY(pdf_text.startsWith("%PDF-"));
  QVERIFY2(QRegularExpression(R"(/MediaBox \[0 0 227(\.0*)? 170(\.0*)?\])")
               .match(QString::fromLatin1(pdf_text))
               .hasMatch(),
           pdf_text.mid(pdf_text.indexOf("/MediaBox"), 60).constData());
}

void FrontendPlotsTest::OnlyThePlottedPartsAreRead() {
  QFile file(RunExample("lcthree"));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  // A long run's document: a large part that no plot draws, with brackets and quotes in its
  // strings, in front of the parts that plots draw.
  QByteArray history = R"({"iteration_history": [)";
  for (int i = 0; i < 100000; ++i) {
    if (i > 0) history += ", ";
    history += R"({"iteration": )" + QByteArray::number(i) + R"(, "note": "a \"}] {[ text"})";
  }
  history += "],";
  QByteArray large = text;
  large.replace(large.indexOf('{'), 1, history);
  QVERIFY(large.size() > 4000000);
  const std::optional<QByteArray> parts = PlotPartsOfDocument(large);
  QVERIFY(parts.has_value());
  QVERIFY(!parts->contains("iteration_history") && parts->size() < text.size());
  const QString path = dir_.filePath("large.json");
  QFile out(path);
  QVERIFY(out.open(QIODevice::WriteOnly) && out.write(large) == large.size());
  out.close();
  const ResultsPlots expected = PlotsFromJson(text);
  const ResultsPlots read = PlotsFromFile(path);
  QCOMPARE(read.plots.size(), expected.plots.size());
  for (size_t i = 0; i < read.plots.size(); ++i) {
    QCOMPARE(read.plots[i].title, expected.plots[i].title);
    QCOMPARE(read.plots[i].series.size(), expected.plots[i].series.size());
    QCOMPARE(read.plots[i].series[0].points, expected.plots[i].series[0].points);
  }
  // A part that no plot draws but that is not well formed: the document is damaged all the
  // same.
  QVERIFY(!PlotPartsOfDocument(R"({"program": "tav95", "x": [1, 2}, "format": 1})").has_value());
  QVERIFY(!PlotPartsOfDocument(R"({"program": "tav95"} trailing)").has_value());
  QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
  out.write(R"({"program": "tav95", "format": 1, "x": "unended})");
  out.close();
  QVERIFY(PlotsFromFile(path).message.contains("is damaged"));
}

void FrontendPlotsTest::ToolsMenuOpensThePlotsOfTheLastRun() {
  QTemporaryDir temp;
  const FrontEndPaths paths =
      FrontEndPaths::Make(QCoreApplication::applicationDirPath(), temp.path(), temp.path());
  MainWindow frame(paths, temp.filePath("TAV.Ini"), &dialogs_);
  QAction* plots = ItemNamed(MenuNamed(frame.menuBar(), "&Tools"), "P&lots...");
  QVERIFY(plots != nullptr);
  plots->trigger();
  QVERIFY(Child<PlotWindow>(&frame)->isVisible());
  QVERIFY(Child<PlotWindow>(&frame)->Message().startsWith("No results to plot"));
  // The document of a run appears: the window draws it when asked again.
  QVERIFY(QFile::copy(RunExample("lcthree"), paths.TempResultsPath));
  plots->trigger();
  QCOMPARE(Child<QComboBox>(Child<PlotWindow>(&frame))->itemText(0),
           QString("Latent class profiles"));
  Child<PlotWindow>(&frame)->close();
}

QTEST_MAIN(FrontendPlotsTest)
#include "frontend_plots_test.moc"
