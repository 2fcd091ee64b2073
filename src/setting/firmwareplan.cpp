#include "setting/firmwareplan.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"
#include "widget/fileproblems.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace FirmwarePlan {

int keyOfFileName(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (info.suffix().toUpper() != QLatin1String("BIN"))
        return 0;
    const QStringList parts = info.baseName().split(QLatin1Char('_'));
    if (parts.size() < 4 || parts.at(0) != QLatin1String("hx"))
        return 0;
    if (parts.at(1) == QLatin1String("bt") && parts.at(2) == QLatin1String("app"))
        return BtApp;
    if (parts.at(1) == QLatin1String("bt") && parts.at(2) == QLatin1String("sd"))
        return BtSoftDevice;
    if (parts.at(1) == QLatin1String("usb") && parts.at(2) == QLatin1String("app"))
        return UsbApp;
    return 0;
}

QMap<int, QString> scan(const QString &dir)
{
    QMap<int, QString> plan;
    const QFileInfo dirInfo(dir);
    if (dir.isEmpty() || !dirInfo.isDir()) {
        qDebug().noquote() << "MapFilePath=" << plan.size();
        return plan;
    }
    // QDir::Files without QDir::System leaves out directories, pipes,
    // sockets, devices and dangling links: only regular files (or links to
    // them) can be read whole without blocking.
    QFileInfoList files = QDir(dir).entryInfoList(QDir::Files, QDir::Unsorted);
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const qint64 ta = a.lastModified().toMSecsSinceEpoch();
        const qint64 tb = b.lastModified().toMSecsSinceEpoch();
        return ta != tb ? ta < tb : a.fileName() < b.fileName();
    });
    for (const QFileInfo &info : qAsConst(files)) {
        if (!info.isFile())
            continue;
        const int key = keyOfFileName(info.fileName());
        if (key != 0)
            plan.insert(key, info.filePath());
    }
    qDebug().noquote() << "MapFilePath=" << plan.size();
    return plan;
}

QString Problem::message(int language) const
{
    const bool zh = language == 0;
    const QString name = QDir::toNativeSeparators(path);
    QString text;
    switch (refusal) {
    case Refusal::None:
        return QString();
    case Refusal::NotADirectory:
        text = zh ? QString::fromUtf8("固件路径“%1”不是目录。")
                  : QStringLiteral("The firmware path \"%1\" is not a directory.");
        text = text.arg(name);
        break;
    case Refusal::NoImage:
        text = zh ? QString::fromUtf8("目录“%1”中没有固件文件"
                                      "（hx_bt_app_*.bin、hx_bt_sd_*.bin、hx_usb_app_*.bin）。")
                  : QStringLiteral("The directory \"%1\" holds no firmware image "
                                   "(hx_bt_app_*.bin, hx_bt_sd_*.bin, hx_usb_app_*.bin).");
        text = text.arg(name);
        break;
    case Refusal::Unreadable:
        text = zh ? QString::fromUtf8("无法读取固件文件“%1”（%2）。")
                  : QStringLiteral("The firmware image \"%1\" cannot be read (%2).");
        text = text.arg(name, detail);
        break;
    case Refusal::Empty:
        text = zh ? QString::fromUtf8("固件文件“%1”是空的。")
                  : QStringLiteral("The firmware image \"%1\" is empty.");
        text = text.arg(name);
        break;
    case Refusal::SoftDeviceTooSmall:
        text = zh ? QString::fromUtf8("协议栈文件“%1”只有 %2 字节，必须大于 %3 字节。")
                  : QStringLiteral("The soft-device image \"%1\" has %2 bytes; it must be "
                                   "larger than %3 bytes.");
        text = text.arg(name).arg(size).arg(kSoftDeviceSkip);
        break;
    case Refusal::TooLarge:
        text = zh ? QString::fromUtf8("固件文件“%1”有 %2 字节，最多允许 %3 字节。")
                  : QStringLiteral("The firmware image \"%1\" has %2 bytes; at most %3 bytes "
                                   "are allowed.");
        text = text.arg(name).arg(size).arg(kMaxImageSize);
        break;
    }
    return text + (zh ? QString::fromUtf8("未向键盘发送任何数据。")
                      : QStringLiteral(" Nothing was sent to the keyboard."));
}

