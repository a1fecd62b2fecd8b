#include "veyra/platform_failure.hpp"

#include <exception>

#include "veyra/client/errors.hpp"
#include "veyra/veyra_exception.hpp"

namespace veyra {

std::optional<PlatformFailure> run_platform_call(const std::function<void()>& call) {
    try {
        call();
        return std::nullopt;
    } catch (const veyra::client::ConnectionError&) {
        return PlatformFailure{FailureKind::connection, host::HTTPStatus::BAD_GATEWAY,
                               "Veyra URL is invalid."};
    } catch (const veyra::client::RequestException& refused) {
        auto [status, message] = parse_veyra_exception(refused.what());
        return PlatformFailure{FailureKind::refused, status, std::move(message)};
    } catch (const std::exception& failure) {
        return PlatformFailure{FailureKind::other, host::HTTPStatus::INTERNAL_SERVER_ERROR,
                               failure.what()};
    }
}

boost::json::object error_answer(const PlatformFailure& failure) {
    return boost::json::object{{"error", failure.message}};
}

}  // namespace veyra
