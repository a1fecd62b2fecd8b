#include "host/json_reader.hpp"

#include <boost/json/error.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value_stack.hpp>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace host {
namespace json = boost::json;

namespace {

// The nesting boost::json::parse allows by default.
constexpr int kMaxDepth = 32;

// Raised inside the reader only; read_json turns it into an error code.
struct Malformed {};
// A number whose exponent is so large that whether boost::json::parse takes it depends on
// the details of its arithmetic: read_json then leaves the document to it.
struct Unusual {};

// Below these, a number's decimal exponent cannot overflow boost::json::parse's 32 bits.
constexpr std::size_t kMaxExponentDigits = 9;
constexpr std::size_t kMaxOwnText = 100'000'000;
// Past the decoding buffer's end, for copies that overshoot.
constexpr std::size_t kSpareRoom = 32;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first byte at or after `at` that ends a run of plain string characters: a quote, a
// backslash, a control character or the start of a multi-byte character.
const char* find_special(const char* at, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - at >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        // Signed comparison: bytes from 0x80 up count as negative, so below 0x20 too.
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
            _mm_cmplt_epi8(chunk, space));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0) return at + __builtin_ctz(static_cast<unsigned>(mask));
        at += 16;
    }
#endif
    for (; at != end; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return at;
    }
    return end;
}

double to_double(const char* first, const char* last) {
    double value = 0;
    const auto [stop, error] = std::from_chars(first, last, value);
    if (error == std::errc() && stop == last) return value;
    // Beyond the range of a double: strtod gives infinity or zero with the text's sign.
    const std::string text(first, last);
    return std::strtod(text.c_str(), nullptr);
}

class Reader {
public:
    Reader(std::string_view text, json::storage_ptr storage)
        : at_(text.data()),
          end_(text.data() + text.size()),
          text_size_(text.size()),
          stack_(json::storage_ptr(), scratch_stack_, sizeof scratch_stack_) {
        stack_.reset(std::move(storage));
    }

    json::value read() {
        skip_space();
        value(0);
        skip_space();
        if (at_ != end_) throw Malformed{};
        return stack_.release();
    }

private:
    char peek() const {
        if (at_ == end_) throw Malformed{};
        return *at_;
    }

    void expect(char c) {
        if (peek() != c) throw Malformed{};
        ++at_;
    }

