// Whole-archive test speed of the zip component.
//   listbench make ARCHIVE MEGABYTES   writes a test archive: half text (deflated),
//                                      half random bytes (stored), 32 MB entries
//   listbench list ARCHIVE             runs ListEntries and prints the seconds it took,
//                                      the result code and the number of entries

#include "zip/zipcomponent.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <zip.h>

namespace {

constexpr zip_uint64_t kEntrySize = 32ull << 20;

// Generated entry data, produced while libzip reads it: memory stays small.
struct Generator {
    bool text = false;
    zip_uint64_t size = 0;
    zip_uint64_t done = 0;
    quint64 state = 0;
    zip_error_t error{};

    quint64 next() { // xorshift64
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }

    zip_int64_t fill(char *out, zip_uint64_t len) {
        static const char *const words[] = {"archive", "folder", "entry", "clean", "purge",
                                            "test",    "the",    "of",    "and",   "zip",
                                            "damaged", "list",   "sound", "data",  "name"};
        len = std::min(len, size - done);
        for (zip_uint64_t i = 0; i < len;) {
            if (!text) {
                const quint64 r = next();
                const zip_uint64_t n = std::min<zip_uint64_t>(8, len - i);
                std::memcpy(out + i, &r, n);
                i += n;
                continue;
            }
            const char *word = words[next() % (sizeof words / sizeof *words)];
            for (const char *c = word; *c && i < len; ++c)
                out[i++] = *c;
            if (i < len)
                out[i++] = next() % 12 == 0 ? '\n' : ' ';
        }
        done += len;
        return zip_int64_t(len);
    }

    static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto *g = static_cast<Generator *>(self);
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            g->done = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return g->fill(static_cast<char *>(data), len);
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &g->error);
            if (st == nullptr)
                return -1;
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            st->size = g->size;
            st->mtime = std::time(nullptr);
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&g->error, data, len);
        default:
            zip_error_set(&g->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

int make(const char *path, long megabytes) {
    const zip_uint64_t total = zip_uint64_t(megabytes) << 20;
    const size_t count = size_t((total + kEntrySize - 1) / kEntrySize);
    std::vector<Generator> generators(count);
    QFile::remove(QString::fromLocal8Bit(path));
    int error = 0;
    zip_t *za = zip_open(path, ZIP_CREATE | ZIP_EXCL, &error);
    if (za == nullptr)
        return 1;
    for (size_t i = 0; i < count; ++i) {
        Generator &g = generators[i];
        g.text = i % 2 == 0;
        g.size = std::min(kEntrySize, total - i * kEntrySize);
        g.state = 0x9e3779b97f4a7c15ull * (i + 1);
        zip_source_t *source = zip_source_function(za, &Generator::callback, &g);
        const std::string name = (g.text ? "Text" : "Noise") + std::to_string(i) + ".dat";
        const zip_int64_t index = source ? zip_file_add(za, name.c_str(), source, 0) : -1;
        if (index < 0 || zip_set_file_compression(za, zip_uint64_t(index),
                                                  g.text ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 1) != 0) {
            zip_source_free(source);
            zip_discard(za);
            return 1;
        }
    }
    if (zip_close(za) != 0) {
        std::fprintf(stderr, "%s\n", zip_strerror(za));
        zip_discard(za);
        return 1;
    }
    return 0;
}

int list(const char *path) {
    arcsweep::ZipComponent zip;
    int entries = 0;
    QObject::connect(&zip, &arcsweep::ZipComponent::Listing, [&] { ++entries; });
    zip.ArchivePath = QString::fromLocal8Bit(path);
    zip.EntrySpec = "*.*";
    QElapsedTimer clock;
    clock.start();
    const int code = zip.ListEntries();
    std::printf("%.3f %d %d\n", double(clock.nsecsElapsed()) / 1e9, code, entries);
    return code == arcsweep::ZipOk ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::strtol(argv[3], nullptr, 10));
    if (argc == 3 && std::strcmp(argv[1], "list") == 0)
        return list(argv[2]);
    std::fprintf(stderr, "usage: listbench make ARCHIVE MEGABYTES | listbench list ARCHIVE\n");
    return 2;
}
