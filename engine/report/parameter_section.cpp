// The text of the "*** LOG-LINEAR PARAMETERS ***" and "*** HAZARD PARAMETERS ***" sections and
// of the covariance file, rendered from ParameterResults.

#include <cmath>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "input/reader.h"
#include "report/parameter_tables.h"
#include "report/report_computations.h"
#include "report/write_report.h"

namespace tav {
namespace {

// The standard-error and z-value columns: fixed 8.4 and 8.3, asterisks where not finite.
std::string StdErrAndZText(const ParameterFigures& figures) {
  std::string text =
      std::isnan(figures.std_err) ? "  ****** " : FormatReal(8, 4, figures.std_err) + " ";
  text += std::isnan(figures.z) ? "   ***** " : FormatReal(8, 3, figures.z) + " ";
  return text;
}

// The Wald-test columns: W, df and prob.
std::string WaldText(const WaldFigures& wald) {
  return FormatReal(8, 2, wald.w) + " " + FormatReal(3, 0, wald.df) + " " +
         FormatReal(5, 3, wald.p);
}

// An exp(beta) column: fixed 11.4, or the exponent form for values of at least 1000 or at most
// 0.001.
std::string ExpBetaText(double x) {
  return (x >= 1000 || x <= 0.001 ? FormatReal(11, -1, x) : FormatReal(11, 4, x)) + " ";
}

// The heading line of a table, with a warning for fitted zero margins.
std::string TableHeading(const TableResults& table) {
  std::string heading = "* TABLE " + table.term;
  heading += table.labelled ? " [or " + table.label + "] *" : " *";
  if (table.zero_margins > 0) {
    heading += " (WARNING: " + FormatReal(0, 0, static_cast<double>(table.zero_margins)) +
               " fitted zero margins)";
  }
  return heading;
}

// One line of a table's effect: label, beta, with standard errors their columns (blanks for a
// parameter that is not free), exp(beta) where the table has the column.
std::string CellLine(const EffectCell& cell, bool std_errors, bool exp_beta) {
  std::string line = Blanks(2) + PadRight(cell.label, 12);
  line += cell.estimated ? FormatReal(9, 4, cell.figures.beta) + " " : "   ****** ";
  if (std_errors) line += cell.position < 0 ? Blanks(18) : StdErrAndZText(cell.figures);
  if (exp_beta) line += cell.estimated ? ExpBetaText(cell.figures.exp_beta) : " 0.00E+0000";
  return line;
}

// A table: heading, R-squared and R of a normal cumulative model, column header, and per
// effect its heading line (but for the constant) and its cells, the Wald test on the last.
void WriteTable(const TableResults& table, bool std_errors, TextFile& out) {
  out.WriteLine(TableHeading(table));
  out.WriteLine("");
  if (table.r_squared_shown) {
    out.WriteLine(Blanks(2) + PadRight("R-squared", 12) + FormatReal(9, 4, table.r_squared));
    out.WriteLine(Blanks(2) + PadRight("R", 12) + FormatReal(9, 4, table.r));
    out.WriteLine("");
  }
  out.WriteLine(ColumnHeader(std_errors, table.exp_beta));
  for (const EffectResults& effect : table.effects) {
    if (!effect.constant) out.WriteLine(Blanks(2) + effect.term + " ");
    if (!effect.listed) {
      out.WriteLine(NotListedText("effect", static_cast<double>(kLargestListedTable)));
      continue;
    }
    for (const EffectCell& cell : effect.cells) {
      std::string line = CellLine(cell, std_errors, table.exp_beta);
      if (&cell == &effect.cells.back() && effect.wald.df > 0) line += WaldText(effect.wald);
      out.WriteLine(line);
    }
  }
}

// A parameter line of a block: as a table's, with ln x / scale as beta and x (or its scaled
// form) as exp(beta); asterisks where that exceeds the range of a double.
std::string RowLine(const BlockRow& row, const BlockResults& block) {
  std::string line = Blanks(2) + PadRight(row.label, 12);
  line += row.positive ? FormatReal(9, 4, row.figures.beta) + " " : "   ****** ";
  if (block.std_errors) line += row.position < 0 ? Blanks(18) : StdErrAndZText(row.figures);
  if (!block.exp_beta) return line;
  const double x = row.figures.exp_beta;
  if (!row.positive) {
    line += " 0.00E+0000";
  } else if (!std::isfinite(x) && block.kind == BlockResults::Kind::kParameters) {
    line += "     ****** ";
  } else {
    line += ExpBetaText(x);
  }
  return line;
}

// A shape line of the hazard part: alpha, with estimated shapes its standard error.
std::string ShapeLine(const BlockRow& row, const BlockResults& block) {
  std::string line = Blanks(2) + "alpha" + FormatReal(16, 4, row.figures.beta);
  if (!block.std_errors) return line;
  return line +
         (std::isnan(row.figures.std_err) ? "   ******" : FormatReal(9, 4, row.figures.std_err));
}

// Lines of cells after a 14-character head: six cells a line, and a new line where a group of
// `group` cells begins; the continuation lines start with 14 blanks.
void WriteCellLines(const std::string& head, const std::vector<std::string>& cells, int group,
                    TextFile& out) {
  std::string line = head;
  line.resize(14, ' ');
  int on_line = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (on_line == 6 || (on_line > 0 && group > 0 && i % group == 0)) {
      out.WriteLine(line);
      line.assign(14, ' ');
      on_line = 0;
    }
    line += cells[i];
    ++on_line;
  }
  out.WriteLine(line);
}

// The cell of a value: association parameters fixed 9.4, scores a blank and fixed 8.4.
std::string ValueCell(double value, bool parameter) {
  return parameter ? FormatReal(9, 4, value) : " " + FormatReal(8, 4, value);
}

// The cell of a standard error: blanks for a value that is not estimated, asterisks for one
// without a positive variance.
std::string StdErrCell(double std_err, bool estimated, bool parameter) {
  if (!estimated) return Blanks(9);
  if (std::isnan(std_err)) return parameter ? "   ******" : "  ******";
  return ValueCell(std_err, parameter);
}

// The head of block b of a side's values: its label, numbered when a side of scores has
// several blocks.
std::string SideHead(const SideResults& side, int b, int blocks) {
  std::string head = "  " + side.label;
  if (blocks > 1 && !side.parameter) head += " " + IntegerText(b + 1);
  return head;
}

// The lines of one side's values, a group of lines per block of n, each followed by the lines
// of their standard errors when these are shown.
void WriteSide(const SideResults& side, TextFile& out) {
  const int n = side.n;
  const int blocks = n > 0 ? static_cast<int>(side.values.size()) / n : 0;
  for (int b = 0; b < blocks; ++b) {
    std::vector<std::string> cells;
    std::vector<std::string> errors;
    for (int i = b * n; i < (b + 1) * n; ++i) {
      cells.push_back(ValueCell(side.values[i], side.parameter));
      if (side.std_errors) {
        errors.push_back(StdErrCell(side.std_errs[i], side.estimated[i] != 0, side.parameter));
      }
    }
    WriteCellLines(SideHead(side, b, blocks), cells, side.group, out);
    if (side.std_errors) WriteCellLines("  s.e.", errors, side.group, out);
  }
}

// A block after a table: a heading of tables, or the block's heading line (when shown), its
// lines and its notes; an association term ends with an empty line.
void WriteBlock(const BlockResults& block, TextFile& out) {
  using Kind = BlockResults::Kind;
  if (block.kind == Kind::kTableHeading) {
    out.WriteLine("* ALL TABLES *");
    out.WriteLine("");
    out.WriteLine(ColumnHeader(block.std_errors, block.exp_beta));
    return;
  }
  if (block.heading_line) out.WriteLine("  " + block.heading);
  if (block.kind == Kind::kAssociation) {
    for (const SideResults& side : block.sides) WriteSide(side, out);
    out.WriteLine("");
    return;
  }
  for (const BlockRow& row : block.rows) {
    std::string line = block.kind == Kind::kShapes ? ShapeLine(row, block) : RowLine(row, block);
    if (&row == &block.rows.back() && block.wald.df > 0) line += WaldText(block.wald);
    out.WriteLine(line);
  }
  for (const std::string& note : block.notes) out.WriteLine(note);
}

void WriteBlocks(const std::vector<BlockResults>& blocks, TextFile& out) {
  for (const BlockResults& block : blocks) WriteBlock(block, out);
}

// A submodel's part: its table, the blocks after it, the empty line that ends it and the blocks
// after that; only the blocks after the table for a submodel without a table.
void WritePart(const SubmodelParameters& part, bool std_errors, TextFile& out) {
  if (!part.table_shown) {
    WriteBlocks(part.after_table, out);
    return;
  }
  WriteTable(part.table, std_errors, out);
  WriteBlocks(part.after_table, out);
  out.WriteLine("");
  WriteBlocks(part.after_end, out);
}

// Lower-triangle rows of fixed 8.4 figures, asterisks where not finite.
void WriteTriangle(const std::vector<std::vector<double>>& rows, TextFile& file) {
  for (const std::vector<double>& row : rows) {
    std::string line;
    for (double value : row) line += std::isnan(value) ? "  ******" : FormatReal(8, 4, value);
    file.WriteLine(line);
  }
}

}  // namespace

