#pragma once
// A property a fuzz target checks: a false one stops the run, and libFuzzer keeps the input.

namespace fuzz_support {

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace fuzz_support
