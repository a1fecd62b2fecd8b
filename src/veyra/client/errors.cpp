#include "veyra/client/errors.hpp"

#include <array>
#include <utility>

namespace veyra::client {

std::string refused_request_text(int status, std::string_view url, std::string_view body) {
    std::string text = std::to_string(status);
    text += status < 500 ? " Client Error: " : " Server Error: ";
    text += reason_phrase(status);
    text += " for url: ";
    // The first line ends at the first line break, so none may come from the address.
    for (char c : url) text += (c == '\n' || c == '\r') ? ' ' : c;
    text += '\n';
    text += body;
    return text;
}

std::string_view reason_phrase(int status) {
    static constexpr std::array<std::pair<int, std::string_view>, 40> phrases{{
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Request Entity Too Large"},
        {414, "Request-URI Too Long"},
        {415, "Unsupported Media Type"},
        {416, "Requested Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {418, "I'm a Teapot"},
        {421, "Misdirected Request"},
        {422, "Unprocessable Entity"},
        {423, "Locked"},
        {424, "Failed Dependency"},
        {425, "Too Early"},
        {426, "Upgrade Required"},
        {428, "Precondition Required"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
        {506, "Variant Also Negotiates"},
        {507, "Insufficient Storage"},
        {508, "Loop Detected"},
        {510, "Not Extended"},
        {511, "Network Authentication Required"},
    }};
    for (const auto& [code, phrase] : phrases) {
        if (code == status) return phrase;
    }
    return {};
}

}  // namespace veyra::client