namespace {
bool refuse(Problem *problem, Refusal refusal, const QString &path, qint64 size = 0,
            const QString &detail = QString())
{
    Problem p;
    p.refusal = refusal;
    p.path = path;
    p.size = size;
    p.detail = detail;
    qWarning().noquote() << "Firmware plan refused:" << p.message(1);
    if (problem)
        *problem = p;
    return false;
}

// Reads and checks one image; false with `problem` set when it may not be sent.
bool readImage(int key, const QString &path, QByteArray *data, Problem *problem)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        qWarning().noquote() << "Open bin failed." << path;
        return refuse(problem, Refusal::Unreadable, path, 0, QStringLiteral("not a regular file"));
    }
    // Refused before reading, so an enormous file is never loaded.
    if (info.size() > kMaxImageSize)
        return refuse(problem, Refusal::TooLarge, path, info.size());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open bin failed." << path << file.errorString();
        return refuse(problem, Refusal::Unreadable, path, 0, file.errorString());
    }
    // One byte more than allowed tells a file that grew since it was listed.
    *data = file.read(kMaxImageSize + 1);
    if (file.error() != QFileDevice::NoError) {
        qWarning().noquote() << "Open bin failed." << path << file.errorString();
        return refuse(problem, Refusal::Unreadable, path, 0, file.errorString());
    }
    const qint64 size = data->size();
    qDebug().noquote() << "file size=" << size;
    if (size > kMaxImageSize)
        return refuse(problem, Refusal::TooLarge, path, size);
    if (key == BtSoftDevice && size <= kSoftDeviceSkip)
        return refuse(problem, Refusal::SoftDeviceTooSmall, path, size);
    if (size == 0)
        return refuse(problem, Refusal::Empty, path, size);
    return true;
}
} // namespace

bool load(const QMap<int, QString> &plan, QVector<Image> *images, Problem *problem)
{
    images->clear();
    if (problem)
        *problem = Problem();
    QVector<Image> read;
    for (auto it = plan.constBegin(); it != plan.constEnd(); ++it) {
        Image image;
        image.key = it.key();
        image.path = it.value();
        if (!readImage(image.key, image.path, &image.data, problem))
            return false;
        read.append(image);
    }
    if (read.isEmpty())
        return refuse(problem, Refusal::NoImage, QString());
    *images = read;
    return true;
}

bool prepare(const QString &dir, QVector<Image> *images, Problem *problem)
{
    images->clear();
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return refuse(problem, Refusal::NotADirectory, dir);
    const QMap<int, QString> plan = scan(dir);
    if (plan.isEmpty())
        return refuse(problem, Refusal::NoImage, dir);
    return load(plan, images, problem);
}

} // namespace FirmwarePlan

FirmwareProgress::FirmwareProgress(QObject *parent) : QObject(parent) {}

void FirmwareProgress::setPlan(const QVector<FirmwarePlan::Image> &images)
{
    QMap<int, quint32> sizes;
    for (const FirmwarePlan::Image &image : images)
        sizes.insert(image.key, quint32(image.data.size()));
    setPlan(sizes);
}

void FirmwareProgress::setPlan(const QMap<int, quint32> &sizes)
{
    m_sizes = sizes;
    m_total = 0;
    for (quint32 size : sizes)
        m_total += size;
    m_percent = 0;
}

quint32 FirmwareProgress::offset(int key) const
{
    quint32 before = 0;
    for (auto it = m_sizes.constBegin(); it != m_sizes.constEnd() && it.key() < key; ++it)
        before += it.value();
    return before;
}

int FirmwareProgress::report(int key, quint32 sent, quint32 size)
{
    const auto it = m_sizes.constFind(key);
    if (it == m_sizes.constEnd())
        return m_percent;
    const quint32 planned = it.value();
    // The image's own count, brought to the size the plan was made with.
    quint32 done = planned;
    if (sent < size)
        done = quint32(quint64(sent) * planned / size);
    int value = 0;
    if (m_total > 0) {
        // Checked images are bounded (kMaxImageSize), so the product fits 32
        // bits; sizes handed in directly might not.
        value = int(quint64(offset(key) + done) * 100u / m_total);
    } else if (done == planned && key == m_sizes.lastKey()) {
        value = 100; // a package of empty images: done once its last one is
    }
    value = qBound(0, value, 100);
    if (value > m_percent) {
        m_percent = value;
        Q_EMIT emitProgress(m_percent);
    }
    return m_percent;
}

