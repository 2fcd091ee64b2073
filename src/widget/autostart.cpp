#include "widget/autostart.h"

#include "widget/atomicfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace AutoStart {

QByteArray programLine()
{
    return QByteArrayLiteral("/usr/local/Lumory/Lumory /background &");
}

QString defaultProfilePath()
{
    return QDir::homePath() + QStringLiteral("/.profile");
}

namespace {
bool isProgramLine(const QByteArray &line)
{
    static const QByteArray marker = QByteArrayLiteral("Lumory ");
    const int at = line.indexOf(marker);
    return at >= 0 && line.mid(at + marker.size()) == QByteArrayLiteral("/background &");
}
} // namespace

QByteArray rewrite(const QByteArray &content, bool on)
{
    QList<QByteArray> lines = content.split('\n');
    // A trailing newline yields one empty element that is not a line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QByteArray out;
    out.reserve(content.size() + programLine().size() + 1);
    for (const QByteArray &line : qAsConst(lines)) {
        if (isProgramLine(line))
            continue;
        out += line;
        out += '\n';
    }
    if (on) {
        out += programLine();
        out += '\n';
    }
    return out;
}

bool apply(bool on, const QString &profilePath)
{
    QFile file(profilePath);
    QByteArray content;
    const bool exists = file.exists();
    if (exists) {
        if (!file.open(QIODevice::ReadOnly)) {
            qWarning() << "Can't open the file!" << profilePath;
            return false;
        }
        content = file.readAll();
        file.close();
    } else if (!on) {
        return true; // no profile, nothing to remove
    }

    const QByteArray updated = rewrite(content, on);
    // Unchanged apart from a missing final newline: leave the file alone.
    QByteArray normalised = content;
    if (!normalised.isEmpty() && !normalised.endsWith('\n'))
        normalised += '\n';
    if (exists && updated == normalised)
        return true;

    if (exists && !QFileInfo(profilePath).isWritable()) {
        qWarning() << "Can't open the file!" << profilePath;
        return false;
    }
    QString error;
    if (!AtomicFile::write(profilePath, updated, &error)) {
        qWarning() << "Can't open the file!" << profilePath << error;
        return false;
    }
    return true;
}

} // namespace AutoStart
