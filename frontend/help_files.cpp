#include "help_files.h"

#include <QDir>
#include <QFileInfo>

#include "core/log.h"

namespace tavwin {
namespace {

QStringList Candidates(const QString& program_directory, const QString& installed,
                       const QString& in_sources) {
  QStringList candidates;
  candidates << QDir::cleanPath(QDir(program_directory).filePath("../share/tav/" + installed));
#if defined(TAV_SOURCE_DIR)
  candidates << QDir::cleanPath(QDir(QStringLiteral(TAV_SOURCE_DIR)).filePath(in_sources));
#else
  Q_UNUSED(in_sources);
#endif
  return candidates;
}

QString FirstExisting(const QStringList& candidates) {
  for (const QString& candidate : candidates) {
    if (QFileInfo(candidate).isFile()) return candidate;
  }
  return QString();
}

}  // namespace

QString VersionText() { return QString::fromUtf8(tav::kVersionText); }

QStringList CommandReferenceCandidates(const QString& program_directory) {
  return Candidates(program_directory, "commands.md", "docs/commands.md");
}

QString FindCommandReference(const QString& program_directory) {
  return FirstExisting(CommandReferenceCandidates(program_directory));
}

QString FindLicenceFile(const QString& program_directory) {
  return FirstExisting(Candidates(program_directory, "LICENSE", "LICENSE"));
}

}  // namespace tavwin
