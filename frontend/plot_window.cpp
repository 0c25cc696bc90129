#include "plot_window.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QSvgGenerator>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace tavwin {

namespace {

// Colours that readers with a colour vision deficiency can tell apart, dark enough to show on
// white.
const QColor kPalette[] = {QColor(0x00, 0x72, 0xb2), QColor(0xd5, 0x5e, 0x00),
                           QColor(0x00, 0x9e, 0x73), QColor(0xcc, 0x79, 0xa7),
                           QColor(0xe6, 0x9f, 0x00), QColor(0x56, 0xb4, 0xe9),
                           QColor(0x00, 0x00, 0x00), QColor(0x99, 0x99, 0x33)};
constexpr int kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);
const QScatterSeries::MarkerShape kShapes[] = {
    QScatterSeries::MarkerShapeCircle,   QScatterSeries::MarkerShapeRectangle,
    QScatterSeries::MarkerShapeTriangle, QScatterSeries::MarkerShapeRotatedRectangle,
    QScatterSeries::MarkerShapePentagon, QScatterSeries::MarkerShapeStar};
constexpr int kShapeCount = sizeof(kShapes) / sizeof(kShapes[0]);
constexpr int kWidth = 760;
constexpr int kHeight = 560;

QPen SeriesPen(int i) {
  QPen pen(kPalette[i % kPaletteSize]);
  pen.setWidthF(2.0);
  if (i >= kPaletteSize) pen.setStyle(Qt::DashLine);
  return pen;
}

// "%.2f" and the like: as many decimals as the step between ticks needs.
// The decimals a label needs for ticks step apart (at most 6).
int Decimals(double step) {
  const int decimals =
      step > 0.0 ? std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9))) : 2;
  return std::min(decimals, 6);
}

QString LabelFormat(double step) { return "%." + QString::number(Decimals(step)) + "f"; }

QValueAxis* ValueAxis(const QString& title, double low, double high, int ticks) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setRange(low, high);
  axis->setTickCount(std::max(ticks, 2));
  axis->setLabelFormat(LabelFormat((high - low) / std::max(ticks - 1, 1)));
  return axis;
}

// A map's axis: labels at the multiples of step within [low, high], written with as many
// decimals as step needs (so that no "-0.0" shows where rounding left a tick just below zero).
void SetRoundTicks(QCategoryAxis* axis, double low, double high, double step) {
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  axis->setStartValue(low);
  const int decimals = Decimals(step);
  for (double k = std::ceil(low / step - 1e-9); k <= std::floor(high / step + 1e-9); k += 1.0) {
    axis->append(QString::number(k * step + 0.0, 'f', decimals), k * step);
  }
  // Labels widen the range to take them; the range is set last.
  axis->setRange(low, high);
}

QCategoryAxis* MapAxis(const QString& title) {
  auto* axis = new QCategoryAxis;
  axis->setTitleText(title);
  axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  return axis;
}

// A file name for the plot: its title in lower case, words joined by hyphens.
QString FileStem(const QString& title) {
  QString stem;
  for (const QChar c : title.toLower()) {
    if (c.isLetterOrNumber()) {
      stem += c;
    } else if (!stem.isEmpty() && !stem.endsWith('-')) {
      stem += '-';
    }
    if (stem.size() >= 64) break;
  }
  while (stem.endsWith('-')) stem.chop(1);
  return stem.isEmpty() ? QString("plot") : stem;
}

}  // namespace

