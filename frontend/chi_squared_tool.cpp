#include "chi_squared_tool.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "chi_squared.h"

namespace tavwin {
namespace {

// The specified layout, in its own units: client area 162 x 121.
constexpr int kWidth = 162;
constexpr int kHeight = 121;
constexpr QRect kValueLabel(8, 8, 104, 21);
constexpr QRect kDegreesLabel(8, 32, 104, 21);
constexpr QRect kValueEdit(112, 8, 45, 21);
constexpr QRect kDegreesEdit(112, 32, 45, 21);
constexpr QRect kOk(3, 64, 75, 25);
constexpr QRect kCancel(83, 64, 75, 25);
constexpr QRect kAnswer(8, 97, 146, 21);

QRect Scaled(const QRect& rect, double scale) {
  const int left = qRound(rect.left() * scale);
  const int top = qRound(rect.top() * scale);
  const int right = qRound((rect.left() + rect.width()) * scale);
  const int bottom = qRound((rect.top() + rect.height()) * scale);
  return QRect(left, top, right - left, bottom - top);
}

// The widest of the texts.
int WidestText(const QFontMetrics& metrics, const QStringList& texts) {
  int widest = 0;
  for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
  return widest;
}

}  // namespace

double ChiSquaredTool::LayoutScale(const QFont& font, const QFont& title_font) {
  const QFontMetrics metrics(font);
  const QFontMetrics title(title_font);
  // Room left and right of a text in a field or button.
  const int padding = metrics.averageCharWidth();
  double scale = 1.0;
  auto need = [&scale](double needed, double room) { scale = std::max(scale, needed / room); };
  need(WidestText(metrics, {kValueText, kDegreesText}) + padding, kValueLabel.width());
  need(WidestText(metrics, {kImpossibleValue, kImpossibleDegrees, "The P value is 0.0000"}),
       kAnswer.width());
  // A value such as 1234.56789 shows in full, inside the field's frame and margins.
  need(metrics.horizontalAdvance("0000.00000") + 12, kValueEdit.width());
  need(metrics.height() + 6, kValueEdit.height());
  need(WidestText(metrics, {"OK", "Cancel"}) + 4 * padding, kOk.width());
  need(metrics.height() + 8, kOk.height());
  // The title bar holds the title beside the window's icon and its close button, each about
  // as wide as the title bar is high, with a margin.
  need(title.horizontalAdvance(kTitle) + 3 * title.height(), kWidth);
  return scale;
}

ChiSquaredTool::ChiSquaredTool(QWidget* parent) : QDialog(parent) {
  setObjectName("TForm5");
  setWindowTitle(kTitle);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);

  value_label_ = new QLabel(kValueText, this);
  value_label_->setObjectName("Label1");
  degrees_label_ = new QLabel(kDegreesText, this);
  degrees_label_->setObjectName("Label2");
  value_edit_ = new QLineEdit(this);
  value_edit_->setObjectName("Edit1");
  degrees_edit_ = new QLineEdit(this);
  degrees_edit_->setObjectName("Edit2");

  ok_button_ = new QPushButton("OK", this);
  ok_button_->setObjectName("Ok");
  ok_button_->setDefault(true);
  connect(ok_button_, &QPushButton::clicked, this, &ChiSquaredTool::Calculate);
  cancel_button_ = new QPushButton("Cancel", this);
  cancel_button_->setObjectName("Cancel");
  cancel_button_->setAutoDefault(false);
  connect(cancel_button_, &QPushButton::clicked, this, &ChiSquaredTool::Dismiss);

  answer_label_ = new QLabel(this);
  answer_label_->setObjectName("Label3");

  setTabOrder(value_edit_, degrees_edit_);
  setTabOrder(degrees_edit_, ok_button_);
  setTabOrder(ok_button_, cancel_button_);
  LayOut();
}

void ChiSquaredTool::LayOut() {
  QFont title_font = QApplication::font("QMdiSubWindowTitleBar");
  title_font.setBold(true);
  scale_ = LayoutScale(font(), title_font);
  value_label_->setGeometry(Scaled(kValueLabel, scale_));
  degrees_label_->setGeometry(Scaled(kDegreesLabel, scale_));
  value_edit_->setGeometry(Scaled(kValueEdit, scale_));
  degrees_edit_->setGeometry(Scaled(kDegreesEdit, scale_));
  ok_button_->setGeometry(Scaled(kOk, scale_));
  cancel_button_->setGeometry(Scaled(kCancel, scale_));
  answer_label_->setGeometry(Scaled(kAnswer, scale_));
  setFixedSize(qRound(kWidth * scale_), qRound(kHeight * scale_));
}

void ChiSquaredTool::Activated() {
  answer_label_->clear();
  value_edit_->setFocus();
}

void ChiSquaredTool::Calculate() {
  const ChiSquaredAnswer answer = EvaluateChiSquared(value_edit_->text(), degrees_edit_->text());
  answer_label_->setText(answer.text);
  if (answer.focus == ChiSquaredAnswer::Focus::kValue) value_edit_->setFocus();
  if (answer.focus == ChiSquaredAnswer::Focus::kDegreesOfFreedom) degrees_edit_->setFocus();
}

void ChiSquaredTool::Dismiss() { hide(); }

void ChiSquaredTool::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange) LayOut();
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
