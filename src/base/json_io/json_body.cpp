#include "base/json_io/json_body.hpp"

#include <algorithm>
#include <boost/json/memory_resource.hpp>
#include <memory>
#include <vector>

#include "base/json_io/json_reader.hpp"

namespace json_io {
namespace json = boost::json;

namespace {

// A JSON document of strings and objects takes about 1.6 times its text in memory; the
// first block holds that with a little room, so a typical body needs one block only. A body
// whose bulk may stay text starts small, since its block lives as long as that text.
std::size_t first_block_size(std::size_t text_size, bool deferring) {
    return deferring ? text_size / 16 + 4096 : text_size / 4 * 7 + 4096;
}

// Hands out memory from one block, front to back, and from a block twice as large when that
// one is full; frees nothing before it goes itself.
class BodyArena : public json::memory_resource {
public:
    BodyArena(std::shared_ptr<const std::string> text, std::size_t size) : text_(std::move(text)) {
        add_block(size);
    }

private:
    void* do_allocate(std::size_t bytes, std::size_t align) override {
        void* at = next_;
        std::size_t room = static_cast<std::size_t>(end_ - next_);
        if (!std::align(align, bytes, at, room)) {
            add_block(std::max(bytes + align, 2 * last_size_));
            at = next_;
            room = static_cast<std::size_t>(end_ - next_);
            std::align(align, bytes, at, room);
        }
        next_ = static_cast<char*>(at) + bytes;
        return at;
    }
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const json::memory_resource& other) const noexcept override {
        return this == &other;
    }

    void add_block(std::size_t size) {
        // Left uninitialised: every byte handed out is written before it is read.
        blocks_.emplace_back(new char[size]);
        next_ = blocks_.back().get();
        end_ = next_ + size;
        last_size_ = size;
    }

    std::shared_ptr<const std::string> text_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t last_size_ = 0;
};

}  // namespace
}  // namespace json_io

// Values in a body's block need no freeing one by one, so their destructors skip the walk.
template <>
struct boost::json::is_deallocate_trivial<json_io::BodyArena> : std::true_type {};

namespace json_io {

JsonBody parse_json_body(std::shared_ptr<const std::string> text, boost::system::error_code& error,
                         std::span<const std::string> deferred_path) {
    const std::string_view characters = *text;
    auto arena = std::make_shared<BodyArena>(
        std::move(text), first_block_size(characters.size(), !deferred_path.empty()));
    DeferredArray deferred;
    // Constructed, never assigned: assigning a value across memory resources copies it.
    json::value document =
        read_json(characters, json::storage_ptr(arena.get()), error, deferred_path, deferred);
    return JsonBody{std::move(arena), std::move(document), std::move(deferred), deferred_path};
}

void JsonBody::build_deferred() {
    if (!deferred.found) return;
    deferred.found = false;
    // The array is where the reader left it, unless a preparer took part of the document
    // without the elements: then there is nowhere to put them.
    json::value* array = &document;
    for (const auto& key : deferred_path) {
        auto* object = array->if_object();
        array = object ? object->if_contains(key) : nullptr;
        if (!array) break;
    }
    if (array && array->is_array()) build_deferred_elements(deferred, array->get_array());
    deferred = DeferredArray();
}

}  // namespace json_io
