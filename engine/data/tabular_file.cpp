// The data files that are read as named columns: their kinds by name, and the reader of each.

#include "data/tabular_file.h"

#include <cctype>

#include "data/csv_reader.h"
#include "data/readstat_reader.h"

namespace tav {

std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  const std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ending = name.substr(dot);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ending;
}

TabularKind TabularKindOf(const std::string& name) {
  const std::string ending = ExtensionOf(name);
  if (ending == ".csv") return TabularKind::kCsv;
  if (ending == ".tsv") return TabularKind::kTsv;
  if (ending == ".sav" || ending == ".zsav") return TabularKind::kSpss;
  if (ending == ".por") return TabularKind::kPortable;
  if (ending == ".dta") return TabularKind::kStata;
  if (ending == ".sas7bdat") return TabularKind::kSas;
  if (ending == ".xpt") return TabularKind::kTransport;
  return TabularKind::kNone;
}

TabularFile ReadTabularFile(const std::string& path, const std::string& name, TabularKind kind,
                            const std::vector<std::string>& wanted) {
  if (kind == TabularKind::kCsv) return ReadCsvFile(path, name, ',');
  if (kind == TabularKind::kTsv) return ReadCsvFile(path, name, '\t');
  return ReadStatisticalFile(path, name, kind, wanted);
}

}  // namespace tav
