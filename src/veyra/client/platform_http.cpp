#include "veyra/client/platform_http.hpp"

#include <curl/curl.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <memory>
#include <stdexcept>

#include "base/json_io/json_text.hpp"
#include "veyra/client/errors.hpp"

namespace veyra::client {
namespace {

std::atomic<bool> requests_abandoned{false};

int abandon_when_asked(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return requests_abandoned ? 1 : 0;
}

// An answer larger than this is no answer of the platform's API; stop reading it.
constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;

std::atomic<std::chrono::milliseconds::rep> connect_timeout_ms{5000};
std::atomic<std::chrono::milliseconds::rep> total_timeout_ms{30000};

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct AnswerBody {
    std::string text;
    bool too_large = false;
};

size_t collect_answer(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<AnswerBody*>(user);
    size_t bytes = size * count;
    if (answer->text.size() + bytes > kMaxAnswerBytes) {
        answer->too_large = true;
        return 0;  // makes curl stop with CURLE_WRITE_ERROR
    }
    answer->text.append(data, bytes);
    return bytes;
}

// Failures where nothing usable came back from the address: the platform counts as
// unreachable (ConnectionError) rather than as refusing (RequestException).
bool is_connection_failure(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_TOO_MANY_REDIRECTS:
            return true;
        default:
            return false;
    }
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

void set_timeouts(Timeouts timeouts) {
    connect_timeout_ms = timeouts.connect.count();
    total_timeout_ms = timeouts.total.count();
}

Timeouts timeouts() {
    return {std::chrono::milliseconds(connect_timeout_ms),
            std::chrono::milliseconds(total_timeout_ms)};
}

boost::json::value send_platform_request(const PlatformRequest& request) {
    static CurlGlobal curl_global;

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) throw std::runtime_error("Cannot start an HTTP request to Veyra.");
    CURL* curl = easy.get();
    std::string url(request.url);
    Timeouts limits = timeouts();

    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    std::unique_ptr<curl_slist, HeaderListDeleter> header_list(headers);
    auto add_header = [&](const std::string& header) {
        curl_slist* grown = curl_slist_append(header_list.get(), header.c_str());
        if (grown == nullptr) throw std::bad_alloc();
        // curl appends in place: the owner takes the list back without freeing it.
        static_cast<void>(header_list.release());
        header_list.reset(grown);
    };
    // Without this curl waits a second for "100 Continue" before sending a body.
    add_header("Expect:");
    if (request.bearer_token) {
        if (has_line_break(*request.bearer_token)) {
            throw std::runtime_error("The stored Veyra token is damaged; log in again.");
        }
        add_header("Authorization: Bearer " + std::string(*request.bearer_token));
    }

    std::string body_text;
    if (request.body != nullptr) {
        body_text = json_io::to_json_text(*request.body);
        add_header("Content-Type: application/json");
    }

    AnswerBody answer;
    char error_text[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // timeouts must not raise signals in threads
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, header_list.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect_answer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_text.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body_text.c_str());
    }

    // Asked about every second at least, and whenever data moves.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abandon_when_asked);

    if (requests_abandoned)
        throw ConnectionError("Cannot reach Veyra at " + url + ": the server is stopping");
    CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        throw ConnectionError("Cannot reach Veyra at " + url + ": the server is stopping");
    }
    if (code == CURLE_WRITE_ERROR && answer.too_large) {
        throw std::runtime_error("The answer of Veyra at " + url + " is larger than 16 MiB.");
    }
    if (code != CURLE_OK) {
        std::string reason = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
        std::string text = "Cannot reach Veyra at " + url + ": " + reason;
        if (is_connection_failure(code)) throw ConnectionError(text);
        throw std::runtime_error(text);
    }

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        throw RequestException(refused_request_text(static_cast<int>(status), url, answer.text));
    }
    if (answer.text.empty()) return nullptr;
    boost::system::error_code error;
    boost::json::value document = boost::json::parse(answer.text, error);
    if (error) {
        throw std::runtime_error("Veyra at " + url + " answered with a body that is not JSON.");
    }
    return document;
}

void abandon_platform_requests() { requests_abandoned = true; }

}  // namespace veyra::client
