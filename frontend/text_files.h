#ifndef TAV_FRONTEND_TEXT_FILES_H_
#define TAV_FRONTEND_TEXT_FILES_H_

#include <QByteArray>
#include <QString>

namespace tavwin {

// The text of a file's bytes: UTF-8 when they are valid UTF-8, otherwise Latin-1, so that
// every byte of an input file or report shows as some character.
QString DecodeText(const QByteArray& bytes);

// Reads a whole text file; line ends become "\n". On failure error says why.
bool ReadTextFile(const QString& path, QString* text, QString* error);

// Writes text to path as UTF-8 with the platform's line ends. The file is replaced only when
// the whole text was written, so a failed save never destroys the old file.
bool WriteTextFile(const QString& path, const QString& text, QString* error);

}  // namespace tavwin

#endif  // TAV_FRONTEND_TEXT_FILES_H_
