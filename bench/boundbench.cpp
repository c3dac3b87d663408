// The least any tester of a tree of zip archives must do: every entry of every archive
// inflated and its CRC checked, with libdeflate, on every core, and nothing else (no
// listing events, no purge matching, no run files, no window). A run's time against this
// one's is how far the run is from the limit.
//
//     boundbench FOLDER [THREADS]
//
// Prints the archives, entries and bytes it read, how many entries failed, and its wall
// time. Reads each archive whole; handles stored and deflated entries and the plain end
// record (the benchmark trees hold no Zip64 archives); anything else counts as failed.
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t u16(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t u32(const unsigned char *p) {
    return u16(p) | u16(p + 2) << 16;
}

struct Totals {
    std::atomic<long> archives{0}, entries{0}, failed{0};
    std::atomic<long long> bytes{0};
};

bool readWhole(const std::string &path, std::vector<unsigned char> &data) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        data.resize(size_t(st.st_size));
        size_t done = 0;
        while (ok && done < data.size()) {
            const ssize_t n = ::pread(fd, data.data() + done, data.size() - done, off_t(done));
            ok = n > 0;
            done += ok ? size_t(n) : 0;
        }
    }
    ::close(fd);
    return ok;
}

// Inflates and checks every entry of one archive; returns the entries that failed.
long testArchive(const std::vector<unsigned char> &zip, libdeflate_decompressor *inflater,
                 std::vector<unsigned char> &out, long &entries) {
    const size_t size = zip.size();
    if (size < 22)
        return 1;
    size_t end = size - 22;
    const size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
    while (u32(&zip[end]) != 0x06054b50) {
        if (end == lowest)
            return 1;
        --end;
    }
    const uint32_t count = u16(&zip[end + 10]);
    size_t at = u32(&zip[end + 16]);
    long failed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > size || u32(&zip[at]) != 0x02014b50)
            return failed + 1;
        const unsigned char *c = &zip[at];
        const uint32_t method = u16(c + 10), crc = u32(c + 16), packed = u32(c + 20),
                       unpacked = u32(c + 24), local = u32(c + 42);
        at += 46 + u16(c + 28) + u16(c + 30) + u16(c + 32);
        ++entries;
        if (size_t(local) + 30 > size) {
            ++failed;
            continue;
        }
        const size_t data = size_t(local) + 30 + u16(&zip[local + 26]) + u16(&zip[local + 28]);
        if (data + packed > size) {
            ++failed;
            continue;
        }
        const unsigned char *in = &zip[data];
        uint32_t got = 0;
        if (method == 0 && packed == unpacked) {
            got = libdeflate_crc32(0, in, packed);
        } else if (method == 8) {
            out.resize(std::max<size_t>(out.size(), unpacked));
            size_t actual = 0;
            if (libdeflate_deflate_decompress(inflater, in, packed, out.data(), unpacked,
                                              &actual) != LIBDEFLATE_SUCCESS ||
                actual != unpacked) {
                ++failed;
                continue;
            }
            got = libdeflate_crc32(0, out.data(), unpacked);
        } else {
            ++failed;
            continue;
        }
        failed += got != crc;
    }
    return failed;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: boundbench FOLDER [THREADS]\n");
        return 64;
    }
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> archives;
    namespace fs = std::filesystem;
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(argv[1])) {
        if (!e.is_regular_file() || e.is_symlink())
            continue;
        std::string name = e.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0)
            archives.push_back(e.path().string());
    }
    const unsigned threads = argc > 2 ? unsigned(std::stoul(argv[2]))
                                      : std::max(1u, std::thread::hardware_concurrency());
    Totals totals;
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>
                inflater(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
            std::vector<unsigned char> zip, out;
            for (size_t i; (i = next++) < archives.size();) {
                long entries = 0;
                if (!readWhole(archives[i], zip)) {
                    ++totals.failed;
                    continue;
                }
                totals.failed += testArchive(zip, inflater.get(), out, entries);
                totals.entries += entries;
                totals.bytes += (long long)zip.size();
                ++totals.archives;
            }
        });
    for (std::thread &w : workers)
        w.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("archives %ld entries %ld bytes %lld failed %ld threads %u seconds %.3f\n",
                totals.archives.load(), totals.entries.load(), totals.bytes.load(),
                totals.failed.load(), threads, seconds);
    return 0;
}
