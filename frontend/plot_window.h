#ifndef TAV_FRONTEND_PLOT_WINDOW_H_
#define TAV_FRONTEND_PLOT_WINDOW_H_

#include <QImage>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <utility>
#include <vector>

#include "results_plots.h"
#include "user_dialogs.h"

class QAction;
class QChart;
class QChartView;
class QComboBox;
class QGraphicsSimpleTextItem;
class QLabel;
class QStackedWidget;
class QXYSeries;

namespace tavwin {

// The plots window "Plots": a window of its own beside the frame that draws the plots of the
// last run's results document (results_plots.h), one at a time, chosen in the list at its
// top. The shown plot can be saved as a PNG image or an SVG drawing and printed. A document
// that is missing, unreadable or damaged, or a model that gives no plots, shows its message in
// place of a plot.
//
// Series take their colours from a palette that stays apart for readers with a colour vision
// deficiency (the ninth and later series repeat it with dashed lines); the points of
// scatter plots also differ in shape. The points of a map carry their labels, moved apart
// where they would overlap, and its axes keep one scale. The pointer on a point shows what
// it stands for.
class PlotWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr char kTitle[] = "Plots";

  // results_path: the document (read by Reload); dialogs: who answers the file and printer
  // dialogs.
  PlotWindow(const QString& results_path, UserDialogs* dialogs, QWidget* parent);

  // Reads the document again and shows the plot of the same title as before, else the first.
  void Reload();
  // Where "Save as" starts until a plot was saved: the input's directory.
  void SetSaveDirectory(const QString& directory) { save_directory_ = directory; }
  // Shows plot index of the document.
  void ShowPlot(int index);

  const ResultsPlots& Plots() const { return plots_; }
  int CurrentPlot() const { return current_; }
  // The chart shown, or null while a message shows.
  QChart* Chart() const;
  // The message shown instead of a plot, or empty.
  QString Message() const;
  // The point labels of the map shown, as drawn.
  const QList<QGraphicsSimpleTextItem*>& PointLabels() const { return point_labels_; }

  // The shown plot drawn at its size in the window.
  QImage Image() const;
  // Write the shown plot; false (after telling the user) when it could not be written.
  bool SavePngTo(const QString& path);
  bool SaveSvgTo(const QString& path);
  // Writes the shown plot laid out at the size on paper that how gives: a PNG image at its
  // resolution (with that resolution recorded in the file), an SVG drawing or a one-page PDF
  // of that size. The plot is laid out as on a screen of 96 dots per inch and drawn scaled,
  // so that its texts keep their size on paper. false (after telling the user) when the file
  // could not be written.
  bool ExportTo(const QString& path, const PlotExport& how);

 public slots:
  // "Save as &PNG..." and "Save as &SVG...": true when the plot was written.
  bool SavePng();
  bool SaveSvg();
  // "&Export...": asks for the kind, size and resolution, then for the file.
  bool Export();
  // "&Print...".
  void Print();

 private:
  void ShowMessage(const QString& text);
  // Keeps a map's scale equal along both axes and its labels beside their points.
  void PlotAreaChanged();
  void PlaceLabels();
  QString SaveStart(const QString& suffix) const;
  void UpdateActions();

  QString results_path_;
  UserDialogs* dialogs_;
  ResultsPlots plots_;
  int current_ = -1;
  bool adjusting_ = false;

  QComboBox* list_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QLabel* message_ = nullptr;
  QChartView* view_ = nullptr;
  QLabel* note_ = nullptr;
  QList<QGraphicsSimpleTextItem*> point_labels_;
  // The point and series each label belongs to.
  std::vector<std::pair<QPointF, QXYSeries*>> label_anchors_;
  QString save_directory_;
  QString last_saved_;
  PlotExport last_export_;

  QAction* savePngAct_ = nullptr;
  QAction* saveSvgAct_ = nullptr;
  QAction* exportAct_ = nullptr;
  QAction* printAct_ = nullptr;
  QAction* closeAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_PLOT_WINDOW_H_
