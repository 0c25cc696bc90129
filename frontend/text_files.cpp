#include "text_files.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace tavwin {

QString DecodeText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes);
}

bool ReadTextFile(const QString& path, QString* text, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  QString decoded = DecodeText(bytes);
  decoded.replace("\r\n", "\n");
  *text = decoded;
  return true;
}

bool WriteTextFile(const QString& path, const QString& text, QString* error) {
  QSaveFile file(path);
  // A writable file in a directory that is not writable can still be written in place.
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  if (file.write(text.toUtf8()) < 0 || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace tavwin
