#include "engine_launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tavwin {

QString EngineFileName() {
#if defined(Q_OS_WIN)
  return "tav95.exe";
#else
  return "tav95";
#endif
}

QString WithSeparator(const QString& directory) {
  QString result = QDir::toNativeSeparators(directory);
  if (!result.isEmpty() && !result.endsWith(QDir::separator())) result += QDir::separator();
  return result;
}

FrontEndPaths FrontEndPaths::Make(const QString& program_directory, const QString& temp_directory,
                                  const QString& working_directory) {
  FrontEndPaths paths;
  paths.directory = WithSeparator(program_directory);
  paths.TempDirectory = WithSeparator(temp_directory);
  paths.WorkingDirectory = WithSeparator(working_directory);
  paths.EnginePath = paths.directory + EngineFileName();
  paths.TempInputPath = paths.TempDirectory + "inp.tmp";
  paths.TempOutputPath = paths.TempDirectory + "out.tmp";
  paths.TempLogPath = paths.TempDirectory + "log.tmp";
  paths.TempResultsPath = paths.TempDirectory + "results.json";
  return paths;
}

QString DefaultWorkingDirectory() {
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (documents.isEmpty()) documents = QDir::homePath();
  return WithSeparator(QDir(documents).filePath("TAV"));
}

QString EngineCommand::Text() const {
  QStringList parts;
  parts << program << arguments;
  return parts.join(' ');
}

EngineCommand BuildEngineCommand(const FrontEndPaths& paths, const QString& input_directory,
                                 bool show_log) {
  EngineCommand command;
  command.program = paths.EnginePath;
  command.arguments << paths.TempInputPath << paths.TempOutputPath
                    << (input_directory.isEmpty() ? paths.WorkingDirectory : input_directory)
                    << paths.TempLogPath;
  if (!show_log) command.arguments << "-log";
  command.results_path = paths.TempResultsPath;
  return command;
}

QString DirectoryWithSeparator(const QString& file_name) {
  if (file_name.isEmpty()) return QString();
  return WithSeparator(QFileInfo(file_name).absolutePath());
}

bool LogFileInUse(const QString& path) {
  if (!QFileInfo::exists(path)) return false;
#if defined(Q_OS_WIN)
  const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  CloseHandle(handle);
  return false;
#else
  const QByteArray name = QFile::encodeName(path);
  const int descriptor = open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno != ENOENT;
  bool in_use = false;
  while (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    in_use = errno == EWOULDBLOCK;
    break;
  }
  close(descriptor);  // also releases the lock
  return in_use;
#endif
}

int ErrorLineInLog(const QString& log_text, const QString& input_path) {
  static const QString kPrefix = "at line ";
  static const QString kOf = " of ";
  int found = 0;
  for (QStringView line : QStringView(log_text).split('\n')) {
    if (line.endsWith('\r')) line.chop(1);
    line = line.trimmed();
    if (!line.startsWith(kPrefix)) continue;
    line = line.mid(kPrefix.size());
    const qsizetype of = line.indexOf(kOf);
    if (of <= 0 || line.mid(of + kOf.size()) != input_path) continue;
    bool ok = false;
    const int number = line.left(of).toInt(&ok);
    if (ok && number > 0 && line.left(of).front().isDigit()) found = number;
  }
  return found;
}

}  // namespace tavwin
