// Data files of named columns (CSV, TSV, SPSS, Stata, SAS) read by the program: every kind gives
// the same fit as the same records written as plain numbers, and a bad file stops the run with
// a message and status 1. The files were made once with R's haven (tests/data/make_files.R) and,
// the SPSS portable one, with the library's writer (tests/data/make_por.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingPresentation;
using testing::TempDir;

const fs::path kData = fs::path(TAV_SOURCE_DIR) / "tests/data";

// Opinion (O) by sex (S) and region (G) from tests/data/labels.*, weighted, with opinion
// missing for some respondents (the second subgroup).
const char* const kModel =
    "res 1\nman 3\ndim 2 2 3 3\nlab K S G O\nsub SGO SG\nmod S G|S O|S K|S\nrec 80\nrco\nsee 1\n";

struct Outcome {
  int status = -1;
  std::string report;
  std::string log;
  // The log holds the message.
  bool Says(const std::string& message) const { return log.find(message) != std::string::npos; }
};

// Runs input in a folder of its own that holds the given files of tests/data and the extra
// files (name, contents).
Outcome RunWith(const std::string& input, const std::vector<std::string>& data_files,
                const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  TempDir dir;
  for (const std::string& name : data_files) fs::copy_file(kData / name, dir.path() / name);
  for (const auto& [name, contents] : extra) {
    std::ofstream(dir.path() / name, std::ios::binary) << contents;
  }
  ProgramRun run;
  RecordingPresentation window;
  run.context.presentation = &window;
  run.context.arguments = {dir.Write("model.inp", input), dir.File("model.out"),
                           dir.path().string() + "/", dir.File("log.tmp"), "-log"};
  Outcome outcome;
  outcome.status = RunMain(run);
  if (fs::exists(dir.path() / "model.out")) outcome.report = ReadFile(dir.File("model.out"));
  outcome.log = ReadFile(dir.File("log.tmp"));
  return outcome;
}

// The report from its statistics on: what the data decide.
std::string Results(const std::string& report) {
  const std::size_t at = report.find("*** STATISTICS ***");
  return at == std::string::npos ? "" : report.substr(at);
}

#if !defined(TAV_HAVE_READSTAT)
bool Binary(const std::string& ending) { return ending != "csv" && ending != "tsv"; }
#endif

TEST(ColumnData, EveryKindOfFileGivesTheFitOfThePlainNumbers) {
  const Outcome plain = RunWith(std::string(kModel) + "dat labels.dat\n", {"labels.dat"});
  ASSERT_EQ(plain.status, kExitNormal) << plain.log;
  for (const char* ending : {"sav", "zsav", "por", "dta", "xpt", "sas7bdat", "csv", "tsv"}) {
    const std::string file = std::string("labels.") + ending;
    const Outcome read =
        RunWith(std::string(kModel) + "col [sex region opinion weight]\ndat " + file, {file});
#if !defined(TAV_HAVE_READSTAT)
    if (Binary(ending)) {
      EXPECT_EQ(read.status, kExitError);
      EXPECT_TRUE(read.Says("Error: reading ." + std::string(ending) +
                            " files is not available in this build"));
      continue;
    }
#endif
    ASSERT_EQ(read.status, kExitNormal) << ending << ": " << read.log;
    EXPECT_EQ(Results(read.report), Results(plain.report)) << ending;
    // The input section says where each variable came from.
    EXPECT_NE(read.report.find("Variables from data file " + file), std::string::npos);
    if (std::string(ending) == "sav" || std::string(ending) == "dta") {
      EXPECT_NE(read.report.find("  O  column opinion: Opinion on the proposal"),
                std::string::npos);
      EXPECT_NE(read.report.find("       3  3      disagree"), std::string::npos) << ending;
    }
  }
}

