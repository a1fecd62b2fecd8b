#include "nuvex_link/server/handlers/veyra/platform_failure.hpp"

#include <exception>

#include "nuvex_link/server/misc/veyra_exception.hpp"
#include "nuvex_link/veyra/errors.hpp"

namespace nuvex_link::server::handlers::veyra {

std::optional<PlatformFailure> run_platform_call(const std::function<void()>& call) {
    try {
        call();
        return std::nullopt;
    } catch (const nuvex_link::veyra::ConnectionError&) {
        return PlatformFailure{FailureKind::connection, host::HTTPStatus::BAD_GATEWAY,
                               "Veyra URL is invalid."};
    } catch (const nuvex_link::veyra::RequestException& refused) {
        auto [status, message] = misc::parse_veyra_exception(refused.what());
        return PlatformFailure{FailureKind::refused, status, std::move(message)};
    } catch (const std::exception& failure) {
        return PlatformFailure{FailureKind::other, host::HTTPStatus::INTERNAL_SERVER_ERROR,
                               failure.what()};
    }
}

boost::json::object error_answer(const PlatformFailure& failure) {
    return boost::json::object{{"error", failure.message}};
}

}  // namespace nuvex_link::server::handlers::veyra
