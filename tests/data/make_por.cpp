// Writes labels.por, the SPSS portable file of the reader tests, from labels.dat: haven writes
// no portable files, so this uses the writer of the library that tav95 reads them with. Run
// once from this folder:
//   g++ -std=c++20 make_por.cpp -lreadstat -o /tmp/make_por && /tmp/make_por
// Opinion's missing values (NA and "no answer") are system-missing here, region is numbers 1 to 3
// labelled north, south and west, and the names are in upper case, as portable files have them
// (the library's portable writer crashed on a text column and on names in lower case).
#include <readstat.h>

#include <cstdio>
#include <fstream>

namespace {

ssize_t Write(const void* bytes, size_t length, void* context) {
  return static_cast<ssize_t>(std::fwrite(bytes, 1, length, static_cast<std::FILE*>(context)));
}

}  // namespace

int main() {
  constexpr int kRows = 80;
  std::ifstream in("labels.dat");
  double sex[kRows], region[kRows], opinion[kRows], weight[kRows];
  for (int r = 0; r < kRows; ++r) in >> sex[r] >> region[r] >> opinion[r] >> weight[r];
  if (!in) return 1;
  std::FILE* out = std::fopen("labels.por", "wb");
  if (out == nullptr) return 1;
  readstat_writer_t* writer = readstat_writer_init();
  readstat_set_data_writer(writer, Write);
  readstat_writer_set_file_label(writer, "Reader test survey");
  readstat_writer_set_file_timestamp(writer, 1765238400);  // 2025-12-09, fixed
  readstat_label_set_t* sexes = readstat_add_label_set(writer, READSTAT_TYPE_DOUBLE, "sexes");
  readstat_label_double_value(sexes, 1, "male");
  readstat_label_double_value(sexes, 2, "female");
  readstat_label_set_t* opinions = readstat_add_label_set(writer, READSTAT_TYPE_DOUBLE, "opin");
  readstat_label_double_value(opinions, 1, "agree");
  readstat_label_double_value(opinions, 2, "neutral");
  readstat_label_double_value(opinions, 3, "disagree");
  readstat_variable_t* id = readstat_add_variable(writer, "ID", READSTAT_TYPE_DOUBLE, 0);
  readstat_variable_t* s = readstat_add_variable(writer, "SEX", READSTAT_TYPE_DOUBLE, 0);
  readstat_variable_set_label(s, "Sex of the respondent");
  readstat_variable_set_label_set(s, sexes);
  readstat_label_set_t* regions = readstat_add_label_set(writer, READSTAT_TYPE_DOUBLE, "areas");
  readstat_label_double_value(regions, 1, "north");
  readstat_label_double_value(regions, 2, "south");
  readstat_label_double_value(regions, 3, "west");
  readstat_variable_t* g = readstat_add_variable(writer, "REGION", READSTAT_TYPE_DOUBLE, 0);
  readstat_variable_set_label(g, "Region of residence");
  readstat_variable_set_label_set(g, regions);
  readstat_variable_t* o = readstat_add_variable(writer, "OPINION", READSTAT_TYPE_DOUBLE, 0);
  readstat_variable_set_label(o, "Opinion on the proposal");
  readstat_variable_set_label_set(o, opinions);
  readstat_variable_t* w = readstat_add_variable(writer, "WEIGHT", READSTAT_TYPE_DOUBLE, 0);
  readstat_variable_set_label(w, "Survey weight");
  readstat_begin_writing_por(writer, out, kRows);
  for (int r = 0; r < kRows; ++r) {
    readstat_begin_row(writer);
    readstat_insert_double_value(writer, id, r + 1);
    readstat_insert_double_value(writer, s, sex[r]);
    readstat_insert_double_value(writer, g, region[r]);
    if (opinion[r] == 0) {
      readstat_insert_missing_value(writer, o);
    } else {
      readstat_insert_double_value(writer, o, opinion[r]);
    }
    readstat_insert_double_value(writer, w, weight[r]);
    readstat_end_row(writer);
  }
  const readstat_error_t error = readstat_end_writing(writer);
  readstat_writer_free(writer);
  std::fclose(out);
  return error == READSTAT_OK ? 0 : 1;
}
