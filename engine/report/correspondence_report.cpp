#include "report/correspondence_report.h"

#include <algorithm>
#include <cmath>

#include "core/format_real.h"
#include "core/log.h"
#include "report/random_starts_report.h"
#include "report/report_computations.h"
#include "report/result_files.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

using Analysis = CorrespondenceAnalysis;

// The section title of type t and the analysis' name in the log.
struct TypeTexts {
  const char* title;
  const char* name;
};
const TypeTexts& TextsOf(CorrespondenceKind t) {
  static const TypeTexts kTexts[] = {
      {"*** CORRESPONDENCE OR CANONICAL CORRELATION ANALYSIS ***", "correspondence analysis"},
      {"*** MULTIPLE CORRESPONDENCE ANALYSIS ***", "multiple correspondence analysis"},
      {"*** ASSOCIATION ANALYSIS ***", "association analysis"},
      {"*** ASSOCIATION ANALYSIS ***", "association analysis"},
  };
  return kTexts[std::clamp(CorrespondenceNumber(t), 1, 4) - 1];
}

void WriteGeneral(TextFile& out, const Analysis& a) {
  out.WriteLine(" * General *");
  const CorrespondenceKind t = a.type;
  if (t == CorrespondenceKind::kSimple) {
    out.WriteLine("   dim      rho      inertia     prop.    cum.prop.  X-squared");
  } else if (t == CorrespondenceKind::kMultiple) {
    out.WriteLine("   dim    eigen    eigen/nvar    prop.    cum.prop ");
  } else {
    out.WriteLine("   dim      phi");
  }
  for (std::size_t d = 0; d < a.dimensions.size(); ++d) {
    const Analysis::Dimension& dimension = a.dimensions[d];
    std::string line = FormatReal(5, 0, static_cast<double>(d + 1));
    if (t == CorrespondenceKind::kSimple) {
      line += FormatReal(11, 4, dimension.root) + FormatReal(11, 4, dimension.eigenvalue) +
              FormatReal(11, 3, dimension.proportion) +
              FormatReal(11, 3, dimension.cumulative_proportion) +
              FormatReal(11, 2, dimension.x_squared);
    } else if (t == CorrespondenceKind::kMultiple) {
      line += FormatReal(11, 4, dimension.eigenvalue) + FormatReal(11, 4, dimension.per_variable) +
              FormatReal(11, 3, dimension.proportion) +
              FormatReal(11, 3, dimension.cumulative_proportion);
    } else {
      line += FormatReal(11, 4, dimension.root);
    }
    out.WriteLine(line);
  }
}

void WriteVariables(TextFile& out, const ModelState& model, const Analysis& a) {
  out.WriteLine("");
  out.WriteLine(" * Variables *");
  const int k = a.variables;
  for (int d = 0; d < a.shown; ++d) {
    out.WriteLine("  Dimension " + FormatReal(0, 0, d + 1));
    out.WriteLine("   discrimination/contribution");
    for (int u = 0; u < k; ++u) {
      out.WriteLine(PadLeft(model.VariableLabel[u], 5) +
                    FormatReal(11, 3, a.discriminations[d][u]) +
                    FormatReal(11, 3, a.contributions[d][u]));
    }
    out.WriteLine("    tot." + FormatReal(8, 3, a.eigenvalues[d]) + FormatReal(11, 3, 1.0));
    out.WriteLine("   correlations");
    std::string heading = "   ";
    for (int u = 0; u < k; ++u) heading += PadLeft(model.VariableLabel[u], 7);
    out.WriteLine(heading);
    for (int u = 0; u < k; ++u) {
      std::string line = PadLeft(model.VariableLabel[u], 5);
      for (double r : a.correlations[d][u]) line += FormatReal(7, 3, r);
      out.WriteLine(line + "  1.000");
    }
  }
}

