#ifndef TAV_FRONTEND_ENGINE_LAUNCH_H_
#define TAV_FRONTEND_ENGINE_LAUNCH_H_

#include <QString>
#include <QStringList>

namespace tavwin {

// The engine program and the three files the front end shares with it, all in the front
// end's own directory.
struct FrontEndPaths {
  QString directory;  // with its trailing separator
  QString EnginePath;
  QString TempInputPath;
  QString TempOutputPath;
  QString TempLogPath;

  // The paths for a program directory (a trailing separator is added when missing).
  static FrontEndPaths ForDirectory(const QString& directory);
};

// The engine's file name: "tav95", or "tav95.exe" on Windows.
QString EngineFileName();

// How "&Run" starts the engine: the program and its arguments, each passed on its own so that
// blanks in a path never split it.
struct EngineCommand {
  QString program;
  QStringList arguments;

  // The command as one line, the parts separated by single blanks (for messages).
  QString Text() const;
};

// The engine's command line: the input, report, directory and log arguments, and "-log" when
// the engine is to show only its progress dialog (Show Log unchecked). An input that was
// never opened or saved has no directory; the front end's own directory stands in for it.
EngineCommand BuildEngineCommand(const FrontEndPaths& paths, const QString& input_directory,
                                 bool show_log);

// The directory part of a file name, with its trailing separator; empty for an empty name.
QString DirectoryWithSeparator(const QString& file_name);

// True when the log file exists and cannot be taken for exclusive use, that is while an
// engine holds it open. A missing log file means no engine is running.
bool LogFileInUse(const QString& path);

// True while the process with this id (from starting the engine) still exists.
bool ProcessAlive(qint64 pid);

}  // namespace tavwin

#endif  // TAV_FRONTEND_ENGINE_LAUNCH_H_
