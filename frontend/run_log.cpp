#include "run_log.h"

#include <QList>
#include <QLocale>
#include <algorithm>
#include <cmath>

#include "engine_launch.h"

namespace tavwin {

namespace {

bool IsInteger(QStringView word) {
  if (word.isEmpty()) return false;
  for (const QChar c : word) {
    if (!c.isDigit()) return false;
  }
  return true;
}

// A real as the engine writes it: a sign, digits and a decimal point, perhaps an exponent.
bool IsReal(QStringView word) {
  if (!word.contains('.')) return false;
  bool ok = false;
  return std::isfinite(word.toDouble(&ok)) && ok;
}

std::optional<IterationProgress> ParseIterationLine(QStringView line) {
  if (line.endsWith('\r')) line.chop(1);
  const QList<QStringView> words = line.split(' ', Qt::SkipEmptyParts);
  if (words.size() < 3 || words.size() > 4 || !IsInteger(words[0])) return std::nullopt;
  for (qsizetype i = 1; i < words.size(); ++i) {
    if (!IsReal(words[i])) return std::nullopt;
  }
  bool ok = false;
  IterationProgress progress;
  progress.iteration = words[0].toLongLong(&ok);
  if (!ok) return std::nullopt;
  progress.log_likelihood = words[1].toDouble();
  return progress;
}

}  // namespace

std::optional<IterationProgress> LastIterationInLog(QStringView text) {
  // Only whole lines: the last one may still be being written.
  qsizetype end = text.lastIndexOf('\n');
  while (end > 0) {
    const qsizetype start = text.lastIndexOf('\n', end - 1) + 1;
    if (auto progress = ParseIterationLine(text.mid(start, end - start))) return progress;
    end = start - 1;
  }
  return std::nullopt;
}

RunStatus StatusFromExit(bool crashed, int exit_code) {
  if (crashed) return RunStatus::kFailed;
  if (exit_code == 0) return RunStatus::kFinished;
  if (exit_code == 2) return RunStatus::kCancelled;
  return RunStatus::kFailed;
}

QString FormatElapsed(qint64 milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds < 59950) return QString::number(milliseconds / 1000.0, 'f', 1) + " s";
  const qint64 seconds = (milliseconds + 500) / 1000;
  if (seconds < 3600) return QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
  return QString("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString FormatClock(qint64 milliseconds) {
  const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
  if (seconds < 3600)
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
  return QString("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(seconds % 60, 2, 10, QChar('0'));
}

QString RunProgressMessage(qint64 iteration, double log_likelihood, qint64 milliseconds) {
  if (iteration < 0) return "Running: " + FormatClock(milliseconds);
  return "Iteration " + QLocale(QLocale::English).toString(iteration) + "   log-likelihood " +
         QString::number(log_likelihood, 'f', 6) + "   " + FormatClock(milliseconds);
}

QString RunEndMessage(RunStatus status, bool crashed, int exit_code, qint64 milliseconds,
                      const QString& log_text, const QString& input_path,
                      const QString& display_name) {
  switch (status) {
    case RunStatus::kFinished:
      return "Finished in " + FormatElapsed(milliseconds);
    case RunStatus::kCancelled:
      return "Cancelled";
    case RunStatus::kFailed:
      break;
  }
  const int line = ErrorLineInLog(log_text, input_path);
  if (line > 0) {
    return QString("Stopped: error at line %1 of %2")
        .arg(line)
        .arg(display_name.isEmpty() ? QString("the input") : display_name);
  }
  QString error;
  for (QStringView text : QStringView(log_text).split('\n')) {
    text = text.trimmed();
    if (text.startsWith(QLatin1String("Error"))) error = text.toString();
  }
  static const QString kError = "Error: ";
  if (error.startsWith(kError)) return "Stopped: " + error.mid(kError.size());
  if (!error.isEmpty()) return "Stopped: e" + error.mid(1);
  if (crashed) return "Stopped: the engine crashed";
  return QString("Stopped: the engine ended with status %1").arg(exit_code);
}

}  // namespace tavwin
