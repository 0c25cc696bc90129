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
  const QString installed = program.filePath("../share/tav/examples");
  if (QFileInfo::exists(installed + "/examples.lis")) {
    return QDir::toNativeSeparators(QDir::cleanPath(installed) + '/');
  }
  return QString();
}

bool CopyExampleDataFiles(const QString& examples_directory, const QString& working_directory,
                          QString* error) {
  const QDir examples(examples_directory);
  const QStringList names = examples.entryList(QDir::Files | QDir::Readable, QDir::Name);
  QStringList data;
  for (const QString& name : names) {
    if (name.endsWith(".inp", Qt::CaseInsensitive) ||
        name.compare("examples.lis", Qt::CaseInsensitive) == 0) {
      continue;
    }
    data << name;
  }
  if (!QDir().mkpath(working_directory)) {
    if (error != nullptr) {
      *error = "Cannot make the folder " + QDir::toNativeSeparators(working_directory) + ".";
    }
    return false;
  }
  const QDir working(working_directory);
  for (const QString& name : data) {
    const QFileInfo source(examples.filePath(name));
    const QFileInfo target(working.filePath(name));
    if (target.exists() && target.lastModified() >= source.lastModified()) continue;
    // Through a new file beside the old one, which is replaced only by a complete copy.
    const QString partial = target.filePath() + ".part";
    QFile::remove(partial);
    QFile copy(source.filePath());
    if (!copy.copy(partial)) {
      if (error != nullptr) {
        *error = "Cannot copy " + QDir::toNativeSeparators(source.filePath()) + " to " +
                 QDir::toNativeSeparators(working_directory) + ": " + copy.errorString();
      }
      QFile::remove(partial);
      return false;
    }
    QFile::remove(target.filePath());
    if (!QFile::rename(partial, target.filePath())) {
      if (error != nullptr) {
        *error = "Cannot write " + QDir::toNativeSeparators(target.filePath()) + ".";
      }
      QFile::remove(partial);
      return false;
    }
    // A copy from a read-only installation stays writable for the user.
    QFile::setPermissions(target.filePath(),
                          QFile::permissions(target.filePath()) | QFileDevice::WriteOwner);
  }
  return true;
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
