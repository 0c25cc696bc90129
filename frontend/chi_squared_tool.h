#ifndef TAV_FRONTEND_CHI_SQUARED_TOOL_H_
#define TAV_FRONTEND_CHI_SQUARED_TOOL_H_

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavwin {

// The chi-squared tool "Chi-squared probability": the upper-tail probability of a
// chi-squared value for a number of degrees of freedom. A small dialog outside the frame,
// created hidden and shown from "&Tools" / "&Chi-squared...".
//
// The controls keep the specified layout of a 162 x 121 client area, scaled as a whole by
// LayoutScale so that every text shows in the dialog's font: the labels, the messages in the
// answer line and the title in the title bar. It is never made smaller than specified.
class ChiSquaredTool : public QDialog {
  Q_OBJECT

 public:
  static constexpr char kTitle[] = "Chi-squared probability";
  static constexpr char kValueText[] = "Chi-squared value";
  static constexpr char kDegreesText[] = "Degrees of freedom";
  static constexpr char kImpossibleValue[] = "Impossible chi-squared value";
  static constexpr char kImpossibleDegrees[] = "Impossible degrees of freedom";

  explicit ChiSquaredTool(QWidget* parent);

  // The factor (at least 1) by which the specified layout grows for the texts in font, with
  // title_font for the title bar.
  static double LayoutScale(const QFont& font, const QFont& title_font);
  double Scale() const { return scale_; }

 public slots:
  void Activated();
  void Calculate();
  void Dismiss();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void LayOut();

  // "Label1", "Label2", "Label3", "Edit1", "Edit2", "Ok" and "Cancel" by their object names.
  QLabel* value_label_ = nullptr;
  QLabel* degrees_label_ = nullptr;
  QLabel* answer_label_ = nullptr;
  QLineEdit* value_edit_ = nullptr;
  QLineEdit* degrees_edit_ = nullptr;
  QPushButton* ok_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  bool placed_ = false;
  double scale_ = 1.0;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_CHI_SQUARED_TOOL_H_
