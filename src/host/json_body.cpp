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

json::value parse_json_body(std::string_view text, boost::system::error_code& error) {
    auto arena = json::make_shared_resource<BodyArena>(first_block_size(text.size()));
    return read_json(text, std::move(arena), error);
}

}  // namespace host