void WriteCategories(TextFile& out, const ModelState& model, const Analysis& a) {
  out.WriteLine("");
  out.WriteLine(" * Categories *");
  const CorrespondenceKind t = a.type;
  for (int d = 0; d < a.shown; ++d) {
    out.WriteLine("  Dimension " + FormatReal(0, 0, d + 1));
    if (t == CorrespondenceKind::kSimple) {
      out.WriteLine("             weight       x     x*sqrt(rho)   x*rho   contribution");
    } else if (t == CorrespondenceKind::kMultiple) {
      out.WriteLine(std::string("             weight       x    x*sqrt(eigen)") + " contribution");
    } else {
      out.WriteLine("             weight       mu    mu*sqrt(phi)  mu*phi");
    }
    for (std::size_t i = 0; i < a.categories.size(); ++i) {
      const Analysis::Category& c = a.categories[i];
      const Analysis::CategoryFigures& f = a.category_figures[d][i];
      std::string line = PadLeft(model.VariableLabel[c.variable], 4) +
                         FormatReal(3, 0, c.category + 1) + FormatReal(11, 3, c.weight) +
                         FormatReal(11, 3, f.x) + FormatReal(11, 3, f.x_root_s);
      if (t != CorrespondenceKind::kMultiple) line += FormatReal(11, 3, f.x_s);
      if (!IsAssociationAnalysis(t)) line += FormatReal(11, 3, f.contribution);
      out.WriteLine(line);
    }
  }
}

void WriteObjects(TextFile& out, const ModelState& model, const Analysis& a) {
  out.WriteLine("");
  out.WriteLine(" * Objects *");
  std::string heading = " ";
  for (int v = 0; v < model.VariableCount; ++v) heading += PadLeft(model.VariableLabel[v], 3);
  heading += PadLeft("freq", 8);
  for (int d = 0; d < a.objects; ++d) heading += PadLeft("dim", 6) + FormatReal(2, 0, d + 1);
  out.WriteLine(heading);
  if (!a.objects_listed) {
    out.WriteLine("  The objects are not listed: the complete table has more than " +
                  FormatReal(0, 0, static_cast<double>(kLargestListedTable - 1)) + " cells.");
    return;
  }
  for (const Analysis::Object& object : a.object_list) {
    std::string line = " ";
    for (int category : object.categories) line += FormatReal(3, 0, category + 1);
    line += FormatReal(8, 1, object.frequency);
    for (double score : object.scores) line += FormatReal(8, 3, score);
    out.WriteLine(line);
  }
}

}  // namespace

void WriteCorrespondenceReport(RunState& run, CorrespondenceKind t) {
  const ModelState& model = run.model;
  WriteLogLine(run.context, std::string("  ") + TextsOf(t).name);
  const Analysis a = AnalyseCorrespondence(run, t);
  StartResultsDocument(run);
  run.context.FilePrefix.clear();
  OpenTextFile(run.context, run.context.ReportFile, run.context.OutputFileName, "w",
               TextFile::Destination::kReplaceWhenComplete);
  WriteBanner(run.context.ReportFile);
  if (run.settings.show_echo) WriteInputEcho(run);
  run.context.FilePrefix = run.context.InputPrefix();
  TextFile& out = run.context.ReportFile;
  out.WriteLine("");
  out.WriteLine("");
  out.WriteLine(TextsOf(t).title);
  out.WriteLine("");
  if (!a.left_out.empty()) {
    out.WriteLine("WARNING: analysis left out: " + a.left_out);
    WriteLogLine(run.context, "  Warning: analysis left out: " + a.left_out);
  } else {
    WriteGeneral(out, a);
    if (t == CorrespondenceKind::kMultiple) WriteVariables(out, model, a);
    WriteCategories(out, model, a);
    if (t == CorrespondenceKind::kMultiple && a.objects > 0) WriteObjects(out, model, a);
  }
  RecordCorrespondence(run, a);
  if (run.settings.show_diagnostics) {
    const RandomStartsResults starts = ComputeRandomStarts(run);
    WriteRandomStartsSection(starts, out);
    RecordRandomStarts(run, starts);
  }
  WriteResultFiles(run);
  FinishResultsDocument(run);
  run.context.FilePrefix.clear();
  CloseTextFile(run.context.ReportFile);
}

}  // namespace tav