PlotWindow::PlotWindow(const QString& results_path, UserDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window), results_path_(results_path), dialogs_(dialogs) {
  setObjectName("PlotWindow");
  setWindowTitle(kTitle);
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel("&Plot:", central);
  list_ = new QComboBox(central);
  list_->setObjectName("PlotList");
  list_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  label->setBuddy(list_);
  row->addWidget(label);
  row->addWidget(list_, 1);
  layout->addLayout(row);
  pages_ = new QStackedWidget(central);
  message_ = new QLabel(pages_);
  message_->setObjectName("PlotMessage");
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignCenter);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setMargin(24);
  view_ = new QChartView(pages_);
  view_->setRenderHint(QPainter::Antialiasing);
  pages_->addWidget(message_);
  pages_->addWidget(view_);
  layout->addWidget(pages_, 1);
  note_ = new QLabel(central);
  note_->setObjectName("PlotNote");
  note_->hide();
  layout->addWidget(note_);
  setCentralWidget(central);
  connect(list_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0 && index != current_) ShowPlot(index);
  });

  auto action = [this](const QString& text, QKeySequence::StandardKey key, auto slot) {
    auto* made = new QAction(text, this);
    made->setShortcuts(key);
    connect(made, &QAction::triggered, this, slot);
    return made;
  };
  savePngAct_ = action("Save as &PNG...", QKeySequence::Save, &PlotWindow::SavePng);
  saveSvgAct_ = action("Save as &SVG...", QKeySequence::SaveAs, &PlotWindow::SaveSvg);
  exportAct_ = new QAction("&Export...", this);
  connect(exportAct_, &QAction::triggered, this, &PlotWindow::Export);
  printAct_ = action("&Print...", QKeySequence::Print, &PlotWindow::Print);
  closeAct_ = action("&Close", QKeySequence::Close, &QWidget::close);
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(savePngAct_);
  file->addAction(saveSvgAct_);
  file->addAction(exportAct_);
  file->addSeparator();
  file->addAction(printAct_);
  file->addSeparator();
  file->addAction(closeAct_);
  resize(kWidth, kHeight);
  ShowMessage(QString());
}

QChart* PlotWindow::Chart() const { return current_ >= 0 ? view_->chart() : nullptr; }

QString PlotWindow::Message() const { return current_ >= 0 ? QString() : message_->text(); }

void PlotWindow::Reload() {
  const QString title = current_ >= 0 ? plots_.plots[current_].title : QString();
  plots_ = PlotsFromFile(results_path_);
  current_ = -1;
  {
    const QSignalBlocker blocker(list_);
    list_->clear();
    for (const Plot& plot : plots_.plots) list_->addItem(plot.title);
  }
  if (plots_.plots.empty()) {
    ShowMessage(plots_.message);
    return;
  }
  int index = 0;
  for (int i = 0; i < static_cast<int>(plots_.plots.size()); ++i) {
    if (plots_.plots[i].title == title) index = i;
  }
  ShowPlot(index);
}

void PlotWindow::ShowMessage(const QString& text) {
  current_ = -1;
  point_labels_.clear();
  label_anchors_.clear();
  message_->setText(text);
  pages_->setCurrentWidget(message_);
  list_->setEnabled(false);
  note_->hide();
  UpdateActions();
}

void PlotWindow::UpdateActions() {
  const bool shown = current_ >= 0;
  savePngAct_->setEnabled(shown);
  saveSvgAct_->setEnabled(shown);
  exportAct_->setEnabled(shown);
  printAct_->setEnabled(shown);
}

