#ifndef TAV_FRONTEND_EXAMPLES_LIST_H_
#define TAV_FRONTEND_EXAMPLES_LIST_H_

#include <QString>
#include <QStringList>
#include <vector>

namespace tavwin {

// One entry of the examples menu: a group (no leading blanks in the list), a subgroup (one
// leading blank) or an example (two or more). Only examples carry a file name.
struct ExampleEntry {
  int level = 0;  // 0 group, 1 subgroup, 2 example
  QString caption;
  QString file_name;  // without extension; examples only
  bool is_example = false;
  std::vector<ExampleEntry> children;
};

// Builds the menu tree from the lines of "examples.lis". The list ends at its first empty
// line. A subgroup belongs to the last group and an example to the last subgroup; an entry
// whose parent level has not appeared yet hangs from the nearest level that has (the menu
// itself when there is none).
//
// Columns: the caption runs from the first non-blank character up to column 38, trailing
// blanks removed and every "_" turned into a blank; an example's file name is in columns 40
// to 47.
std::vector<ExampleEntry> ParseExamplesList(const QStringList& lines);

// Reads and parses the list file; a missing file gives no entries.
std::vector<ExampleEntry> ReadExamplesList(const QString& path);

// The examples directory for a program directory (with its trailing separator): the
// "examples" directory there when it holds "examples.lis", otherwise the program directory
// itself when it holds "examples.lis", otherwise, for an installed program in "bin", the
// directory "share/tav/examples" beside "bin" when it holds "examples.lis", otherwise empty
// (no examples). The result ends in a separator.
QString FindExamplesDirectory(const QString& program_directory);

// Copies the data files of the examples (every file of the examples directory other than the
// inputs "*.inp" and "examples.lis") to the working folder, which is made when missing, so
// that an example runs there and its results never land in the examples directory. A file is
// copied when the working folder has none of that name or an older one. false (with error)
// when the folder or a file could not be written.
bool CopyExampleDataFiles(const QString& examples_directory, const QString& working_directory,
                          QString* error);

// The input file of an example: its name + ".inp" in the examples directory. Where file names
// are case-sensitive, a file whose name differs only in case is found as well.
QString ExampleFilePath(const QString& examples_directory, const QString& file_name);

}  // namespace tavwin

#endif  // TAV_FRONTEND_EXAMPLES_LIST_H_
