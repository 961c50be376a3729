#include "Gunzip.h"

#include <zlib.h>

namespace {

constexpr int gzipOnlyWindowBits = 15 + 16;

class Inflater
{
public:
    Inflater() { m_ok = inflateInit2(&m_stream, gzipOnlyWindowBits) == Z_OK; }
    ~Inflater()
    {
        if (m_ok)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool isValid() const { return m_ok; }
    z_stream &stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

bool fail(std::string &error, const std::string &reason)
{
    error = reason;
    return false;
}

} // namespace

bool gunzip(const std::string &archive, std::string &unpacked, size_t maxBytes, std::string &error)
{
    unpacked.clear();
    if (archive.size() < 2 || static_cast<unsigned char>(archive[0]) != 0x1f
        || static_cast<unsigned char>(archive[1]) != 0x8b)
        return fail(error, "not a gzip file");
    Inflater inflater;
    if (!inflater.isValid())
        return fail(error, "zlib could not start");
    z_stream &stream = inflater.stream();
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(archive.data()));
    stream.avail_in = static_cast<uInt>(archive.size());
    char out[64 * 1024];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(out);
        stream.avail_out = sizeof out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return fail(error, "the gzip file is damaged");
        const size_t produced = sizeof out - stream.avail_out;
        if (unpacked.size() + produced > maxBytes)
            return fail(error, "the unpacked data exceed " + std::to_string(maxBytes) + " bytes");
        unpacked.append(out, produced);
        if (status == Z_STREAM_END) {
            if (stream.avail_in == 0)
                return true;
            // Another member follows (a gzip file may hold several).
            if (inflateReset(&stream) != Z_OK)
                return fail(error, "zlib could not go on");
        } else if (stream.avail_out != 0) {
            // Room for output was left, so inflate wanted more input than there is.
            return fail(error, "the gzip file is truncated");
        }
    }
}