void PlotWindow::ShowPlot(int index) {
  if (index < 0 || index >= static_cast<int>(plots_.plots.size())) return;
  const Plot& plot = plots_.plots[index];
  auto* chart = new QChart;
  chart->setTitle(plot.title);
  QFont title_font = chart->titleFont();
  title_font.setBold(true);
  chart->setTitleFont(title_font);
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->legend()->setVisible(true);

  QAbstractAxis* x_axis = nullptr;
  QValueAxis* y_axis = nullptr;
  if (plot.equal_scales) {
    // The ranges and their labels follow the plot area's proportions (PlotAreaChanged).
    x_axis = MapAxis(plot.x_title);
    y_axis = MapAxis(plot.y_title);
  } else if (plot.bars || !plot.x_categories.isEmpty()) {
    auto* axis = new QBarCategoryAxis;
    axis->append(plot.x_categories);
    axis->setTitleText(plot.x_title);
    x_axis = axis;
  } else {
    x_axis = ValueAxis(plot.x_title, plot.x_min, plot.x_max, plot.x_ticks);
  }
  if (y_axis == nullptr) y_axis = ValueAxis(plot.y_title, plot.y_min, plot.y_max, plot.y_ticks);
  chart->addAxis(x_axis, Qt::AlignBottom);
  chart->addAxis(y_axis, Qt::AlignLeft);

  point_labels_.clear();
  label_anchors_.clear();
  int coloured = 0;
  for (const PlotSeries& s : plot.series) {
    if (plot.bars) {
      auto* set = new QBarSet(s.name);
      for (const QPointF& p : s.points) set->append(p.y());
      set->setColor(kPalette[0]);
      set->setBorderColor(kPalette[0]);
      auto* bars = new QBarSeries;
      bars->append(set);
      bars->setLabelsVisible(true);
      bars->setLabelsFormat("@value");
      bars->setLabelsPrecision(3);
      bars->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
      // Above the bar, on the chart's background: in the colour of the axes' text (the
      // toolkit's default is white, for labels inside the bar).
      set->setLabelColor(chart->axes(Qt::Vertical).isEmpty()
                             ? QColor(Qt::black)
                             : chart->axes(Qt::Vertical).constFirst()->labelsBrush().color());
      chart->addSeries(bars);
      bars->attachAxis(x_axis);
      bars->attachAxis(y_axis);
      continue;
    }
    QXYSeries* series = nullptr;
    // A piece of the series before it takes its colour again.
    if (s.continued && coloured > 0) --coloured;
    if (s.style == PlotSeries::Style::kPoints) {
      auto* scatter = new QScatterSeries;
      scatter->setMarkerShape(kShapes[coloured % kShapeCount]);
      scatter->setMarkerSize(9.0);
      scatter->setColor(kPalette[coloured % kPaletteSize]);
      scatter->setBorderColor(kPalette[coloured % kPaletteSize].darker(130));
      series = scatter;
      ++coloured;
    } else {
      auto* line = new QLineSeries;
      if (s.style == PlotSeries::Style::kReference) {
        QPen pen(QColor(0x60, 0x60, 0x60));
        pen.setStyle(Qt::DashLine);
        pen.setWidthF(1.2);
        line->setPen(pen);
      } else {
        line->setPen(SeriesPen(coloured));
        line->setPointsVisible(s.style == PlotSeries::Style::kLinePoints);
        ++coloured;
      }
      series = line;
    }
    series->setName(s.name);
    series->append(s.points);
    chart->addSeries(series);
    series->attachAxis(x_axis);
    series->attachAxis(y_axis);
    if (s.name.isEmpty() || s.continued) {
      for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(false);
    }
    for (qsizetype i = 0; i < s.point_labels.size() && i < s.points.size(); ++i) {
      auto* text = new QGraphicsSimpleTextItem(s.point_labels[i], chart);
      text->setBrush(series->color());
      text->setZValue(10.0);
      point_labels_ << text;
      label_anchors_.push_back({s.points[i], series});
    }
    if (!s.point_tips.isEmpty()) {
      const QList<QPointF> points = s.points;
      const QStringList tips = s.point_tips;
      connect(series, &QXYSeries::hovered, this,
              [this, series, points, tips](const QPointF& point, bool state) {
                if (!state) {
                  QToolTip::hideText();
                  return;
                }
                // The point nearest to the pointer, measured on the screen.
                const QPointF at = view_->chart()->mapToPosition(point, series);
                qsizetype nearest = -1;
                double best = std::numeric_limits<double>::infinity();
                for (qsizetype i = 0; i < points.size() && i < tips.size(); ++i) {
                  const QPointF d = view_->chart()->mapToPosition(points[i], series) - at;
                  const double distance = QPointF::dotProduct(d, d);
                  if (distance < best) {
                    best = distance;
                    nearest = i;
                  }
                }
                if (nearest >= 0) QToolTip::showText(QCursor::pos(), tips[nearest], view_);
              });
    }
  }

  current_ = index;
  QChart* old = view_->chart();
  view_->setChart(chart);
  delete old;
  connect(chart, &QChart::plotAreaChanged, this, &PlotWindow::PlotAreaChanged);
  {
    const QSignalBlocker blocker(list_);
    list_->setCurrentIndex(index);
  }
  list_->setEnabled(true);
  note_->setText(plot.note);
  note_->setVisible(!plot.note.isEmpty());
  pages_->setCurrentWidget(view_);
  UpdateActions();
  PlotAreaChanged();
}

void PlotWindow::PlotAreaChanged() {
  if (adjusting_ || current_ < 0) return;
  const Plot& plot = plots_.plots[current_];
  QChart* chart = view_->chart();
  const QRectF area = chart->plotArea();
  if (plot.equal_scales && area.width() > 1.0 && area.height() > 1.0) {
    adjusting_ = true;
    double x_low = plot.x_min;
    double x_high = plot.x_max;
    double y_low = plot.y_min;
    double y_high = plot.y_max;
    // The axis with fewer units to the pixel is widened about its middle to the other's scale.
    const double x_scale = (x_high - x_low) / area.width();
    const double y_scale = (y_high - y_low) / area.height();
    if (x_scale > y_scale) {
      const double middle = 0.5 * (y_low + y_high);
      y_low = middle - 0.5 * x_scale * area.height();
      y_high = middle + 0.5 * x_scale * area.height();
    } else {
      const double middle = 0.5 * (x_low + x_high);
      x_low = middle - 0.5 * y_scale * area.width();
      x_high = middle + 0.5 * y_scale * area.width();
    }
    SetRoundTicks(static_cast<QCategoryAxis*>(chart->axes(Qt::Horizontal).constFirst()), x_low,
                  x_high, (plot.x_max - plot.x_min) / std::max(plot.x_ticks - 1, 1));
    SetRoundTicks(static_cast<QCategoryAxis*>(chart->axes(Qt::Vertical).constFirst()), y_low,
                  y_high, (plot.y_max - plot.y_min) / std::max(plot.y_ticks - 1, 1));
    adjusting_ = false;
  }
  PlaceLabels();
}

