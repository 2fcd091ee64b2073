#pragma once

#include <QFile>
#include <QString>
#include <QVector>
#include <functional>

// Reads zip archives: the central directory, then each entry through its
// local header. Stored and deflated entries; every read is bounds-checked,
// every entry's size and CRC-32 verified. No ZIP64, no encryption, no
// multi-disk archives.
class ZipReader
{
public:
    struct Entry
    {
        QString name;
        quint16 madeBy = 0;
        quint16 flags = 0;
        quint16 method = 0;
        quint32 crc = 0;
        quint32 compressedSize = 0;
        quint32 uncompressedSize = 0;
        quint32 externalAttributes = 0;
        quint32 localHeaderOffset = 0;

        bool isDirectory() const { return name.endsWith(QLatin1Char('/')); }
        // The Unix file type and permission bits (upper 16 bits of the external attributes).
        quint32 unixMode() const { return externalAttributes >> 16; }
        bool isSymLink() const;
        // A device, pipe or socket entry.
        bool isSpecial() const;
    };
    // Receives inflated data; false stops the extraction.
    using Sink = std::function<bool(const char *data, qint64 size)>;

    explicit ZipReader(const QString &path);

    // Opens the archive and reads its central directory.
    bool open(QString *error);
    const QVector<Entry> &entries() const { return m_entries; }
    // Inflates `entry` into `sink`. Fails when the data is damaged, is longer or shorter than
    // declared, its CRC-32 differs, or more than *budget bytes come out (the budget is reduced by
    // what was produced).
    bool extract(const Entry &entry, const Sink &sink, qint64 *budget, QString *error);

private:
    bool readAt(qint64 offset, qint64 size, QByteArray *out);

    QFile m_file;
    qint64 m_centralStart = 0;
    QVector<Entry> m_entries;
};
