#pragma once
// The end rules of the modern types (pictures, audio and video, archives,
// databases and office documents), and the ZIP walk they share with the
// table's ZIP row.
#include "raw/exact_end.h"

namespace dravolin {

ExactEnd findModernEnd(EndRule rule, CandidateBytes& bytes, std::uint64_t limit);
// A ZIP from its first local header to the end of its end record's comment.
ExactEnd zipEnd(CandidateBytes& bytes, std::uint64_t limit);

}  // namespace dravolin