std::string ColumnHeader(bool std_errors, bool exp_beta) {
  std::string line = Blanks(2) + "effect" + Blanks(6) + PadLeft("beta", 9);
  if (std_errors) line += PadLeft("std err", 9) + PadLeft("z-value", 9);
  if (exp_beta) line += PadLeft("exp(beta)", 12);
  if (std_errors) line += PadLeft("Wald", 9) + PadLeft("df", 4) + PadLeft("prob", 6);
  return line;
}

void WriteParameterSection(const ParameterResults& results, TextFile& out) {
  if (results.section_shown) {
    out.WriteLine("");
    out.WriteLine("*** LOG-LINEAR PARAMETERS ***");
    out.WriteLine("");
    for (const SubmodelParameters& part : results.submodels) {
      WritePart(part, results.std_errors, out);
    }
  }
  WriteBlocks(results.after_submodels, out);
  if (results.hazard_shown) {
    out.WriteLine("");
    out.WriteLine("");
    out.WriteLine("*** HAZARD PARAMETERS ***");
    out.WriteLine("");
    WritePart(results.hazard_part, results.std_errors, out);
  }
  out.WriteLine("");
}

void WriteCovarianceFile(const CovarianceResults& covariances, TextFile& file) {
  file.WriteLine("* Standard-errors and correlations *");
  WriteTriangle(covariances.correlations, file);
  file.WriteLine("");
  file.WriteLine("* Variances and covariances *");
  WriteTriangle(covariances.covariances, file);
  file.WriteLine("");
}

}  // namespace tav
