#include "host/auth.hpp"

#include <strings.h>

#include <random>

namespace host {
namespace {

bool equal_in_constant_time(std::string_view given, std::string_view token) {
    if (token.empty()) return false;
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
    }
    return difference == 0;
}

std::string_view scheme_value(std::string_view header) {
    for (std::string_view scheme : {"token ", "bearer "}) {
        if (header.size() > scheme.size() &&
            strncasecmp(header.data(), scheme.data(), scheme.size()) == 0) {
            header.remove_prefix(scheme.size());
            while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
            while (!header.empty() && header.back() == ' ') header.remove_suffix(1);
            return header;
        }
    }
    return {};
}

}  // namespace

std::string make_token() {
    std::random_device device;
    constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 48; ++i) token.push_back(kHex[device() & 0xF]);
    return token;
}

bool is_authenticated(const Fields& query, const Fields& headers, std::string_view token) {
    for (const auto& [name, value] : query) {
        if (name == "token" && equal_in_constant_time(value, token)) return true;
    }
    for (const auto& [name, value] : headers) {
        if (name.size() == 13 && strncasecmp(name.data(), "Authorization", 13) == 0 &&
            equal_in_constant_time(scheme_value(value), token)) {
            return true;
        }
    }
    return false;
}

}  // namespace host
