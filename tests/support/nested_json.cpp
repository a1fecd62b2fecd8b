#include "support/nested_json.hpp"

namespace test_support {

std::string nested_json(int levels, std::string_view innermost) {
    std::string opening;
    std::string closing;
    for (int level = 0; level < levels; ++level) {
        const bool object = level % 2 == 0;
        opening += object ? R"({"k": )" : "[";
        closing += object ? '}' : ']';
    }
    return opening + std::string(innermost) + std::string(closing.rbegin(), closing.rend());
}

}  // namespace test_support
