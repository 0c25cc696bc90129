// tavwin: the desktop front end. Edits an input file, runs the engine tav95 on it and shows
// the report and the log.

#include <QApplication>
#include <QDir>

#include "engine_launch.h"
#include "main_window.h"
#include "settings_file.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("tavwin");
  const tavwin::FrontEndPaths paths =
      tavwin::FrontEndPaths::ForDirectory(QDir(QApplication::applicationDirPath()).path());
  tavwin::MainWindow frame(paths, tavwin::DefaultSettingsPath());
  frame.show();
  return application.exec();
}
