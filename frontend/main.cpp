// tavwin: the desktop front end. Edits an input file, runs the engine tav95 on it and shows
// the report and the log.
//
//   tavwin [--help] [--version] [file]
//
// A file named on the command line is opened in the input editor.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <cstdio>

#if !defined(Q_OS_WIN)
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#endif

#include "engine_launch.h"
#include "help_files.h"
#include "main_window.h"
#include "settings_file.h"

namespace {

void SetUpParser(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      "TAV, a statistical package for categorical data: edits input files, runs the engine "
      "tav95 on them and shows its report and log.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("file", "An input file to open.", "[file]");
}

void SetNames() {
  QCoreApplication::setApplicationName("tavwin");
  QCoreApplication::setApplicationVersion(tavwin::VersionText());
}

// "--help" and "--version" are answered before any window exists, so that they work without a
// display. 0 or 1: the program ends with that status; -1: it goes on.
int AnswerInformationOptions(int argc, char** argv) {
  QCoreApplication probe(argc, argv);
  SetNames();
  QCommandLineParser parser;
  SetUpParser(parser);
  // The toolkit's own options (-platform and the like) are unknown here; the window system
  // takes them later.
  parser.parse(probe.arguments());
  if (parser.isSet("help-all")) parser.process(probe);  // prints the toolkit's options too, ends
  if (parser.isSet("help")) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (parser.isSet("version")) {
    std::printf("tavwin %s\n", qPrintable(tavwin::VersionText()));
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  return -1;
}

#if !defined(Q_OS_WIN)
// A signal that ends the program (SIGTERM, SIGINT, SIGHUP) leaves the event loop in order, so
// that the temporary directory is removed. The handler only writes the signal's number to a
// socket that the event loop watches.
int signal_sockets[2] = {-1, -1};

void OnEndSignal(int number) {
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t written = ::write(signal_sockets[0], &byte, 1);
}

void EndOnSignals(QObject* owner) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_sockets) != 0) return;
  auto* notifier = new QSocketNotifier(signal_sockets[1], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [notifier] {
    notifier->setEnabled(false);
    char byte = 0;
    const int number = ::read(signal_sockets[1], &byte, 1) == 1 ? byte : SIGTERM;
    QCoreApplication::exit(128 + number);
  });
  struct sigaction action = {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (const int status = AnswerInformationOptions(argc, argv); status >= 0) return status;

  QApplication application(argc, argv);
  SetNames();
  QGuiApplication::setDesktopFileName("tavwin");
  QApplication::setWindowIcon(tavwin::MainWindow::MakeIcon());
  QCommandLineParser parser;
  SetUpParser(parser);
  parser.process(application);  // an unknown option or a second file ends here, with a message
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fprintf(stderr, "tavwin: one input file at most (see tavwin --help)\n");
    return 1;
  }

  // The files shared with the engine: private to this instance, removed when it ends.
  QTemporaryDir temporary(QDir(QDir::tempPath()).filePath("tavwin-XXXXXX"));
  if (!temporary.isValid()) {
    QMessageBox::critical(nullptr, "TAV for Windows",
                          "Cannot make a temporary directory in " +
                              QDir::toNativeSeparators(QDir::tempPath()) + ": " +
                              temporary.errorString());
    return 1;
  }
  const tavwin::FrontEndPaths paths = tavwin::FrontEndPaths::Make(
      QApplication::applicationDirPath(), temporary.path(), tavwin::DefaultWorkingDirectory());
#if !defined(Q_OS_WIN)
  EndOnSignals(&application);
#endif
  tavwin::MainWindow frame(paths, tavwin::DefaultSettingsPath());
  frame.show();
  if (!files.isEmpty()) frame.OpenFile(QFileInfo(files.front()).absoluteFilePath());
  return application.exec();
}
