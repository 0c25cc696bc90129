#include "examples_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "text_files.h"

namespace tavwin {
namespace {

constexpr int kCaptionEnd = 38;     // last column of the caption
constexpr int kFileNameStart = 40;  // first column of an example's file name
constexpr int kFileNameLength = 8;

}  // namespace

std::vector<ExampleEntry> ParseExamplesList(const QStringList& lines) {
  std::vector<ExampleEntry> menu;
  for (QString line : lines) {
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty()) break;
    int blanks = 0;
    while (blanks < line.size() && line[blanks] == ' ') ++blanks;

    ExampleEntry entry;
    entry.caption = line.left(kCaptionEnd).mid(blanks);
    while (entry.caption.endsWith(' ')) entry.caption.chop(1);
    entry.caption.replace('_', ' ');
    const int level = blanks == 0 ? 0 : (blanks == 1 ? 1 : 2);
    if (level == 2) {
      entry.is_example = true;
      entry.file_name = line.mid(kFileNameStart - 1, kFileNameLength).trimmed();
    }

    entry.level = level;
    // The entry hangs from the last entry of each higher level, as deep as the list goes.
    std::vector<ExampleEntry>* parent = &menu;
    while (!parent->empty() && parent->back().level < level) parent = &parent->back().children;
    parent->push_back(std::move(entry));
  }
  return menu;
}

std::vector<ExampleEntry> ReadExamplesList(const QString& path) {
  QString text;
  QString error;
  if (!ReadTextFile(path, &text, &error)) return {};
  return ParseExamplesList(text.split('\n'));
}

QString FindExamplesDirectory(const QString& program_directory) {
  const QDir program(program_directory);
  if (QFileInfo::exists(program.filePath("examples/examples.lis"))) {
    return QDir::toNativeSeparators(program.filePath("examples") + '/');
  }
  if (QFileInfo::exists(program.filePath("examples.lis"))) {
    return QDir::toNativeSeparators(program.absolutePath() + '/');
  }
  return QString();
}

QString ExampleFilePath(const QString& examples_directory, const QString& file_name) {
  const QDir directory(examples_directory);
  const QString wanted = file_name + ".inp";
  const QString exact = directory.filePath(wanted);
  if (QFileInfo::exists(exact)) return exact;
  const QStringList entries = directory.entryList(QDir::Files);
  for (const QString& entry : entries) {
    if (entry.compare(wanted, Qt::CaseInsensitive) == 0) return directory.filePath(entry);
  }
  return exact;
}

}  // namespace tavwin