int FirmwareProgress::finishImage(int key)
{
    const auto it = m_sizes.constFind(key);
    if (it == m_sizes.constEnd())
        return m_percent;
    return report(key, it.value(), it.value());
}

namespace FirmwareTemp {

namespace {
const QString kRoot = QStringLiteral("TEMP");
const QString kPath = QStringLiteral("PATH");
const QString kPathAttr = QStringLiteral("filePath");
const QString kDir = QStringLiteral("DIR");
const QString kDirAttr = QStringLiteral("dirPath");

enum class Parsed
{
    Missing,
    Ok,
    Broken
};

// `report` sends a broken file to FileProblems.
Parsed parse(const QString &path, Paths *paths, bool report)
{
    *paths = Paths();
    QFile file(path);
    if (!file.exists())
        return Parsed::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open XML file failed:" << path << file.errorString();
        if (report)
            FileProblems::report(path, 0, 0, file.errorString());
        return Parsed::Broken;
    }
    const QByteArray content = file.readAll();
    if (content.trimmed().isEmpty())
        return Parsed::Missing;
    Paths read;
    QXmlStreamReader xml(content);
    if (xml.readNextStartElement()) {
        if (xml.name() != kRoot)
            xml.raiseError(QStringLiteral("the document element is not <TEMP>"));
        while (!xml.hasError() && xml.readNextStartElement()) {
            if (xml.name() == kPath)
                read.filePath = xml.attributes().value(kPathAttr).toString();
            else if (xml.name() == kDir)
                read.dirPath = xml.attributes().value(kDirAttr).toString();
            xml.skipCurrentElement();
        }
    }
    // Reads the rest, so that anything after the document element counts.
    while (!xml.hasError() && !xml.atEnd())
        xml.readNext();
    if (xml.hasError()) {
        FileProblems::reportXml(path, xml, report);
        return Parsed::Broken;
    }
    *paths = read;
    return Parsed::Ok;
}

// Moves an unusable file out of the way so that writing keeps it.
bool keepBroken(const QString &path)
{
    if (!AtomicFile::setAsideBrokenXml(path).isEmpty())
        return true;
    // Well-formed but not ours (another document element).
    QString aside = path + QStringLiteral(".broken");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".broken.") + QString::number(n);
    if (!QFile::rename(path, aside)) {
        qWarning().noquote() << "Cannot keep the unreadable" << path << "as" << aside;
        return false;
    }
    qWarning().noquote() << "The unreadable" << path << "is kept as" << aside;
    return true;
}
} // namespace

QString defaultPath()
{
    return AppPaths::configDir() + QStringLiteral("temp/temp.xml");
}

bool read(const QString &requested, Paths *paths)
{
    // The user's copy of a shipped preference takes precedence.
    const QString path = AppPaths::readablePath(requested);
    qDebug().noquote() << "read file path xml";
    const Parsed parsed = parse(path, paths, true);
    qDebug().noquote() << "read dir path=" << paths->dirPath;
    qDebug().noquote() << "read file path xml finished.";
    return parsed != Parsed::Broken;
}

QByteArray format(const Paths &paths)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeProcessingInstruction(QStringLiteral("xml"),
                                   QStringLiteral("version = '1.0' encoding = 'UTF-8'"));
    xml.writeStartElement(kRoot);
    xml.writeStartElement(kPath);
    xml.writeAttribute(kPathAttr, paths.filePath);
    xml.writeEndElement();
    xml.writeStartElement(kDir);
    xml.writeAttribute(kDirAttr, paths.dirPath);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    // Auto-formatting puts a newline before the declaration; the file starts with it.
    if (bytes.startsWith('\n'))
        bytes.remove(0, 1);
    return bytes;
}

bool write(const QString &requested, const Paths &paths, QString *error)
{
    const QString path = AppPaths::writablePath(requested);
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("cannot create the directory %1").arg(dir);
        qWarning().noquote() << "Cannot write" << path << "- cannot create" << dir;
        return false;
    }
    Paths old;
    if (parse(path, &old, false) == Parsed::Broken && !keepBroken(path)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read and cannot be kept aside").arg(path);
        return false;
    }
    QString why;
    if (!AtomicFile::write(path, format(paths), &why)) {
        qWarning().noquote() << "Cannot write" << path << why;
        if (error)
            *error = why;
        return false;
    }
    return true;
}

} // namespace FirmwareTemp
