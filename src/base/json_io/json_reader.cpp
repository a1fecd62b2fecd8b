// Deferred components, the reader's part. Three files must agree: for each element of a
// deferred array this reader checks the text as it would check it built, counts its depth as
// in the whole text, notes each member's kind and text, and adds up the members' fingerprint
// parts (digest_value); the fingerprint rules (json_fingerprint.cpp) must make those parts
// into the fingerprint of the element built as a value; the pipeline model
// (pipeline/deferred_components.cpp) completes them with its defaults. When the
// reader's parts and json_fingerprint disagree,
// JsonReader.DefersTheArrayAtThePathWithWhatEachElementHolds fails (json_reader_fuzz finds it
// too); when what the reader notes misleads the model,
// PipelineModel.ComponentsReadAsTextAreTheComponentsReadAsObjects does (and pipeline_model_fuzz).

#include "base/json_io/json_reader.hpp"

#include <boost/json/error.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value_stack.hpp>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace json_io {
namespace json = boost::json;

namespace {

// Raised inside the reader only; read_json turns them into error codes.
struct Malformed {};
struct TooDeep {};
// An element of a deferred array that has to be built after all (it is not an object, or
// something in it is unusual): the reader then builds the whole array.
struct NotDeferrable {};
// A number whose exponent is so large that whether boost::json::parse takes it depends on
// the details of its arithmetic: read_json then leaves the document to it.
struct Unusual {};

// Below these, a number's decimal exponent cannot overflow boost::json::parse's 32 bits.
constexpr std::size_t kMaxExponentDigits = 9;
constexpr std::size_t kMaxOwnText = 100'000'000;
// Past the decoding buffer's end, for copies that overshoot.
constexpr std::size_t kSpareRoom = 32;
// Repeated keys are looked for among this many per object of a deferred element; a larger
// object has the array built.
constexpr std::size_t kMaxDeferredKeys = 64;

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

// A number as boost::json::parse makes it.
struct Number {
    json::kind kind;
    std::int64_t signed_value = 0;
    std::uint64_t unsigned_value = 0;
    double real = 0;
};

// Where an array to defer lies, and where its elements go.
struct Deferral {
    std::span<const std::string> path;
    DeferredArray& out;
    // The path came up twice (a repeated key): which one the document keeps is the
    // document's business, so the text is read again without deferring.
    bool repeated = false;
};

class Reader {
public:
    // The scratch stack is left uninitialised: components read one by one each make a reader.
    // cppcheck-suppress uninitMemberVar
    Reader(std::string_view text, json::storage_ptr storage, Deferral* deferral)
        : at_(text.data()),
          end_(text.data() + text.size()),
          text_size_(text.size()),
          stack_(json::storage_ptr(), scratch_stack_, sizeof scratch_stack_),
          deferral_(deferral) {
        stack_.reset(std::move(storage));
    }

