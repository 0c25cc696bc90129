#include "text_files.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace tavwin {

QString DecodeText(const QByteArray& bytes, bool* latin1) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  const bool valid = !utf8.hasError();
  if (latin1 != nullptr) *latin1 = !valid;
  return valid ? text : QString::fromLatin1(bytes);
}

bool ReadTextFile(const QString& path, QString* text, QString* error, bool* latin1) {
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
  QString decoded = DecodeText(bytes, latin1);
  decoded.replace("\r\n", "\n");
  *text = decoded;
  return true;
}

bool WriteTextFile(const QString& path, const QString& text, QString* error, bool latin1) {
  QSaveFile file(path);
  // A writable file in a directory that is not writable can still be written in place.
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  bool fits_latin1 = latin1;
  for (int i = 0; fits_latin1 && i < text.size(); ++i) fits_latin1 = text[i].unicode() < 256;
  const QByteArray bytes = fits_latin1 ? text.toLatin1() : text.toUtf8();
  if (file.write(bytes) < 0 || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace tavwin
