#include "engine_launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
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

FrontEndPaths FrontEndPaths::ForDirectory(const QString& directory) {
  FrontEndPaths paths;
  paths.directory = QDir::toNativeSeparators(directory);
  if (!paths.directory.isEmpty() && !paths.directory.endsWith(QDir::separator())) {
    paths.directory += QDir::separator();
  }
  paths.EnginePath = paths.directory + EngineFileName();
  paths.TempInputPath = paths.directory + "inp.tmp";
  paths.TempOutputPath = paths.directory + "out.tmp";
  paths.TempLogPath = paths.directory + "log.tmp";
  return paths;
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
                    << (input_directory.isEmpty() ? paths.directory : input_directory)
                    << paths.TempLogPath;
  if (!show_log) command.arguments << "-log";
  return command;
}

QString DirectoryWithSeparator(const QString& file_name) {
  if (file_name.isEmpty()) return QString();
  const QString directory = QFileInfo(file_name).absolutePath();
  QString result = QDir::toNativeSeparators(directory);
  if (!result.endsWith(QDir::separator())) result += QDir::separator();
  return result;
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

bool ProcessAlive(qint64 pid) {
  if (pid <= 0) return false;
#if defined(Q_OS_WIN)
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  DWORD code = 0;
  const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return alive;
#else
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // A process that has ended but was not yet reaped by its parent is no longer running.
  QFile status(QString("/proc/%1/stat").arg(pid));
  if (status.open(QIODevice::ReadOnly)) {
    const QByteArray text = status.readAll();
    const int end_of_name = text.lastIndexOf(')');
    if (end_of_name >= 0 && end_of_name + 2 < text.size()) {
      const char state = text[end_of_name + 2];
      if (state == 'Z' || state == 'X') return false;
    }
  }
  return true;
#endif
}

}  // namespace tavwin
