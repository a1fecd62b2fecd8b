#include "veyra/platform_failure.hpp"

#include <exception>

#include "veyra/client/errors.hpp"

namespace veyra {

std::optional<PlatformFailure> run_platform_call(const std::function<void()>& call) {
    try {
        call();
        return std::nullopt;
    } catch (const client::ConnectionError&) {
        return PlatformFailure{
            FailureKind::connection, host::HTTPStatus::BAD_GATEWAY, "Veyra URL is invalid.", {}};
    } catch (const client::RefusedRequest& refused) {
        // A status no HTTP answer may carry is the platform's fault, told as such.
        if (refused.status() > 599) {
            return PlatformFailure{
                FailureKind::other, host::HTTPStatus::INTERNAL_SERVER_ERROR, refused.what(), {}};
        }
        return PlatformFailure{FailureKind::refused,
                               static_cast<host::HTTPStatus>(refused.status()), refused.message(),
                               refused.body()};
    } catch (const std::exception& failure) {
        return PlatformFailure{
            FailureKind::other, host::HTTPStatus::INTERNAL_SERVER_ERROR, failure.what(), {}};
    }
}

boost::json::object error_answer(const PlatformFailure& failure) {
    return boost::json::object{{"error", failure.message}};
}

}  // namespace veyra
