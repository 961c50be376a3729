#include "ProbeArchive.h"

#include <QByteArray>

#include <zlib.h>

namespace {

constexpr int gzipWindowBits = 15 + 16; // deflate with a gzip header and trailer
constexpr int chunkBytes = 64 * 1024;

class Deflater
{
public:
    Deflater() { m_ok = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, gzipWindowBits, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (m_ok)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    bool isValid() const { return m_ok; }

    // Compresses one piece of input and hands every produced byte to sink.
    template <typename Sink>
    bool run(const char *data, qint64 size, bool last, Sink sink)
    {
        char out[chunkBytes];
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = static_cast<uInt>(size);
        int status = Z_OK;
        do {
            m_stream.next_out = reinterpret_cast<Bytef *>(out);
            m_stream.avail_out = sizeof out;
            status = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR)
                return false;
            if (!sink(out, static_cast<qint64>(sizeof out - m_stream.avail_out)))
                return false;
        } while (m_stream.avail_out == 0 || (last && status != Z_STREAM_END));
        return true;
    }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

} // namespace

bool ProbeArchive::compress(const QByteArray &data, QByteArray *archive)
{
    Deflater deflater;
    if (!deflater.isValid())
        return false;
    archive->clear();
    archive->reserve(data.size() / 4 + 64);
    return deflater.run(data.constData(), data.size(), true, [archive](const char *bytes, qint64 size) {
        archive->append(bytes, static_cast<int>(size));
        return true;
    });
}
