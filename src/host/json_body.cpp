#include "host/json_body.hpp"

#include <boost/json/monotonic_resource.hpp>
#include <memory>

#include "host/json_reader.hpp"

namespace host {
namespace json = boost::json;

namespace {

// A JSON document of strings and objects takes about 1.6 times its text in memory; the
// first block holds that with a little room, so a typical body needs one block only.
std::size_t first_block_size(std::size_t text_size) { return text_size / 4 * 7 + 4096; }

// A monotonic resource over a block of its own.
class BodyArena : public json::memory_resource {
public:
    explicit BodyArena(std::size_t size)
        : block_(new unsigned char[size]), monotonic_(block_.get(), size) {}

private:
    void* do_allocate(std::size_t bytes, std::size_t align) override {
        return monotonic_.allocate(bytes, align);
    }
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const json::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::unique_ptr<unsigned char[]> block_;
    json::monotonic_resource monotonic_;
};

}  // namespace
}  // namespace host

// Values in a body's block need no freeing one by one, so their destructors skip the walk.
template <>
struct boost::json::is_deallocate_trivial<host::BodyArena> : std::true_type {};

namespace host {

JsonBody parse_json_body(std::string_view text, boost::system::error_code& error) {
    auto arena = std::make_shared<BodyArena>(first_block_size(text.size()));
    // Constructed, never assigned: assigning a value across memory resources copies it.
    json::value document = read_json(text, json::storage_ptr(arena.get()), error);
    return JsonBody{std::move(arena), std::move(document)};
}

}  // namespace host
