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

  Label1 = new QLabel("Chi-squared value", this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(8, 8, 104, 21);
  Label2 = new QLabel("Degrees of freedom", this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(8, 32, 104, 21);

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(112, 8, 45, 21);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Edit2->setGeometry(112, 32, 45, 21);

  Ok = new QPushButton("OK", this);
  Ok->setObjectName("Ok");
  Ok->setGeometry(3, 64, 75, 25);
  Ok->setDefault(true);
  connect(Ok, &QPushButton::clicked, this, &ChiSquaredTool::OkClick);
  Cancel = new QPushButton("Cancel", this);
  Cancel->setObjectName("Cancel");
  Cancel->setGeometry(83, 64, 75, 25);
  Cancel->setAutoDefault(false);
  connect(Cancel, &QPushButton::clicked, this, &ChiSquaredTool::CancelClick);

  Label3 = new QLabel(this);
  Label3->setObjectName("Label3");
  Label3->setGeometry(8, 97, 154, 17);

  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Ok);
  setTabOrder(Ok, Cancel);
}

void ChiSquaredTool::FormActivate() {
  Label3->clear();
  Edit1->setFocus();
}

void ChiSquaredTool::OkClick() {
  const ChiSquaredAnswer answer = EvaluateChiSquared(Edit1->text(), Edit2->text());
  Label3->setText(answer.text);
  if (answer.focus == ChiSquaredAnswer::Focus::kValue) Edit1->setFocus();
  if (answer.focus == ChiSquaredAnswer::Focus::kDegreesOfFreedom) Edit2->setFocus();
}

void ChiSquaredTool::CancelClick() { hide(); }

void ChiSquaredTool::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
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
