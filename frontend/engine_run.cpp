#include "engine_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <algorithm>

namespace tavwin {

namespace {

// The log is read at most this often while it grows.
constexpr int kReadMilliseconds = 100;
// Of a part of the log written since the last look, only this much is read.
constexpr qint64 kLogTailBytes = 64 * 1024;

}  // namespace

EngineRun::EngineRun(QObject* parent) : QObject(parent) {
  clock_ = new QTimer(this);
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, &EngineRun::EmitProgress);
}

EngineRun::~EngineRun() {
  if (Running()) {
    // The engine is asked to stop as on Cancel; it leaves no result half written.
    process_->disconnect(this);
    process_->terminate();
    process_->waitForFinished(3000);
  }
}

bool EngineRun::Running() const { return process_ != nullptr; }

qint64 EngineRun::ElapsedMilliseconds() const {
  return elapsed_.isValid() ? elapsed_.elapsed() : 0;
}

bool EngineRun::Start(const EngineCommand& command, const QString& working_directory,
                      const QString& display_name, QString* error) {
  if (Running()) {
    *error = "A run is under way.";
    return false;
  }
  if (!QFileInfo(command.program).isFile()) {
    *error = "The engine program " + QDir::toNativeSeparators(command.program) + " was not found.";
    return false;
  }
  // A results document of an earlier run must not pass for this one's.
  if (!command.results_path.isEmpty()) QFile::remove(command.results_path);
  auto* process = new QProcess(this);
  process->setProgram(command.program);
  process->setArguments(command.arguments);
  process->setWorkingDirectory(working_directory);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (!command.results_path.isEmpty()) {
    environment.insert("TAV_RESULTS_JSON", command.results_path);
  }
  process->setProcessEnvironment(environment);
  // What the engine writes to its standard channels (its log, when it has no display) goes
  // where the front end's own goes, never into a pipe that nobody empties.
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->start();
  if (!process->waitForStarted()) {
    *error = "Cannot start the engine: " + command.Text() + " (" + process->errorString() + ")";
    delete process;
    return false;
  }
  process->closeWriteChannel();
  process_ = process;
  connect(process_, &QProcess::finished, this, [this](int exit_code, QProcess::ExitStatus status) {
    ProcessFinished(exit_code, status == QProcess::CrashExit);
  });

  log_path_ = command.arguments.size() > 3 ? command.arguments[3] : QString();
  input_path_ = command.arguments.isEmpty() ? QString() : command.arguments[0];
  display_name_ = display_name;
  log_offset_ = 0;
  read_pending_ = false;
  cancel_requested_ = false;
  last_progress_.reset();
  elapsed_.start();
  WatchLog();
  clock_->start();
  emit started();
  EmitProgress();
  return true;
}

void EngineRun::WatchLog() {
  delete watcher_;
  watcher_ = nullptr;
  if (log_path_.isEmpty()) return;
  watcher_ = new QFileSystemWatcher(this);
  // The engine makes its log once it has read the input: until then its directory is
  // watched.
  watcher_->addPath(QFileInfo(log_path_).absolutePath());
  if (QFileInfo::exists(log_path_)) watcher_->addPath(log_path_);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (watcher_->files().isEmpty() && QFileInfo::exists(log_path_)) {
      watcher_->addPath(log_path_);
      LogChanged();
    }
  });
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, &EngineRun::LogChanged);
}

void EngineRun::LogChanged() {
  if (read_pending_) return;
  read_pending_ = true;
  QTimer::singleShot(kReadMilliseconds, this, [this] {
    read_pending_ = false;
    if (Running()) ReadLog();
  });
}

void EngineRun::ReadLog() {
  QFile file(log_path_);
  if (!file.open(QIODevice::ReadOnly)) return;
  const qint64 size = file.size();
  // The engine empties its log once when it starts writing it.
  if (size < log_offset_) log_offset_ = 0;
  qint64 from = log_offset_;
  const bool skipped = size - from > kLogTailBytes;
  if (skipped) from = size - kLogTailBytes;
  if (!file.seek(from)) return;
  QByteArray bytes = file.read(size - from);
  // Only whole lines: a line still being written is read again next time.
  const qsizetype last_end = bytes.lastIndexOf('\n');
  if (last_end < 0) return;
  log_offset_ = from + last_end + 1;
  bytes.truncate(last_end + 1);
  // A piece that begins inside a line starts at the next line.
  if (skipped) bytes.remove(0, bytes.indexOf('\n') + 1);
  if (auto progress = LastIterationInLog(QString::fromLatin1(bytes))) {
    last_progress_ = progress;
    EmitProgress();
  }
}

void EngineRun::EmitProgress() {
  if (!Running()) return;
  emit progress(last_progress_ ? last_progress_->iteration : -1,
                last_progress_ ? last_progress_->log_likelihood : 0, ElapsedMilliseconds());
}

void EngineRun::Cancel() {
  if (!Running() || cancel_requested_) return;
  cancel_requested_ = true;
  process_->terminate();
}

void EngineRun::ProcessFinished(int exit_code, bool crashed) {
  const qint64 elapsed = ElapsedMilliseconds();
  clock_->stop();
  delete watcher_;
  watcher_ = nullptr;
  process_->deleteLater();
  process_ = nullptr;
  RunStatus status = StatusFromExit(crashed, exit_code);
  // An engine that died of the stop signal itself was cancelled all the same.
  if (crashed && cancel_requested_) status = RunStatus::kCancelled;
  // How a run ended is at the end of its log, which may be long.
  QString log_tail;
  QFile log(log_path_);
  if (!log_path_.isEmpty() && log.open(QIODevice::ReadOnly)) {
    const qint64 from = std::max<qint64>(log.size() - kLogTailBytes, 0);
    if (log.seek(from)) {
      QByteArray bytes = log.readAll();
      // A piece that begins inside a line starts at the next line.
      if (from > 0) bytes.remove(0, bytes.indexOf('\n') + 1);
      log_tail = QString::fromUtf8(bytes);
    }
  }
  const QString message =
      RunEndMessage(status, crashed, exit_code, elapsed, log_tail, input_path_, display_name_);
  emit finished(status, elapsed, message, log_tail);
}

}  // namespace tavwin
