#ifndef TAV_ENGINE_INPUT_SECTIONS_H_
#define TAV_ENGINE_INPUT_SECTIONS_H_

#include "input/input_run.h"
#include "input/reader.h"

namespace tav {

// The section parsers of the input file, called in this order by ParseInput
// (data/parse_input.h). Each reads words
// into reader.command; on return reader.command holds the first word that the section did
// not recognise, already read, for the next section.

// Variables, labels, subgroups, indicators and the model (mod, mea, all, cor). Reads the
// first word itself.
void ParseModelSection(Reader& reader, InputRun& run);

// Event history: dis, tim, ris, mul, haz, _we, zer, exp. Always reserves the hazard submodel
// (number SubmodelCount).
void ParseEventHistorySection(Reader& reader, InputRun& run);

// Record format: rec, rt0, epi, rco, rsu, mis, ski, noc.
void ParseRecordFormatSection(Reader& reader, InputRun& run);

// The settings section follows them: ParseSettings (data/settings_section.h).

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_SECTIONS_H_