// The L-squared of the CSV golden case, {sex,reg} opi|sex, is that of R's
// loglin(xtabs(~sex+reg+opi, read.csv("readcsv.csv")), list(c(1,2), c(1,3)))$lrt.
TEST(ColumnData, CsvGoldenFitIsRsLoglin) {
  const std::string report = ReadFile(std::string(TAV_SOURCE_DIR) + "/tests/golden/readcsv.out");
  EXPECT_NE(report.find("  L-squared            = 10.2468 "), std::string::npos);
  EXPECT_NE(report.find("  Degrees of freedom   = 8"), std::string::npos);
}

TEST(ColumnData, DamagedFilesOfEveryKindStopTheRun) {
  for (const char* ending : {"sav", "zsav", "por", "dta", "xpt", "sas7bdat", "csv", "tsv"}) {
    const std::string file = std::string("labels.") + ending;
    const std::string whole = ReadFile((kData / file).string());
    const std::string input =
        std::string(kModel) + "col [sex region opinion weight]\ndat bad." + ending;
    // Cut off in the middle, and a header followed by garbage.
    for (const std::string& damaged :
         {whole.substr(0, whole.size() / 2),
          whole.substr(0, 64) + std::string(whole.size() - 64, '\x9c')}) {
      const Outcome read = RunWith(input, {}, {{std::string("bad.") + ending, damaged}});
      EXPECT_EQ(read.status, kExitError) << ending;
      EXPECT_TRUE(read.Says("Error: data file bad." + std::string(ending))) << read.log;
    }
  }
}

TEST(ColumnData, BadColumnsAndValuesAreNamed) {
  const std::string model = "man 2\ndim 2 2\nlab A B\nmod {A,B}\n";
  const std::string csv = "A,B,w\n1,x,1\n2,y,2\n1,z,0.5\n";
  struct Case {
    std::string input;
    std::string contents;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"dat d.csv", csv,
       "Error in data: column B has 3 distinct values, more than the 2 categories of B: \"x\" "
       "\"y\" \"z\""},
      {"col [A C]\ndat d.csv", csv, "Error: unknown column C in data file d.csv"},
      {"col [A B w]\ndat d.csv", "A,B,w\n1,1,1\n2,2,-2\n",
       "Error: col names 3 columns, a record has 2"},
      {"dat d.csv", "A,B\n1,\"2\n", "Error: data file d.csv: a quoted field is not closed"},
      {"dat d.csv", "A,B\n1,2\n1\n", "Error: data file d.csv: line 3 has 1 fields, the header 2"},
      {"dat d.csv", "A,B\n1,\xff\n",
       "Error: data file d.csv: it is not in UTF-8, the encoding a CSV file is read in"},
      {"col [A B]\ndat d.dat", "1 1\n",
       "Error: col names columns of a data file .csv, .tsv, .sav, "
       ".zsav, .por, .dta, .sas7bdat or .xpt"},
      {"rec 3\ndat d.csv", "A,B\n1,1\n2,2\n",
       "Error: data file d.csv has 2 records, rec asks for 3"},
  };
  for (const Case& c : cases) {
    const std::string name = c.input.find("d.dat") != std::string::npos ? "d.dat" : "d.csv";
    const Outcome read = RunWith(model + c.input + "\n", {}, {{name, c.contents}});
    EXPECT_EQ(read.status, kExitError) << c.input;
    EXPECT_TRUE(read.Says(c.error + "\n")) << c.input << "\n" << read.log;
  }
}