    json::value read() {
        skip_space();
        value(0, deferral_ != nullptr);
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

    // `on_path`: the value lies where the deferred array's path leads, so far.
    void value(int depth, bool on_path = false) {
        switch (peek()) {
            case '{':
                return object(depth + 1, on_path);
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

    void object(int depth, bool on_path) {
        check_depth(depth);
        stack_.push_object(elements('}', [&] {
            expect('"');
            const std::string_view key = string();
            stack_.push_key(key);
            skip_space();
            expect(':');
            skip_space();
            const auto& path = on_path ? deferral_->path : std::span<const std::string>();
            const auto step = static_cast<std::size_t>(depth) - 1;
            if (step >= path.size() || key != path[step]) return value(depth);
            // A key of the path again, after the array was deferred: the document may keep
            // this value instead.
            if (deferral_->out.found) deferral_->repeated = true;
            if (step + 1 < path.size()) return value(depth, true);
            if (peek() != '[') return value(depth);
            deferred_array(depth);
        }));
    }

    // The array the deferral's path leads to: its elements are digested, or, when one of
    // them cannot be, read again and built. What it saves, measured with
    // bench/pipeline_post_bench (BM_ParseAndPrepare: reading a DAG POST of 200 components,
    // 133 KB, into the pipeline model and tearing it down; CPU time, median of 10, four runs
    // with and without deferring in turn): 67 us deferred against 103 us built, a third of
    // the network thread's work per POST. Comparing with the stored version
    // (BM_CompareVersions, 5.8 us) costs the same either way.
    void deferred_array(int depth) {
        DeferredArray& out = deferral_->out;
        const char* start = at_;
        try {
            out.elements.clear();
            out.members.clear();
            check_depth(depth + 1);
            elements(']', [&] { deferred_element(depth + 1); });
            stack_.push_array(0);
            out.found = true;
        } catch (const NotDeferrable&) {
            at_ = start;
            key_parts_.clear();
            out.found = false;
            array(depth + 1);
        }
    }

    void deferred_element(int depth) {
        if (peek() != '{') throw NotDeferrable{};
        DeferredArray& out = deferral_->out;
        DeferredElement element;
        element.first_member = static_cast<std::uint32_t>(out.members.size());
        const char* start = at_;
        digest_members(depth + 1, element.member_sum, [&](std::string_view key) {
            DeferredMember member{key, json::kind::null, {}, false};
            const char* value_start = at_;
            const auto part = digest_value(depth + 1, &member);
            if (member.kind != json::kind::string) member.text = {value_start, at_};
            out.members.push_back(member);
            return part;
        });
        element.member_count =
            static_cast<std::uint32_t>(out.members.size()) - element.first_member;
        element.text = {start, at_};
        out.elements.push_back(element);
    }

    // A value's fingerprint part, the value read but not built. With `member`, its kind and
    // text are noted there.
    fingerprint::Part digest_value(int depth, DeferredMember* member = nullptr) {
        const auto note = [&](json::kind kind) {
            if (member) member->kind = kind;
        };
        switch (peek()) {
            case '{': {
                note(json::kind::object);
                fingerprint::Part sum;
                const std::size_t size = digest_members(
                    depth + 1, sum, [&](std::string_view) { return digest_value(depth + 1); });
                return fingerprint::object_end(sum, size);
            }
            case '[': {
                note(json::kind::array);
                check_depth(depth + 1);
                fingerprint::Part array = fingerprint::array_start();
                const std::size_t size = elements(']', [&] {
                    array = fingerprint::array_element(array, digest_value(depth + 1));
                });
                return fingerprint::array_end(array, size);
            }
            case '"': {
                note(json::kind::string);
                const char* start = ++at_;
                const std::string_view characters = string();
                if (member) {
                    member->text = {start, at_ - 1};
                    member->escaped = characters.data() != start;
                }
                return fingerprint::text(characters);
            }
            case 't':
                note(json::kind::bool_);
                literal("true");
                return fingerprint::boolean(true);
            case 'f':
                note(json::kind::bool_);
                literal("false");
                return fingerprint::boolean(false);
            case 'n':
                note(json::kind::null);
                literal("null");
                return fingerprint::null_value();
            default: {
                Number number;
                try {
                    number = read_number();
                } catch (const Unusual&) {
                    throw NotDeferrable{};
                }
                note(number.kind);
                switch (number.kind) {
                    case json::kind::int64:
                        return fingerprint::integer(number.signed_value);
                    case json::kind::uint64:
                        return fingerprint::unsigned_integer(number.unsigned_value);
                    default:
                        return fingerprint::real(number.real);
                }
            }
        }
    }

    // The members of an object (`at_` on its '{') added up into `sum`; each value is read by
    // `value_part(key)`. Returns how many there were. Keys must be unescaped and distinct.
    template <class ValuePart>
    std::size_t digest_members(int depth, fingerprint::Part& sum, ValuePart value_part) {
        check_depth(depth);
        const std::size_t first_key = key_parts_.size();
        const std::size_t size = elements('}', [&] {
            expect('"');
            const char* start = at_;
            const std::string_view key = string();
            if (key.data() != start) throw NotDeferrable{};
            const fingerprint::Part key_part = fingerprint::text(key);
            for (std::size_t at = first_key; at < key_parts_.size(); ++at) {
                if (key_parts_[at] == key_part.first) throw NotDeferrable{};
            }
            if (key_parts_.size() - first_key == kMaxDeferredKeys) throw NotDeferrable{};
            key_parts_.push_back(key_part.first);
            skip_space();
            expect(':');
            skip_space();
            fingerprint::add_member(sum, fingerprint::member(key_part, value_part(key)));
        });
        key_parts_.resize(first_key);
        return size;
    }

    void array(int depth) {
        check_depth(depth);
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

    // Every level of nesting is a level of recursion here and in whatever walks the values
    // later: the limit keeps a hostile body from overflowing the stack.
    static void check_depth(int depth) {
        if (depth > kMaxNestingDepth) throw TooDeep{};
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

    void number() {
        const Number number = read_number();
        switch (number.kind) {
            case json::kind::int64:
                return stack_.push_int64(number.signed_value);
            case json::kind::uint64:
                return stack_.push_uint64(number.unsigned_value);
            default:
                return stack_.push_double(number.real);
        }
    }

    // Integers become int64 when they fit, else uint64 when they fit, else double, as
    // boost::json::parse makes them ("-0" is the integer 0).
    Number read_number() {
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
        if (integer) {
            if (const auto exact = integer_of(digits, digits_end, negative)) return *exact;
        }
        return Number{json::kind::double_, 0, 0, to_double(start, at_)};
    }

    static std::optional<Number> integer_of(const char* digits, const char* digits_end,
                                            bool negative) {
        std::uint64_t magnitude = 0;
        for (const char* at = digits; at != digits_end; ++at) {
            if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                __builtin_add_overflow(magnitude, static_cast<unsigned>(*at - '0'), &magnitude)) {
                return std::nullopt;
            }
        }
        constexpr auto kInt64Max = static_cast<std::uint64_t>(INT64_MAX);
        if (!negative) {
            if (magnitude <= kInt64Max) {
                return Number{json::kind::int64, static_cast<std::int64_t>(magnitude)};
            }
            return Number{json::kind::uint64, 0, magnitude};
        }
        if (magnitude > kInt64Max + 1) return std::nullopt;
        return Number{json::kind::int64, magnitude == kInt64Max + 1
                                             ? INT64_MIN
                                             : -static_cast<std::int64_t>(magnitude)};
    }

    const char* at_;
    const char* end_;
    std::size_t text_size_;
    // The reader's working stack starts in this buffer; a large document grows it on the heap.
    unsigned char scratch_stack_[8192];
    json::value_stack stack_;
    std::unique_ptr<char[]> decoded_;
    char* out_ = nullptr;
    Deferral* deferral_;
    // The first halves of the fingerprint parts of the keys of the deferred element's
    // objects being read, innermost last.
    std::vector<std::uint64_t> key_parts_;
};

json::value parse_with_boost(std::string_view text, json::storage_ptr storage,
                             boost::system::error_code& error) {
    return json::parse(text, error, std::move(storage), reader_parse_options());
}

}  // namespace

json::parse_options reader_parse_options() {
    json::parse_options options;
    options.max_depth = kMaxNestingDepth;
    return options;
}

json::value read_json(std::string_view text, json::storage_ptr storage,
                      boost::system::error_code& error) {
    DeferredArray none;
    return read_json(text, std::move(storage), error, {}, none);
}

json::value read_json(std::string_view text, json::storage_ptr storage,
                      boost::system::error_code& error, std::span<const std::string> path,
                      DeferredArray& deferred) {
    deferred.found = false;
    if (text.size() > kMaxOwnText) return parse_with_boost(text, std::move(storage), error);
    try {
        Deferral deferral{path, deferred};
        Reader reader(text, storage, path.empty() ? nullptr : &deferral);
        json::value document = reader.read();
        if (!deferral.repeated) return document;
        deferred = DeferredArray();
        Reader again(text, storage, nullptr);
        return again.read();
    } catch (const Malformed&) {
        deferred = DeferredArray();
        error = json::error::syntax;
        return nullptr;
    } catch (const TooDeep&) {
        deferred = DeferredArray();
        error = json::error::too_deep;
        return nullptr;
    } catch (const Unusual&) {
        deferred = DeferredArray();
        return parse_with_boost(text, std::move(storage), error);
    }
}

void build_deferred_elements(const DeferredArray& deferred, json::array& array) {
    array.reserve(array.size() + deferred.elements.size());
    for (const auto& element : deferred.elements) {
        // Read once already, so each reads again without fail.
        boost::system::error_code ignored;
        array.push_back(read_json(element.text, array.storage(), ignored));
    }
}

}  // namespace json_io