    void skip_space() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
    }

    void value(int depth) {
        switch (peek()) {
            case '{':
                return object(depth + 1);
            case '[':
                return array(depth + 1);
            case '"':
                ++at_;
                stack_.push_string(string());
                return;
            case 't':
                literal("true");
                return stack_.push_bool(true);
            case 'f':
                literal("false");
                return stack_.push_bool(false);
            case 'n':
                literal("null");
                return stack_.push_null();
            default:
                return number();
        }
    }

    void object(int depth) {
        if (depth > kMaxDepth) throw Malformed{};
        stack_.push_object(elements('}', [&] {
            expect('"');
            stack_.push_key(string());
            skip_space();
            expect(':');
            skip_space();
            value(depth);
        }));
    }

    void array(int depth) {
        if (depth > kMaxDepth) throw Malformed{};
        stack_.push_array(elements(']', [&] { value(depth); }));
    }

    // The comma-separated elements of an object or array (`at_` is on its opening bracket),
    // up to the closing one; returns how many there were.
    template <class Element>
    std::size_t elements(char close, Element element) {
        ++at_;
        skip_space();
        std::size_t count = 0;
        if (peek() == close) {
            ++at_;
            return count;
        }
        while (true) {
            element();
            ++count;
            skip_space();
            if (peek() == close) {
                ++at_;
                return count;
            }
            expect(',');
            skip_space();
        }
    }

    void literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - at_) < word.size() ||
            std::memcmp(at_, word.data(), word.size()) != 0) {
            throw Malformed{};
        }
        at_ += word.size();
    }

    // The characters up to the closing quote (`at_` is just past the opening one). Without
    // escapes they are a view of the text itself; otherwise they are decoded into a buffer
    // as long as the text (nothing decodes longer than it was written), valid until the next
    // string.
    std::string_view string() {
        const char* run = at_;
        char* decoded = nullptr;
        while (true) {
            at_ = find_special(at_, end_);
            if (at_ == end_) throw Malformed{};
            const auto c = static_cast<unsigned char>(*at_);
            if (c == '"') {
                std::string_view result(run, static_cast<std::size_t>(at_ - run));
                if (decoded) {
                    copy_run(run);
                    result = std::string_view(decoded, static_cast<std::size_t>(out_ - decoded));
                }
                ++at_;
                return result;
            }
            if (c == '\\') {
                if (!decoded) {
                    if (!decoded_) decoded_.reset(new char[text_size_ + kSpareRoom]);  // not zeroed
                    decoded = out_ = decoded_.get();
                }
                copy_run(run);
                ++at_;
                escape();
                run = at_;
            } else if (c >= 0x80) {
                utf8_character();
            } else {
                throw Malformed{};  // a control character must be escaped
            }
        }
    }

    // Runs between escapes are short: up to 32 bytes go in two 16-byte moves (reading and
    // writing a little past the run, inside the text and the buffer's spare room).
    void copy_run(const char* run) {
        const auto size = static_cast<std::size_t>(at_ - run);
#if defined(__SSE2__)
        if (size <= 32 && end_ - run >= 32) {
            const auto* from = reinterpret_cast<const __m128i*>(run);
            auto* to = reinterpret_cast<__m128i*>(out_);
            _mm_storeu_si128(to, _mm_loadu_si128(from));
            _mm_storeu_si128(to + 1, _mm_loadu_si128(from + 1));
            out_ += size;
            return;
        }
#endif
        std::memcpy(out_, run, size);
        out_ += size;
    }

    // One UTF-8 character of two to four bytes, as RFC 3629 allows them: no overlong forms,
    // no surrogates, nothing above U+10FFFF.
    void utf8_character() {
        const auto byte = [&](std::ptrdiff_t index, unsigned low, unsigned high) {
            if (end_ - at_ <= index) throw Malformed{};
            const auto b = static_cast<unsigned char>(at_[index]);
            if (b < low || b > high) throw Malformed{};
        };
        const auto lead = static_cast<unsigned char>(*at_);
        int size = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            size = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            byte(1, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF);
            size = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            byte(1, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF);
            size = 4;
        } else {
            throw Malformed{};
        }
        for (int index = size == 2 ? 1 : 2; index < size; ++index) byte(index, 0x80, 0xBF);
        at_ += size;
    }

    // After a backslash: appends the character the escape stands for.
    void escape() {
        const char c = peek();
        ++at_;
        switch (c) {
            case '"':
            case '\\':
            case '/':
                *out_++ = c;
                return;
            case 'b':
                *out_++ = '\b';
                return;
            case 'f':
                *out_++ = '\f';
                return;
            case 'n':
                *out_++ = '\n';
                return;
            case 'r':
                *out_++ = '\r';
                return;
            case 't':
                *out_++ = '\t';
                return;
            case 'u':
                return append_utf8(code_point());
            default:
                throw Malformed{};
        }
    }

    // \uXXXX, or a pair of them for a character above U+FFFF; a lone surrogate is refused.
    std::uint32_t code_point() {
        std::uint32_t code = hex4();
        if (code >= 0xDC00 && code <= 0xDFFF) throw Malformed{};
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') throw Malformed{};
            at_ += 2;
            const std::uint32_t low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) throw Malformed{};
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        return code;
    }

    std::uint32_t hex4() {
        if (end_ - at_ < 4) throw Malformed{};
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *at_++;
            std::uint32_t digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                throw Malformed{};
            }
            code = code << 4 | digit;
        }
        return code;
    }

    void append_utf8(std::uint32_t code) {
        if (code < 0x80) {
            *out_++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *out_++ = static_cast<char>(0xC0 | code >> 6);
            *out_++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out_++ = static_cast<char>(0xE0 | code >> 12);
            *out_++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *out_++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out_++ = static_cast<char>(0xF0 | code >> 18);
            *out_++ = static_cast<char>(0x80 | (code >> 12 & 0x3F));
            *out_++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *out_++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // Integers become int64 when they fit, else uint64 when they fit, else double, as
    // boost::json::parse makes them ("-0" is the integer 0).
    void number() {
        const char* start = at_;
        const bool negative = *at_ == '-';
        if (negative) ++at_;
        const char* digits = at_;
        if (peek() == '0') {
            ++at_;
        } else if (is_digit(*at_)) {
            while (at_ != end_ && is_digit(*at_)) ++at_;
        } else {
            throw Malformed{};
        }
        const char* digits_end = at_;
        bool integer = true;
        if (at_ != end_ && *at_ == '.') {
            ++at_;
            integer = false;
            if (!is_digit(peek())) throw Malformed{};
            while (at_ != end_ && is_digit(*at_)) ++at_;
        }
        if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
            ++at_;
            integer = false;
            if (peek() == '+' || *at_ == '-') ++at_;
            if (!is_digit(peek())) throw Malformed{};
            while (at_ != end_ && *at_ == '0') ++at_;
            const char* significant = at_;
            while (at_ != end_ && is_digit(*at_)) ++at_;
            if (static_cast<std::size_t>(at_ - significant) > kMaxExponentDigits) throw Unusual{};
        }
        if (integer && push_integer(digits, digits_end, negative)) return;
        stack_.push_double(to_double(start, at_));
    }

    bool push_integer(const char* digits, const char* digits_end, bool negative) {
        std::uint64_t magnitude = 0;
        for (const char* at = digits; at != digits_end; ++at) {
            if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                __builtin_add_overflow(magnitude, static_cast<unsigned>(*at - '0'), &magnitude)) {
                return false;
            }
        }
        constexpr auto kInt64Max = static_cast<std::uint64_t>(INT64_MAX);
        if (!negative) {
            if (magnitude <= kInt64Max) {
                stack_.push_int64(static_cast<std::int64_t>(magnitude));
            } else {
                stack_.push_uint64(magnitude);
            }
            return true;
        }
        if (magnitude > kInt64Max + 1) return false;
        stack_.push_int64(magnitude == kInt64Max + 1 ? INT64_MIN
                                                     : -static_cast<std::int64_t>(magnitude));
        return true;
    }

    const char* at_;
    const char* end_;
    std::size_t text_size_;
    // The reader's working stack starts in this buffer; a large document grows it on the heap.
    unsigned char scratch_stack_[8192] = {};
    json::value_stack stack_;
    std::unique_ptr<char[]> decoded_;
    char* out_ = nullptr;
};

}  // namespace

json::value read_json(std::string_view text, json::storage_ptr storage,
                      boost::system::error_code& error) {
    if (text.size() > kMaxOwnText) return json::parse(text, error, std::move(storage));
    try {
        Reader reader(text, storage);
        return reader.read();
    } catch (const Malformed&) {
        error = json::error::syntax;
        return nullptr;
    } catch (const Unusual&) {
        return json::parse(text, error, std::move(storage));
    }
}

}  // namespace host
