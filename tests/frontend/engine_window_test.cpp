// The engine's window on the offscreen platform: the progress dialog, the log window, the
// closing question, the error box and the finished window.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "tav95/qt_presentation.h"

namespace {

template <typename T>
T* Find(QWidget* window, const char* name) {
  return window->findChild<T*>(name);
}

// Answers the next message box with the button whose text is given, and remembers its text.
void AnswerNextBox(const QString& button, QString* text) {
  QTimer::singleShot(50, [button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      AnswerNextBox(button, text);
      return;
    }
    *text = box->text();
    for (QAbstractButton* candidate : box->buttons()) {
      if (candidate->text().remove('&') == button) {
        candidate->click();
        return;
      }
    }
  });
}

}  // namespace

class EngineWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ProgressDialogInLogFileMode();
  void CancelEndsTheRunAtTheNextLine();
  void LogWindowShowsEveryLine();
  void CloseBoxActsAsCancel();
  void ClosingQuestion();
  void ErrorBox();
  void FinishedWindowStaysUntilClosed();
  void NoDisplayMeansNoWindow();
};

void EngineWindowTest::ProgressDialogInLogFileMode() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(true);
  QWidget* window = presentation.window();
  QVERIFY(window->isVisible());
  QCOMPARE(window->windowTitle(), QString("Running TAV..."));
  QCOMPARE(window->size(), QSize(212, 98));
  auto* bar = Find<QProgressBar>(window, "ProgressBar1");
  auto* cancel = Find<QPushButton>(window, "Button1");
  auto* info = Find<QPushButton>(window, "Button2");
  auto* label1 = Find<QLabel>(window, "Label1");
  auto* label2 = Find<QLabel>(window, "Label2");
  QVERIFY(bar && cancel && info && label1 && label2);
  QCOMPARE(bar->geometry(), QRect(8, 8, 193, 17));
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 100);
  QCOMPARE(cancel->text(), QString("Cancel"));
  QCOMPARE(cancel->geometry(), QRect(24, 32, 75, 25));
  QCOMPARE(info->text(), QString("Info"));
  QCOMPARE(info->geometry(), QRect(104, 32, 75, 25));
  QVERIFY(!Find<QPlainTextEdit>(window, "RichEdit1")->isVisible());
  QCOMPARE(label1->text(), QString());
  QVERIFY(!(window->windowFlags() & Qt::WindowCloseButtonHint));

  presentation.ProgressStep(35);
  QCOMPARE(bar->value(), 35);

  // "Info" shows what the run reported at the last line.
  QVERIFY(!presentation.PumpEvents(tav::RunProgress{17, 0.0001234}));
  info->click();
  QCOMPARE(label1->text(), QString("Iteration = 17"));
  QCOMPARE(label2->text(), QString("Stop-criterion = 0.00012340"));
  QVERIFY(!presentation.PumpEvents(tav::RunProgress{18, 2.5}));
  info->click();
  QCOMPARE(label1->text(), QString("Iteration = 18"));
  QCOMPARE(label2->text(), QString("Stop-criterion = 2.50000000"));
}

void EngineWindowTest::CancelEndsTheRunAtTheNextLine() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(true);
  QVERIFY(!presentation.PumpEvents({}));
  // A click waits in the event queue until the run serves the window.
  QTest::mouseClick(Find<QPushButton>(presentation.window(), "Button1"), Qt::LeftButton);
  QVERIFY(presentation.PumpEvents({}));
}

void EngineWindowTest::LogWindowShowsEveryLine() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(false);
  QWidget* window = presentation.window();
  QCOMPARE(window->size(), QSize(525, 200));
  QVERIFY(!Find<QProgressBar>(window, "ProgressBar1")->isVisible());
  QVERIFY(!Find<QPushButton>(window, "Button1")->isVisible());
  QVERIFY(!Find<QPushButton>(window, "Button2")->isVisible());
  auto* log = Find<QPlainTextEdit>(window, "RichEdit1");
  QVERIFY(log->isVisible());
  QVERIFY(log->isReadOnly());
  QCOMPARE(log->geometry(), window->rect());
  for (int i = 0; i < 100; ++i) {
    QVERIFY(!presentation.PumpEvents({}));
    presentation.LogLine(i == 0 ? std::string() : "line " + std::to_string(i));
  }
  QCOMPARE(log->document()->blockCount(), 100);
  QCOMPARE(log->document()->findBlockByNumber(0).text(), QString());
  QCOMPARE(log->document()->findBlockByNumber(99).text(), QString("line 99"));
  // The latest line is in view.
  QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

void EngineWindowTest::CloseBoxActsAsCancel() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(false);
  QVERIFY(!presentation.PumpEvents({}));
  QVERIFY(!presentation.window()->close());  // the run ends it, not the toolkit
  QVERIFY(presentation.PumpEvents({}));
}

void EngineWindowTest::ClosingQuestion() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(false);
  QString text;
  AnswerNextBox("Yes", &text);
  QVERIFY(presentation.AskClose());
  QCOMPARE(text, QString("Close this log window?"));
  AnswerNextBox("No", &text);
  QVERIFY(!presentation.AskClose());
}

void EngineWindowTest::ErrorBox() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(true);
  QString text;
  AnswerNextBox("OK", &text);
  presentation.ErrorBox("Cannot open file data.dat");
  QCOMPARE(text, QString("Cannot open file data.dat"));
}

void EngineWindowTest::FinishedWindowStaysUntilClosed() {
  tav::QtPresentation presentation("tav95");
  presentation.Begin(false);
  presentation.LogLine("cpu-time = 0.01 seconds");
  QWidget* window = presentation.window();
  QString title;
  QTimer::singleShot(100, [window, &title] {
    title = window->windowTitle();
    window->close();
  });
  presentation.StayOpen();
  QCOMPARE(title, QString("TAV Finished"));
  QVERIFY(!window->isVisible());
}

void EngineWindowTest::NoDisplayMeansNoWindow() {
  // This test runs on the offscreen platform: nobody could answer a window there.
  QVERIFY(!tav::WindowDisplayAvailable());
  int argc = 1;
  char name[] = "tav95";
  char* argv[] = {name, nullptr};
  QVERIFY(MakeWindowPresentation(argc, argv) == nullptr);
  QCOMPARE(argc, 1);
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  EngineWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "engine_window_test.moc"
