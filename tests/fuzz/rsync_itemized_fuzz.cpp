// rsync's itemized output in any shape: every line becomes at most one change with a known
// status and a one-line name, or the parse refuses it with a runtime_error; nothing else
// escapes.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "datasets/rsync_itemized.hpp"
#include "fuzz_check.hpp"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view itemized(reinterpret_cast<const char*>(data), size);
    try {
        const auto changes = datasets::parse_itemized_changes(itemized);
        std::size_t lines = 1;
        for (char c : itemized) lines += c == '\n';
        check(changes.size() <= lines);
        for (const auto& change : changes) {
            check(change.status == "added" || change.status == "deleted" ||
                  change.status == "edited");
            check(change.path.find('\n') == std::string::npos);
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