void PlotWindow::PlaceLabels() {
  QChart* chart = view_->chart();
  // The points themselves first: no label covers a point.
  QList<QRectF> taken;
  for (const auto& [value, series] : label_anchors_) {
    const QPointF at = chart->mapToPosition(value, series);
    taken << QRectF(at - QPointF(5.0, 5.0), QSizeF(10.0, 10.0));
  }
  // Each label at the first place beside its point that overlaps nothing placed before, else
  // where it overlaps least.
  for (qsizetype i = 0; i < point_labels_.size(); ++i) {
    QGraphicsSimpleTextItem* text = point_labels_[i];
    const QPointF at = chart->mapToPosition(label_anchors_[i].first, label_anchors_[i].second);
    const QSizeF size = text->boundingRect().size();
    const double w = size.width();
    const double h = size.height();
    const QPointF places[] = {
        at + QPointF(6.0, -h),       at + QPointF(6.0, 0.0),           at + QPointF(-6.0 - w, -h),
        at + QPointF(-6.0 - w, 0.0), at + QPointF(-0.5 * w, -h - 6.0), at + QPointF(-0.5 * w, 6.0)};
    QPointF best = places[0];
    double least = std::numeric_limits<double>::infinity();
    for (const QPointF& place : places) {
      const QRectF box(place, size);
      double overlap = 0.0;
      for (const QRectF& other : taken) {
        const QRectF common = box.intersected(other);
        if (!common.isEmpty()) overlap += common.width() * common.height();
      }
      if (overlap < least) {
        least = overlap;
        best = place;
        if (overlap == 0.0) break;
      }
    }
    text->setPos(best);
    taken << QRectF(best, size);
  }
}

QImage PlotWindow::Image() const { return view_->grab().toImage(); }

QString PlotWindow::SaveStart(const QString& suffix) const {
  const QString directory = !last_saved_.isEmpty()       ? QFileInfo(last_saved_).absolutePath()
                            : !save_directory_.isEmpty() ? save_directory_
                                                         : QDir::homePath();
  return QDir(directory).filePath(FileStem(plots_.plots[current_].title) + "." + suffix);
}

bool PlotWindow::SavePng() {
  if (current_ < 0) return false;
  const QString path = dialogs_->SaveFileName(
      this, {"png", {"PNG image (*.png)", AllFilesFilter()}}, SaveStart("png"));
  return !path.isEmpty() && SavePngTo(path);
}

bool PlotWindow::SaveSvg() {
  if (current_ < 0) return false;
  const QString path = dialogs_->SaveFileName(
      this, {"svg", {"SVG drawing (*.svg)", AllFilesFilter()}}, SaveStart("svg"));
  return !path.isEmpty() && SaveSvgTo(path);
}

namespace {

// Writes bytes to path through a temporary file that replaces it only when complete.
bool WriteWhole(const QString& path, const QByteArray& bytes, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace

bool PlotWindow::SavePngTo(const QString& path) {
  if (current_ < 0) return false;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QString error = "the image could not be made";
  if (!Image().save(&buffer, "PNG") || !WriteWhole(path, bytes, &error)) {
    dialogs_->Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error + ".");
    return false;
  }
  last_saved_ = path;
  return true;
}

bool PlotWindow::SaveSvgTo(const QString& path) {
  if (current_ < 0) return false;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(view_->size());
  generator.setViewBox(QRect(QPoint(0, 0), view_->size()));
  generator.setTitle(plots_.plots[current_].title);
  generator.setDescription("Drawn by TAV from the results of a run.");
  QPainter painter;
  QString error = "the drawing could not be made";
  bool made = painter.begin(&generator);
  if (made) {
    view_->render(&painter);
    made = painter.end();
  }
  if (!made || !WriteWhole(path, bytes, &error)) {
    dialogs_->Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error + ".");
    return false;
  }
  last_saved_ = path;
  return true;
}

