#include "report/write_report.h"

#include <algorithm>

#include "core/log.h"

namespace tav {

std::string Blanks(int n) { return std::string(std::clamp(n, 0, 80), ' '); }

void WriteReport(RunState& run) {
  run.FilePrefix.clear();
  OpenTextFile(run, run.ReportFile, run.OutputFileName, "w");
  WriteBanner(run.ReportFile);
  OpenTextFile(run, run.InputFile, run.InputFileName, "r");
  WriteInputEcho(run);
  run.InputFile.Close();
  run.ReportFile.Close();
}

void WriteInputEcho(RunState& run) {
  TextFile& out = run.ReportFile;
  out.WriteLine("");
  out.WriteLine("*** INPUT ***");
  out.WriteLine("");
  TextFile& in = run.InputFile;
  std::string line;
  while (!in.AtEnd()) {
    line.clear();
    for (int c = in.Get(); c != TextFile::kEnd && c != '\n'; c = in.Get()) {
      if (c == '\r') {
        if (in.Peek() == '\n') in.Get();
        break;
      }
      line += static_cast<char>(c);
    }
    out.WriteLine(Blanks(2) + line);
  }
  out.WriteLine("");
}

}  // namespace tav
