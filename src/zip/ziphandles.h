#pragma once

// Owners of libzip's and libdeflate's handles: each is freed when its owner goes, on
// every return path.

#include <libdeflate.h>
#include <memory>
#include <zip.h>

namespace arcsweep {

struct ZipDiscard {
    void operator()(zip_t *za) const { zip_discard(za); }
};
struct ZipSourceFree {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};
struct ZipFileClose {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};
struct InflaterFree {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};
struct DeflaterFree {
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

// An archive opened through libzip; discarded, never written by libzip.
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;
// A source not yet handed to libzip (zip_open_from_source takes it over on success).
using ZipSourceHandle = std::unique_ptr<zip_source_t, ZipSourceFree>;
using ZipFileHandle = std::unique_ptr<zip_file_t, ZipFileClose>;
using InflaterHandle = std::unique_ptr<libdeflate_decompressor, InflaterFree>;
using DeflaterHandle = std::unique_ptr<libdeflate_compressor, DeflaterFree>;

// Opens an archive from `source`, which it takes over either way.
inline ZipHandle openFromSource(ZipSourceHandle source, int flags, zip_error_t *error) {
    ZipHandle za(zip_open_from_source(source.get(), flags, error));
    if (za)
        source.release(); // the archive owns it now
    return za;
}

} // namespace arcsweep
