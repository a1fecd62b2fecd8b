#include "nuvex_link/server/handlers/veyra/operation_turn.hpp"

namespace nuvex_link::server::handlers::veyra {

std::mutex& veyra_operation_turn() {
    static std::mutex turn;
    return turn;
}

}  // namespace nuvex_link::server::handlers::veyra
