// The command reference, docs/commands.md, that is installed beside the programs and shown by the
// front end's help window: one entry (a heading line "### `name`") for every command of the
// command table and for nothing else, under the heading of the section that reads the command,
// each with an example; every example is a complete input that runs to a normal end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "input/command_table.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;

struct Example {
  int line = 0;  // the line of its opening fence
  std::string text;
};

struct Entry {
  int line = 0;
  int count = 0;  // entries with this name
  Section section = Section::kNone;
  std::vector<Example> examples;
};

struct Reference {
  std::map<std::string, Entry> entries;
  std::vector<Example> examples;  // all of them, the introduction's included
  std::vector<std::string> faults;
};

// The section whose commands a "## " heading gathers.
Section SectionOfHeading(const std::string& heading) {
  const std::pair<const char*, Section> prefixes[] = {
      {"Model section", Section::kModel},
      {"Event-history section", Section::kEventHistory},
      {"Record-format section", Section::kRecordFormat},
      {"Settings section", Section::kSettings},
  };
  for (const auto& [prefix, section] : prefixes) {
    if (heading.rfind(prefix, 0) == 0) return section;
  }
  return Section::kNone;
}

Reference ReadReference(const fs::path& path) {
  Reference reference;
  std::ifstream in(path);
  if (!in) {
    reference.faults.push_back("cannot read " + path.string());
    return reference;
  }
  Section section = Section::kNone;
  Entry* entry = nullptr;
  Example* open = nullptr;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string at = "line " + std::to_string(number) + ": ";
    if (line.size() > 100) reference.faults.push_back(at + "more than 100 characters");
    if (line.rfind("```", 0) == 0) {
      if (open == nullptr) {
        reference.examples.push_back({number, ""});
        open = &reference.examples.back();
      } else {
        if (entry != nullptr) entry->examples.push_back(*open);
        open = nullptr;
      }
      continue;
    }
    if (open != nullptr) {
      open->text += line + "\n";
    } else if (line.rfind("## ", 0) == 0) {
      section = SectionOfHeading(line.substr(3));
      entry = nullptr;
    } else if (line.rfind("### ", 0) == 0) {
      // "### `name`" exactly: the name between the backticks.
      const bool form = line.size() > 6 && line[4] == '`' && line.back() == '`' &&
                        line.find('`', 5) == line.size() - 1;
      if (!form) {
        reference.faults.push_back(at + "an entry heading not of the form ### `name`");
        entry = nullptr;
        continue;
      }
      entry = &reference.entries[line.substr(5, line.size() - 6)];
      if (entry->count++ == 0) {
        entry->line = number;
        entry->section = section;
      }
    }
  }
  if (open != nullptr) reference.faults.push_back("an example without its closing fence");
  return reference;
}

const char* SectionName(Section section) {
  switch (section) {
    case Section::kModel:
      return "Model section";
    case Section::kEventHistory:
      return "Event-history section";
    case Section::kRecordFormat:
      return "Record-format section";
    case Section::kSettings:
      return "Settings section";
    default:
      return "no section";
  }
}

const fs::path kReference = fs::path(TAV_SOURCE_DIR) / "docs" / "commands.md";

TEST(CommandReference, OneEntryPerCommandInItsSectionWithAnExample) {
  const Reference reference = ReadReference(kReference);
  for (const std::string& fault : reference.faults) ADD_FAILURE() << fault;

  for (const CommandEntry& command : CommandTable()) {
    const std::string name(command.name);
    const auto found = reference.entries.find(name);
    if (found == reference.entries.end()) {
      ADD_FAILURE() << "no entry for the command " << name << " (" << command.role << ")";
      continue;
    }
    const Entry& entry = found->second;
    EXPECT_EQ(entry.count, 1) << "entries for " << name;
    EXPECT_TRUE(entry.section == command.section)
        << "the entry for " << name << " (line " << entry.line << ") stands under a heading of "
        << SectionName(entry.section) << ", the engine reads it in "
        << SectionName(command.section);
    EXPECT_FALSE(entry.examples.empty()) << "the entry for " << name << " has no example";
  }
  for (const auto& [name, entry] : reference.entries) {
    const CommandEntry* command = FindCommand(name);
    EXPECT_TRUE(command != nullptr && command->name == name)
        << "line " << entry.line << ": an entry for " << name
        << ", which is not a command of the table";
  }
}

// The log lines and exit status of a run of an example, in log-file mode; a data file that the
// example names with `dat` and that lies in examples/ (such as survey.sav) is copied beside it.
struct ExampleRun {
  explicit ExampleRun(const std::string& text) {
    testing::TempDir dir;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("dat ", 0) != 0) continue;
      const fs::path data = fs::path(TAV_SOURCE_DIR) / "examples" / line.substr(4);
      if (fs::is_regular_file(data)) fs::copy_file(data, dir.path() / data.filename());
    }
    ProgramRun run;
    testing::RecordingPresentation window;
    run.context.presentation = &window;
    run.context.arguments = {dir.Write("model.inp", text), dir.File("model.out"),
                             dir.path().string() + "/", dir.File("log.tmp"), "-log"};
    status = RunMain(run);
    log = testing::ReadLines(dir.File("log.tmp"));
  }
  int status = -1;
  std::vector<std::string> log;
};

TEST(CommandReference, EveryExampleRunsToANormalEnd) {
  const Reference reference = ReadReference(kReference);
  ASSERT_FALSE(reference.examples.empty()) << kReference;
  for (const Example& example : reference.examples) {
    const ExampleRun run(example.text);
    std::string messages;
    for (const std::string& line : run.log) {
      if (line.find("Error") != std::string::npos || line.find("Warning") != std::string::npos) {
        messages += "\n" + line;
      }
    }
    EXPECT_TRUE(run.status == 0 && messages.empty())
        << "the example at line " << example.line << " ended with status " << run.status
        << messages;
  }
}

}  // namespace
}  // namespace tav
