#ifndef TAV_FRONTEND_TEXT_FILES_H_
#define TAV_FRONTEND_TEXT_FILES_H_

#include <QByteArray>
#include <QString>

namespace tavwin {

// The text of a file's bytes: UTF-8 when they are valid UTF-8, otherwise Latin-1, so that
// every byte of an input file or report shows as some character. latin1, when given, tells
// which of the two it was.
QString DecodeText(const QByteArray& bytes, bool* latin1 = nullptr);

// Reads a whole text file; line ends become "\n". On failure error says why. latin1, when
// given, tells whether the bytes were not UTF-8 and were read as Latin-1.
bool ReadTextFile(const QString& path, QString* text, QString* error, bool* latin1 = nullptr);

// Writes text to path with the platform's line ends, as UTF-8, or as Latin-1 when latin1 is
// set and every character has a Latin-1 byte (so a file read as Latin-1 keeps its bytes). The
// file is replaced only when the whole text was written, so a failed save never destroys the
// old file.
bool WriteTextFile(const QString& path, const QString& text, QString* error, bool latin1 = false);

}  // namespace tavwin

#endif  // TAV_FRONTEND_TEXT_FILES_H_
