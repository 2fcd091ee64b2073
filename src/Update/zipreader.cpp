#include "Update/zipreader.h"

#include <zlib.h>

#include <sys/stat.h>

namespace {

constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kLocalSignature = 0x04034b50;
constexpr int kEndSize = 22;
constexpr int kCentralSize = 46;
constexpr int kLocalSize = 30;
constexpr qint64 kChunk = 64 * 1024;

quint16 le16(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

quint32 le32(const QByteArray &b, int at)
{
    return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16;
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Ends a zlib stream however the extraction leaves.
struct Inflater
{
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
};

} // namespace

bool ZipReader::Entry::isSymLink() const
{
    return (unixMode() & S_IFMT) == S_IFLNK;
}

bool ZipReader::Entry::isSpecial() const
{
    const quint32 type = unixMode() & S_IFMT;
    return type != 0 && type != S_IFREG && type != S_IFDIR && type != S_IFLNK;
}

ZipReader::ZipReader(const QString &path) : m_file(path) {}

bool ZipReader::readAt(qint64 offset, qint64 size, QByteArray *out)
{
    if (offset < 0 || size < 0 || offset + size > m_file.size() || !m_file.seek(offset))
        return false;
    *out = m_file.read(size);
    return out->size() == size;
}

bool ZipReader::open(QString *error)
{
    m_entries.clear();
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly))
        return fail(
            error,
            QStringLiteral("cannot open %1: %2").arg(m_file.fileName(), m_file.errorString()));
    const qint64 size = m_file.size();
    if (size < kEndSize)
        return fail(error, QStringLiteral("not a zip archive"));

    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    const qint64 tailSize = qMin<qint64>(size, kEndSize + 0xffff);
    QByteArray tail;
    if (!readAt(size - tailSize, tailSize, &tail))
        return fail(error, QStringLiteral("cannot read the archive"));
    int end = -1;
    for (int at = int(tail.size()) - kEndSize; at >= 0; --at) {
        if (le32(tail, at) == kEndSignature) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return fail(error, QStringLiteral("not a zip archive (no end record)"));
    const quint16 disk = le16(tail, end + 4);
    const quint16 centralDisk = le16(tail, end + 6);
    const quint16 count = le16(tail, end + 10);
    const quint32 centralSize = le32(tail, end + 12);
    const quint32 centralOffset = le32(tail, end + 16);
    if (disk != 0 || centralDisk != 0 || le16(tail, end + 8) != count)
        return fail(error, QStringLiteral("multi-part archives are not supported"));
    if (count == 0xffff || centralOffset == 0xffffffffu || centralSize == 0xffffffffu)
        return fail(error, QStringLiteral("ZIP64 archives are not supported"));
    const qint64 endOffset = size - tailSize + end;
    if (qint64(centralOffset) + centralSize > endOffset)
        return fail(error, QStringLiteral("damaged archive (central directory out of bounds)"));

    QByteArray central;
    if (!readAt(centralOffset, centralSize, &central))
        return fail(error, QStringLiteral("cannot read the central directory"));
    m_centralStart = centralOffset;
    int at = 0;
    for (int i = 0; i < count; ++i) {
        if (at + kCentralSize > central.size() || le32(central, at) != kCentralSignature)
            return fail(error, QStringLiteral("damaged archive (entry %1)").arg(i));
        Entry e;
        e.madeBy = le16(central, at + 4);
        e.flags = le16(central, at + 8);
        e.method = le16(central, at + 10);
        e.crc = le32(central, at + 16);
        e.compressedSize = le32(central, at + 20);
        e.uncompressedSize = le32(central, at + 24);
        const int nameLength = le16(central, at + 28);
        const int extraLength = le16(central, at + 30);
        const int commentLength = le16(central, at + 32);
        e.externalAttributes = le32(central, at + 38);
        e.localHeaderOffset = le32(central, at + 42);
        const int next = at + kCentralSize + nameLength + extraLength + commentLength;
        if (next > central.size())
            return fail(error, QStringLiteral("damaged archive (entry %1)").arg(i));
        if (e.compressedSize == 0xffffffffu || e.uncompressedSize == 0xffffffffu ||
            e.localHeaderOffset == 0xffffffffu)
            return fail(error, QStringLiteral("ZIP64 archives are not supported"));
        e.name = QString::fromUtf8(central.constData() + at + kCentralSize, nameLength);
        m_entries.append(e);
        at = next;
    }
    return true;
}

bool ZipReader::extract(const Entry &entry, const Sink &sink, qint64 *budget, QString *error)
{
    if (entry.flags & 0x1)
        return fail(error,
                    QStringLiteral("%1: encrypted entries are not supported").arg(entry.name));
    if (entry.method != 0 && entry.method != 8)
        return fail(error, QStringLiteral("%1: compression method %2 is not supported")
                               .arg(entry.name)
                               .arg(entry.method));
    QByteArray local;
    if (!readAt(entry.localHeaderOffset, kLocalSize, &local) || le32(local, 0) != kLocalSignature)
        return fail(error, QStringLiteral("%1: damaged local header").arg(entry.name));
    qint64 offset =
        qint64(entry.localHeaderOffset) + kLocalSize + le16(local, 26) + le16(local, 28);
    qint64 left = entry.compressedSize;
    if (offset + left > m_centralStart)
        return fail(error, QStringLiteral("%1: data out of bounds").arg(entry.name));
    if (entry.method == 0 && entry.compressedSize != entry.uncompressedSize)
        return fail(error, QStringLiteral("%1: damaged stored entry").arg(entry.name));

    const QString tooLarge = QStringLiteral("%1: unpacked data exceed the limit").arg(entry.name);
    const QString damaged = QStringLiteral("%1: damaged data").arg(entry.name);
    uLong crc = crc32(0, nullptr, 0);
    qint64 produced = 0;
    auto deliver = [&](const char *data, qint64 size) {
        produced += size;
        if (produced > entry.uncompressedSize)
            return fail(error, damaged);
        if (size > *budget)
            return fail(error, tooLarge);
        *budget -= size;
        crc = crc32(crc, reinterpret_cast<const Bytef *>(data), uInt(size));
        return sink(data, size) || fail(error, QStringLiteral("%1: cannot write").arg(entry.name));
    };

    QByteArray in;
    if (entry.method == 0) {
        while (left > 0) {
            if (!readAt(offset, qMin(left, kChunk), &in))
                return fail(error, QStringLiteral("%1: cannot read").arg(entry.name));
            offset += in.size();
            left -= in.size();
            if (!deliver(in.constData(), in.size()))
                return false;
        }
    } else {
        Inflater inflater;
        if (!inflater.ready)
            return fail(error, QStringLiteral("cannot start the decompressor"));
        z_stream &z = inflater.stream;
        QByteArray out(int(kChunk), Qt::Uninitialized);
        bool outputFull = false;
        for (bool streamEnd = false; !streamEnd;) {
            if (z.avail_in == 0 && left > 0) {
                if (!readAt(offset, qMin(left, kChunk), &in))
                    return fail(error, QStringLiteral("%1: cannot read").arg(entry.name));
                offset += in.size();
                left -= in.size();
                z.next_in = reinterpret_cast<Bytef *>(in.data());
                z.avail_in = uInt(in.size());
            } else if (z.avail_in == 0 && !outputFull) {
                return fail(error, damaged); // the stream is cut short
            }
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END)
                return fail(error, damaged);
            if (!deliver(out.constData(), out.size() - z.avail_out))
                return false;
            outputFull = z.avail_out == 0;
            streamEnd = rc == Z_STREAM_END;
        }
        if (z.avail_in > 0 || left > 0)
            return fail(error, damaged); // data after the end of the stream
    }
    if (produced != entry.uncompressedSize || crc != entry.crc)
        return fail(error, damaged);
    return true;
}
