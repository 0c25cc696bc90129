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

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QPushButton* Ok;
  QPushButton* Cancel;

 public slots:
  void FormActivate();
  void OkClick();
  void CancelClick();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool placed_ = false;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_CHI_SQUARED_TOOL_H_
