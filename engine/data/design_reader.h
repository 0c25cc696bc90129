#ifndef TAV_ENGINE_DATA_DESIGN_READER_H_
#define TAV_ENGINE_DATA_DESIGN_READER_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "core/text_file.h"
#include "data/data_run.h"
#include "input/reader.h"

namespace tav {

// Reads the user designs from source (the input file after "des [", or the design file) into
// run.designs, walking the model's submodels in their fixed order. Every call starts the stores
// afresh. Sets reader.command to "design_matrix" for the messages of the number readers.
//
// An association term (not the second term of a digit-5 pair, whose numbers its first term
// reads) with the numbers r c g after its model type takes, in this order: for r >= 1 the group
// (1 .. r) of each row category, for r < 0 |r| columns of row design values (column by column);
// for c the same over the column categories (c >= 1: 0 .. c), read after the last term of terms
// that share their column scores; for g >= 1 the layer group (0 .. g) of each layer, for g < 0
// |g| columns of layer design values.
void ReadDesigns(Reader& reader, DataRun& run, TextFile& source);

// The number of designs, association effects and restricted submodels of the model that take
// numbers from the design stream; 0 when the model needs no `des`.
int UserDesignCount(const DataRun& run);

// Model facts shared by the design reader and the settings section.

// A design's variable code as a signed value: 255 (a grouping variable) is -1, 254 is -2.
inline int SignedCode(std::uint8_t code) { return static_cast<std::int8_t>(code); }

// The product of the numbers of categories of the variables whose signed code in codes (a
// design or association vector, indexed by variable) equals code; 1 when there are none.
// Saturates at 1e18.
double CodedCells(const ModelState& model, const Membership& codes, int code);

// True when design index of submodel begins a parameter set of its own: the first design of
// its written effect that is not reserved. The further terms of an effect written with several
// terms, and the designs reserved by restriction letters, share the parameters before them.
bool IsFreeDesign(const Submodel& submodel, int index);

// The number of groups of a grouped design: the number after its interaction letter (its
// absolute value), or the product of the categories of its grouping variables.
int GroupCount(const ModelState& model, const Design& design);

// The signed code of the continuous covariate (the record-number variable) in the design's
// vector: 0 when the model has no covariate or the design does not use it.
int CovariateMark(const ModelState& model, const Design& design);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DESIGN_READER_H_