bool PlotWindow::Export() {
  if (current_ < 0) return false;
  const std::optional<PlotExport> how = dialogs_->ChooseExport(this, last_export_);
  if (!how) return false;
  last_export_ = *how;
  const QString description = how->format == "png"   ? "PNG image (*.png)"
                              : how->format == "svg" ? "SVG drawing (*.svg)"
                                                     : "PDF document (*.pdf)";
  const QString path = dialogs_->SaveFileName(this, {how->format, {description, AllFilesFilter()}},
                                              SaveStart(how->format));
  return !path.isEmpty() && ExportTo(path, *how);
}

bool PlotWindow::ExportTo(const QString& path, const PlotExport& how) {
  QChart* chart = Chart();
  if (chart == nullptr || !(how.width_mm > 0) || !(how.height_mm > 0) || how.dpi <= 0) {
    return false;
  }
  constexpr double kScreenDpi = 96.0;
  constexpr double kMmPerInch = 25.4;
  // The chart laid out at the size on paper, as a screen would show it, then put back.
  const QSizeF layout(how.width_mm / kMmPerInch * kScreenDpi,
                      how.height_mm / kMmPerInch * kScreenDpi);
  const QSizeF kept = chart->size();
  chart->resize(layout);
  if (chart->layout() != nullptr) chart->layout()->activate();
  const QRectF source(chart->scenePos(), layout);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  bool made = false;
  QPainter painter;
  if (how.format == "png") {
    const QSize pixels(qRound(how.width_mm / kMmPerInch * how.dpi),
                       qRound(how.height_mm / kMmPerInch * how.dpi));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    const int dots_per_metre = qRound(how.dpi / kMmPerInch * 1000.0);
    image.setDotsPerMeterX(dots_per_metre);
    image.setDotsPerMeterY(dots_per_metre);
    image.fill(Qt::white);
    if (painter.begin(&image)) {
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setRenderHint(QPainter::TextAntialiasing);
      chart->scene()->render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)), source);
      made = painter.end() && image.save(&buffer, "PNG");
    }
  } else if (how.format == "svg") {
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    // A hundredth of a millimetre to the unit, so that the drawing is as large as asked.
    generator.setResolution(qRound(kMmPerInch * 100));
    generator.setSize(QSize(qRound(how.width_mm * 100), qRound(how.height_mm * 100)));
    generator.setViewBox(QRectF(QPointF(0, 0), layout));
    generator.setTitle(plots_.plots[current_].title);
    generator.setDescription("Drawn by TAV from the results of a run.");
    if (painter.begin(&generator)) {
      painter.setRenderHint(QPainter::Antialiasing);
      chart->scene()->render(&painter, QRectF(QPointF(0, 0), layout), source);
      made = painter.end();
    }
  } else if (how.format == "pdf") {
    QPdfWriter writer(&buffer);
    writer.setTitle(plots_.plots[current_].title);
    writer.setCreator("TAV");
    writer.setResolution(1200);
    writer.setPageSize(QPageSize(QSizeF(how.width_mm, how.height_mm), QPageSize::Millimeter));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    if (painter.begin(&writer)) {
      painter.setRenderHint(QPainter::Antialiasing);
      chart->scene()->render(&painter, QRectF(painter.viewport()), source);
      made = painter.end();
    }
  }
  chart->resize(kept);
  if (chart->layout() != nullptr) chart->layout()->activate();
  QString error = "the plot could not be drawn";
  if (!made || !WriteWhole(path, bytes, &error)) {
    dialogs_->Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error + ".");
    return false;
  }
  last_saved_ = path;
  return true;
}

void PlotWindow::Print() {
  if (current_ < 0) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setDocName(plots_.plots[current_].title);
  if (!dialogs_->ChoosePrinter(this, &printer)) return;
  QPainter painter;
  if (!painter.begin(&printer)) {
    dialogs_->Warn(this, "Cannot print: the printer could not be used.");
    return;
  }
  // The plot as large as the page allows, in the proportions it has on the screen.
  const QRect page = painter.viewport();
  QSize size = view_->size();
  size.scale(page.size(), Qt::KeepAspectRatio);
  view_->render(&painter, QRectF(page.topLeft(), size), view_->rect());
  painter.end();
}

}  // namespace tavwin
