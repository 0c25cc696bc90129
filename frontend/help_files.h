#ifndef TAV_FRONTEND_HELP_FILES_H_
#define TAV_FRONTEND_HELP_FILES_H_

#include <QString>
#include <QStringList>

namespace tavwin {

// The release of TAV, the same as the engine's (the project's version in the build).
QString VersionText();

// Where the command reference "commands.md" may lie, in the order they are tried: installed,
// "share/tav/commands.md" beside the program's "bin" directory; in a build tree, the source
// tree's "docs" directory (known to the build).
QStringList CommandReferenceCandidates(const QString& program_directory);

// The first candidate that exists, or empty.
QString FindCommandReference(const QString& program_directory);

// The project's licence file, looked for as the command reference is ("share/tav/LICENSE",
// then the source tree's "LICENSE"), or empty.
QString FindLicenceFile(const QString& program_directory);

}  // namespace tavwin

#endif  // TAV_FRONTEND_HELP_FILES_H_
