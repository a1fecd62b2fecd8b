#include "veyra/operation_turn.hpp"

namespace veyra {

std::mutex& veyra_operation_turn() {
    static std::mutex turn;
    return turn;
}

}  // namespace veyra
