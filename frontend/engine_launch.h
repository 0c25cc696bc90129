#ifndef TAV_FRONTEND_ENGINE_LAUNCH_H_
#define TAV_FRONTEND_ENGINE_LAUNCH_H_

#include <QString>
#include <QStringList>

namespace tavwin {

// Where the front end finds the engine and keeps the files it shares with it. The engine lies
// in the front end's own directory. The three temporary files lie in a private directory of
// this instance of the front end (made for it at start and removed when it ends), so that
// neither a read-only program directory nor a second instance or user gets in the way. An
// input that was never saved (an example included) runs in the working folder, which is also
// where an example's data files are copied: results never go to the program's directory.
struct FrontEndPaths {
  QString directory;         // the program's directory, with its trailing separator
  QString TempDirectory;     // the instance's private directory, with its trailing separator
  QString WorkingDirectory;  // the user's working folder, with its trailing separator
  QString EnginePath;
  QString TempInputPath;
  QString TempOutputPath;
  QString TempLogPath;
  QString TempResultsPath;  // the JSON results document of the last run (TAV_RESULTS_JSON)

  // The paths for the three directories (a trailing separator is added when missing).
  static FrontEndPaths Make(const QString& program_directory, const QString& temp_directory,
                            const QString& working_directory);
};

// The user's working folder for inputs that were never saved: "TAV" in the documents
// directory (in the home directory when there is none).
QString DefaultWorkingDirectory();

// A directory name with a trailing separator, in the platform's notation.
QString WithSeparator(const QString& directory);

// The engine's file name: "tav95", or "tav95.exe" on Windows.
QString EngineFileName();

// How "&Run" starts the engine: the program and its arguments, each passed on its own so that
// blanks in a path never split it.
struct EngineCommand {
  QString program;
  QStringList arguments;
  // Where the engine also writes its JSON results document (environment TAV_RESULTS_JSON), so
  // that the front end gets the run's numbers without changing the user's input.
  QString results_path;

  // The command as one line, the parts separated by single blanks (for messages).
  QString Text() const;
};

// The engine's command line: the input, report, directory and log arguments, and "-log" when
// the engine is to show only its progress dialog (Show Log unchecked). An input that was
// never opened or saved has no directory; the working folder stands in for it.
EngineCommand BuildEngineCommand(const FrontEndPaths& paths, const QString& input_directory,
                                 bool show_log);

// The directory part of a file name, with its trailing separator; empty for an empty name.
QString DirectoryWithSeparator(const QString& file_name);

// True when the log file exists and cannot be taken for exclusive use, that is while an
// engine holds it open. A missing log file means no engine is running.
bool LogFileInUse(const QString& path);

// The input line at which a run stopped on an error in its input, from the run's log: the
// engine writes "  at line N of NAME" right after the error message, NAME being the input
// file as it was given to the engine. Only a line that names input_path counts (an error in a
// data file names that file instead); the last such line wins. 0 when there is none.
int ErrorLineInLog(const QString& log_text, const QString& input_path);

}  // namespace tavwin

#endif  // TAV_FRONTEND_ENGINE_LAUNCH_H_
