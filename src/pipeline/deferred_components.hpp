#pragma once
// The pipeline model's part of reading components that the body reader left as text: a
// posted pipeline's components become models without being built into objects.

#include <vector>

#include "base/json_io/deferred_array.hpp"
#include "pipeline/models.hpp"

namespace pipeline {

// A component kept as text reads as usual when check_component would take it without a
// failure and the fields the model reads are written without escapes: then it is added to
// `components` and true is returned. Anything else is left to be built and checked as an
// object, which gives the failure texts.
bool add_usual_component(std::vector<NuvexLinkComponentModel>& components,
                         const json_io::DeferredArray& array,
                         const json_io::DeferredElement& element);

}  // namespace pipeline
