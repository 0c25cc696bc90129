// screengrab: saves the whole screen of the display it runs on as an image file, after an
// optional delay in milliseconds. A helper for looking at the programs under a virtual X
// server: screengrab out.png [delay]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: screengrab file.png [delay-ms]\n");
    return 2;
  }
  if (argc > 2) QThread::msleep(QString(argv[2]).toULong());
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "screengrab: no screen\n");
    return 1;
  }
  const QPixmap image = screen->grabWindow(0);
  if (!image.save(argv[1])) {
    std::fprintf(stderr, "screengrab: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
