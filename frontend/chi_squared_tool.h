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
class ChiSquaredTool : public QDialog {
  Q_OBJECT

 public:
  explicit ChiSquaredTool(QWidget* parent);

  QLabel* value_label;
  QLabel* degrees_label;
  QLabel* answer_label;
  QLineEdit* value_edit;
  QLineEdit* degrees_edit;
  QPushButton* ok_button;
  QPushButton* cancel_button;

 public slots:
  void Activated();
  void Calculate();
  void Dismiss();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool placed_ = false;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_CHI_SQUARED_TOOL_H_
