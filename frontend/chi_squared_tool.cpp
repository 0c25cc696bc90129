#include "chi_squared_tool.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "chi_squared.h"

namespace tavwin {
namespace {

// The dialog's fixed layout has room for an 8-point label of 102 pixels beside the edit
// fields. A wider font is condensed, and then made smaller, until the longest label fits.
QFont FitLabelFont(QFont font, const QString& longest, int room) {
  font.setPointSizeF(8);
  if (QFontMetrics(font).horizontalAdvance(longest) <= room) return font;
  font.setStretch(QFont::SemiCondensed);
  for (double size = 8; size >= 6; size -= 0.5) {
    font.setPointSizeF(size);
    if (QFontMetrics(font).horizontalAdvance(longest) <= room) break;
  }
  return font;
}

}  // namespace

ChiSquaredTool::ChiSquaredTool(QWidget* parent) : QDialog(parent) {
  setObjectName("TForm5");
  setWindowTitle("Chi-squared probability");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  setFont(FitLabelFont(font(), "Degrees of freedom", 102));
  setFixedSize(162, 121);

  value_label = new QLabel("Chi-squared value", this);
  value_label->setObjectName("Label1");
  value_label->setGeometry(8, 8, 104, 21);
  degrees_label = new QLabel("Degrees of freedom", this);
  degrees_label->setObjectName("Label2");
  degrees_label->setGeometry(8, 32, 104, 21);

  value_edit = new QLineEdit(this);
  value_edit->setObjectName("Edit1");
  value_edit->setGeometry(112, 8, 45, 21);
  degrees_edit = new QLineEdit(this);
  degrees_edit->setObjectName("Edit2");
  degrees_edit->setGeometry(112, 32, 45, 21);

  ok_button = new QPushButton("OK", this);
  ok_button->setObjectName("Ok");
  ok_button->setGeometry(3, 64, 75, 25);
  ok_button->setDefault(true);
  connect(ok_button, &QPushButton::clicked, this, &ChiSquaredTool::Calculate);
  cancel_button = new QPushButton("Cancel", this);
  cancel_button->setObjectName("Cancel");
  cancel_button->setGeometry(83, 64, 75, 25);
  cancel_button->setAutoDefault(false);
  connect(cancel_button, &QPushButton::clicked, this, &ChiSquaredTool::Dismiss);

  answer_label = new QLabel(this);
  answer_label->setObjectName("Label3");
  answer_label->setGeometry(8, 97, 154, 17);

  setTabOrder(value_edit, degrees_edit);
  setTabOrder(degrees_edit, ok_button);
  setTabOrder(ok_button, cancel_button);
}

void ChiSquaredTool::Activated() {
  answer_label->clear();
  value_edit->setFocus();
}

void ChiSquaredTool::Calculate() {
  const ChiSquaredAnswer answer = EvaluateChiSquared(value_edit->text(), degrees_edit->text());
  answer_label->setText(answer.text);
  if (answer.focus == ChiSquaredAnswer::Focus::kValue) value_edit->setFocus();
  if (answer.focus == ChiSquaredAnswer::Focus::kDegreesOfFreedom) degrees_edit->setFocus();
}

void ChiSquaredTool::Dismiss() { hide(); }

void ChiSquaredTool::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Activated();
}

void ChiSquaredTool::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!placed_) {
    placed_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
}

}  // namespace tavwin
