#include "cache/cache_compress_thread.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "cache/parallel_gzip_writer.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using namespace cache;
using test_support::TempDir;
using test_support::write_file;

namespace {

// Half text, half noise, so that blocks compress very differently.
std::string mixed_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        if ((bytes.size() / 40000) % 2 == 0) {
            bytes += "row," + std::to_string(random() % 1000) + ",value\n";
        } else {
            bytes.push_back(static_cast<char>(random()));
        }
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace

TEST(ParallelGzipWriter, ManyBlocksReadBackAsOneGzipStream) {
    TempDir dir;
    const std::string input = mixed_bytes(3'000'000, 7);
    const fs::path path = dir.path() / "data.gz";
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        ParallelGzipWriter writer(fileno(file), 3, 6, 64 * 1024);
        // Uneven pieces, so that blocks are cut inside a write.
        for (std::size_t at = 0; at < input.size(); at += 99'991) {
            writer.write(input.data() + at, std::min<std::size_t>(99'991, input.size() - at));
        }
        writer.finish();
        std::fclose(file);
    }
    gzFile gz = gzopen(path.c_str(), "rb");
    std::string output(input.size() + 1, '\0');
    int got = gzread(gz, output.data(), static_cast<unsigned>(output.size()));
    gzclose(gz);
    ASSERT_EQ(got, static_cast<int>(input.size()));
    output.resize(static_cast<std::size_t>(got));
    EXPECT_TRUE(output == input);
}

TEST(CacheCompressThread, StopEndsTheWorkerEarly) {
    TempDir dir;
    write_file(dir.path() / "pipeline.json", "{}");
    write_file(dir.path() / "cache" / "big.bin", mixed_bytes(20'000'000, 5));
    CacheCompressThread worker(dir.path() / "out.tar.gz",
                               {dir.path() / "pipeline.json", "pipeline.json"},
                               {{dir.path() / "cache", "component-a"}});
    worker.start();
    worker.stop();
    worker.join();
    EXPECT_TRUE(worker.is_stopped());
    EXPECT_TRUE(worker.failure());
}