// The other fields of a record come from their columns as numbers: episodes (a missing time
// ends the history, as the end of a line does) and covariate values give the fit of the same
// records as plain numbers (the examples of epi and con in docs/commands.md).
TEST(ColumnData, EventHistoriesAndCovariatesGiveThePlainNumbersFit) {
  const std::string episodes =
      "man 1\ndim 2\nlab A\nris 3 [0 1] [1 2]\nhaz A {A.R, R}\nexp 1\nrec 4\nepi 2\nsee 3\n";
  const Outcome plain = RunWith(episodes +
                                    "dat [ 1 1.0 1 2.5 2\n 1 2.0 1 4.0 1\n"
                                    " 2 0.5 1 1.5 2\n 2 4.0 0 ]\n",
                                {});
  ASSERT_EQ(plain.status, kExitNormal) << plain.log;
  const Outcome read = RunWith(
      episodes + "col [a t1 s1 t2 s2]\ndat h.csv\n", {},
      {{"h.csv", "a,t1,s1,t2,s2\n1,1.0,1,2.5,2\n1,2.0,1,4.0,1\n2,0.5,1,1.5,2\n2,4.0,0,,\n"}});
  ASSERT_EQ(read.status, kExitNormal) << read.log;
  EXPECT_EQ(Results(read.report), Results(plain.report));

  const std::string covariate =
      "con 1\nman 1\ndim 2\nlab B x\nmod B|x {B, cov(B 1 x c -1)}\nrec 8\ndes [ 0 1 ]\nsee 3\n";
  const Outcome plain_covariate = RunWith(
      covariate + "dat [ 1 -1.2\n 1 -0.4\n 2 -0.3\n 1 0.1\n 2 0.2\n 1 0.5\n 2 0.9\n 2 1.4 ]\n", {});
  ASSERT_EQ(plain_covariate.status, kExitNormal) << plain_covariate.log;
  const Outcome read_covariate =
      RunWith(covariate + "col [b x]\ndat c.tsv\n", {},
              {{"c.tsv",
                "b\tx\nno\t-1.2\nno\t-0.4\nyes\t-0.3\nno\t0.1\nyes\t0.2\nno\t0.5\nyes\t0.9\n"
                "yes\t1.4\n"}});
  ASSERT_EQ(read_covariate.status, kExitNormal) << read_covariate.log;
  EXPECT_EQ(Results(read_covariate.report), Results(plain_covariate.report));
}

#if defined(TAV_HAVE_READSTAT)
// The SPSS, Stata and SAS readers read only the columns named (apart from case): the others are
// passed over, and a name that matches none is still unknown.
TEST(ColumnData, ColumnsOfABinaryFileAreFoundApartFromCase) {
  const std::string model = "man 2\ndim 2 3\nlab A B\nmod {A,B}\n";
  const Outcome found = RunWith(model + "col [SEX Region]\ndat labels.dta\n", {"labels.dta"});
  EXPECT_EQ(found.status, kExitNormal) << found.log;
  EXPECT_NE(found.report.find("  B  column region: Region of residence"), std::string::npos);
  const Outcome unknown = RunWith(model + "col [sex nosuch]\ndat labels.sav\n", {"labels.sav"});
  EXPECT_EQ(unknown.status, kExitError);
  EXPECT_TRUE(unknown.Says("Error: unknown column nosuch in data file labels.sav\n"));
}
#endif

TEST(ColumnData, WeightsMustBeNumbersAtLeastZero) {
  const std::string model = "man 2\ndim 2 2\nlab A B\nmod {A,B}\nrec 3\nrco\ncol [A B w]\n";
  const Outcome negative =
      RunWith(model + "dat d.csv\n", {}, {{"d.csv", "A,B,w\n1,1,1\n2,2,-2\n1,2,1\n"}});
  EXPECT_EQ(negative.status, kExitError);
  EXPECT_TRUE(negative.Says("Error in data: count less than zero in record number 2\n"));
  const Outcome text =
      RunWith(model + "dat d.csv\n", {}, {{"d.csv", "A,B,w\n1,1,1\n2,2,2\n1,2,heavy\n"}});
  EXPECT_EQ(text.status, kExitError);
  EXPECT_TRUE(text.Says("Error in data: a missing or non-numeric value in column w in record 3\n"));
  const Outcome weighted =
      RunWith(model + "dat d.csv\n", {}, {{"d.csv", "A,B,w\n1,1,1.5\n2,2,2\n1,2,0.5\n"}});
  EXPECT_EQ(weighted.status, kExitNormal) << weighted.log;
  EXPECT_NE(weighted.report.find("Sample size          = 4.0"), std::string::npos);
}

}  // namespace
}  // namespace tav
