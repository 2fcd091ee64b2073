#include "Update/downloadfile.h"

#include "Update/overallvariate.h"
#include "Update/updatefiles.h"
#include "main/apppaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cctype>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>

namespace {

const QString kLumoryVersionEntry =
    QStringLiteral("/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini");
const QString kLumoryUrlEntry = QStringLiteral("/UpgradeLumory/Linux/URLFile/LumoryFileURL.xml");
const QString kLumoryStagingDir = QStringLiteral("/UpgradeLumory/Linux/Lumory/Upgrade/");
const QString kLumoryNewFilesDir = QStringLiteral("/UpgradeLumory/Linux/Lumory/Lumory/");
const QString kFirmwareRoot = QStringLiteral("/UpgradeFirmware/");

// Slice of every blocking wait: an interruption is seen within this time.
constexpr int kWaitSliceMs = 50;
// A daytime answer is one short line; anything longer is not one.
constexpr int kMaxDaytimeAnswer = 4096;

// The daytime server to ask first: the one after the last that answered,
// for the whole run of the program.
std::atomic<int> s_nextTimeServer{0};

QString firmwareEntry(const QString &product, const char *rest)
{
    return kFirmwareRoot + product + QLatin1String(rest);
}

QString directoryOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// The addresses of `host`. A name is looked up on a thread of its own (the
// system resolver cannot be interrupted), so that the wait for it ends as soon
// as `stop` says so; a lookup given up finishes unseen.
QList<QHostAddress> resolveHost(const QString &host, const std::function<bool()> &stop)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return {literal};
    const QByteArray name = QUrl::toAce(host);
    if (name.isEmpty())
        return {};
    struct Lookup
    {
        std::mutex mutex;
        bool done = false;
        QList<QHostAddress> addresses;
    };
    const auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        QList<QHostAddress> found;
        if (::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0) {
            for (const addrinfo *entry = result; entry; entry = entry->ai_next)
                found << QHostAddress(entry->ai_addr);
            ::freeaddrinfo(result);
        }
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->addresses = found;
        lookup->done = true;
    }).detach();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->done)
                return lookup->addresses;
        }
        if (stop())
            return {};
        QThread::msleep(10);
    }
}

void makeExecutable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return;
    QFile::setPermissions(path, info.permissions() | QFile::ExeOwner | QFile::ExeUser |
                                    QFile::ExeGroup | QFile::ExeOther);
}

} // namespace

DownloadFile::DownloadFile(overallVariate *state, const QString &programDir, QObject *parent)
    : QObject(parent), m_state(state), m_programDir(programDir)
{
    while (m_programDir.size() > 1 && m_programDir.endsWith(QLatin1Char('/')))
        m_programDir.chop(1);
    m_exeName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    m_versionInfo.lumoryVersion = m_state->getLumoryVersions();
    qDebug().noquote() << "LumoryVersion=" << m_versionInfo.lumoryVersion;
    m_transferTimer = new QTimer(this);
    m_transferTimer->setSingleShot(true);
    connect(m_transferTimer, &QTimer::timeout, this, &DownloadFile::transferTimedOut);
}

DownloadFile::~DownloadFile()
{
    // A download still running (the program is closing) leaves no half file.
    releaseDownload(true);
}

// ---- jobs -------------------------------------------------------------------

bool DownloadFile::beginJob(bool takeBusy)
{
    if (m_jobActive) {
        qDebug() << "online update: a job is running, request ignored";
        return false;
    }
    if (takeBusy && !m_state->tryTakeBusy()) {
        qDebug() << "online update: busy, request ignored";
        return false;
    }
    if (!takeBusy)
        m_state->setBuay(true);
    m_config = m_state->config();
    if (!m_config.isConfigured()) {
        qInfo() << "online update: no update server configured";
        m_state->setBuay(false);
        return false;
    }
    m_jobActive = true;
    m_filesRemoved = 0;
    return true;
}

void DownloadFile::startJob(int mode, const QString &firstEntry)
{
    m_fileList = QStringList{firstEntry};
    m_downloadMode = mode;
    switch (mode) {
    case LumoryVersionFile:
        qDebug() << "lumoryVF";
        break;
    case LumoryUrlFile:
        qDebug() << "lumoryVUF";
        break;
    case FirmwareVersionFile:
        qDebug() << "FVF";
        break;
    case FirmwareUrlFile:
        qDebug() << "FUF";
        break;
    default:
        break;
    }
    m_redirectCount = 0;
    Startdownload(0);
    qDebug() << "getBusy==" << m_state->getBuay();
}

void DownloadFile::endJob()
{
    m_fileIndex = 0;
    m_jobActive = false;
    m_state->setBuay(false);
}

void DownloadFile::failJob(const QString &message)
{
    qDebug().noquote() << "online update failed:" << message;
    releaseDownload(true);
    m_fileIndex = 0;
    m_redirectCount = 0;
    m_jobActive = false;
    m_state->downloadError(message); // clears the busy flag
}

void DownloadFile::abortJob()
{
    qDebug() << "online update: stopped";
    releaseDownload(true);
    m_fileIndex = 0;
    m_jobActive = false;
    m_state->setBuay(false);
}

void DownloadFile::releaseDownload(bool removePartialFile)
{
    if (m_transferTimer)
        m_transferTimer->stop();
    if (QNetworkReply *reply = m_reply.data()) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    if (m_file) {
        const QString name = m_file->fileName();
        m_file->close();
        delete m_file;
        m_file = nullptr;
        if (removePartialFile)
            QFile::remove(name);
    }
}

bool DownloadFile::interrupted() const
{
    return QThread::currentThread()->isInterruptionRequested();
}

void DownloadFile::refreshKeyboard()
{
    const KBInfo kb = m_state->getKBInfo();
    m_versionInfo.productName = kb.productName;
    m_versionInfo.usbAppVersion = kb.usbAppVersion;
    m_versionInfo.btAppVersion = kb.btAppVersion;
    m_versionInfo.sdVersion = kb.sdVersion;
    m_versionInfo.type = kb.type;
}

QString DownloadFile::localFor(const QString &entry) const
{
    return m_programDir + entry;
}

QString DownloadFile::checkedLocalPath(const QString &entry)
{
    QString why;
    QString local;
    if (UpdateFiles::isSafeEntry(entry, &why))
        local = UpdateFiles::localPath(m_programDir, entry, &why);
    if (local.isEmpty()) {
        qWarning().noquote() << "online update: refused server path" << entry << "-" << why;
        failJob(QStringLiteral("Refused server path \"%1\": %2").arg(entry, why));
    }
    return local;
}

// ---- slots ------------------------------------------------------------------

void DownloadFile::checkUpdateSlot()
{
    if (beginJob(true))
        startJob(LumoryVersionFile, kLumoryVersionEntry);
}

void DownloadFile::checkLumoryUpdateSlot()
{
    // Does not wait for the busy flag, but never joins a job of its own.
    if (beginJob(false))
        startJob(LumoryVersionFile, kLumoryVersionEntry);
}

void DownloadFile::checkFirmwareUpdateSlot()
{
    if (beginJob(true))
        startFirmwareCheck();
}

void DownloadFile::startFirmwareCheck()
{
    refreshKeyboard();
    if (!UpdateFiles::isSafeSegment(m_versionInfo.productName)) {
        failJob(QStringLiteral("Refused product name \"%1\"").arg(m_versionInfo.productName));
        return;
    }
    startJob(FirmwareVersionFile,
             firmwareEntry(m_versionInfo.productName, "/VersionFile/FirmwareVersion.ini"));
}

void DownloadFile::dowmloadLumoryUpdateFileSlot()
{
    if (!beginJob(true))
        return;
    // Files of an earlier download must never be installed with the new ones
    // (they could bring back a file the new version's delete list removes).
    if (!UpdateFiles::deleteDirectory(m_programDir + kLumoryNewFilesDir) ||
        !UpdateFiles::deleteDirectory(m_programDir + kLumoryStagingDir)) {
        failJob(QStringLiteral("The old program download could not be removed"));
        return;
    }
    startJob(LumoryUrlFile, kLumoryUrlEntry);
}

void DownloadFile::dowmloadFirmwareUpdateFileSlot()
{
    if (!beginJob(true))
        return;
    refreshKeyboard();
    if (!UpdateFiles::isSafeSegment(m_versionInfo.productName)) {
        failJob(QStringLiteral("Refused product name \"%1\"").arg(m_versionInfo.productName));
        return;
    }
    // Images of an earlier download must never join the new package.
    if (!UpdateFiles::deleteDirectory(m_programDir + kFirmwareRoot)) {
        failJob(QStringLiteral("The old firmware download could not be removed"));
        return;
    }
    startJob(FirmwareUrlFile,
             firmwareEntry(m_versionInfo.productName, "/URLFile/FirmwareFileURL.xml"));
}

void DownloadFile::unModeFirmwareSlot()
{
    if (m_jobActive) {
        qDebug() << "online update: a job is running, downloaded firmware kept";
        return;
    }
    UpdateFiles::deleteDirectory(m_programDir + kFirmwareRoot);
}

// ---- network time -----------------------------------------------------------

QDateTime DownloadFile::queryDaytime(const QString &hostPort)
{
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint port = colon > 0 ? hostPort.mid(colon + 1).toUInt(&portOk) : 0;
    if (!portOk || port == 0 || port > 65535)
        return QDateTime();
    QString host = hostPort.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);

    QElapsedTimer clock;
    clock.start();
    const auto stop = [&] { return interrupted() || clock.elapsed() >= m_config.connectTimeoutMs; };
    QTcpSocket socket;
    for (const QHostAddress &address : resolveHost(host, stop)) {
        socket.connectToHost(address, quint16(port));
        while (socket.state() != QAbstractSocket::ConnectedState &&
               !socket.waitForConnected(kWaitSliceMs)) {
            if (socket.state() == QAbstractSocket::UnconnectedState)
                break;
            if (stop()) {
                socket.abort();
                return QDateTime();
            }
        }
        if (socket.state() == QAbstractSocket::ConnectedState)
            break;
        socket.abort();
    }
    if (socket.state() != QAbstractSocket::ConnectedState)
        return QDateTime();

    QByteArray answer;
    clock.restart();
    for (;;) {
        socket.waitForReadyRead(kWaitSliceMs);
        answer += socket.readAll();
        // The answer is complete at the end of its line or when the server
        // closes the connection.
        int first = 0;
        while (first < answer.size() && std::isspace(static_cast<unsigned char>(answer.at(first))))
            ++first;
        const bool lineEnded = first < answer.size() && answer.indexOf('\n', first) >= 0;
        if (lineEnded || answer.contains('\0') ||
            socket.state() == QAbstractSocket::UnconnectedState ||
            answer.size() > kMaxDaytimeAnswer)
            break;
        if (interrupted() || clock.elapsed() >= m_config.readTimeoutMs) {
            socket.abort();
            return QDateTime();
        }
    }
    socket.abort();
    return UpdateFormats::parseDaytime(answer);
}

QDateTime DownloadFile::getNetworkTime()
{
    const QStringList servers = m_config.timeServers;
    const int count = servers.size();
    QDateTime time;
    const int start = count > 0 ? s_nextTimeServer.load() % count : 0;
    for (int step = 0; step < count && !interrupted(); ++step) {
        const int position = (start + step) % count;
        const QDateTime answer = queryDaytime(servers.at(position));
        if (answer.isValid()) {
            qDebug() << "获取时间OK=" << position;
            s_nextTimeServer = (position + 1) % count;
            time = answer;
            break;
        }
        qDebug() << "获取时间错误=" << position;
    }
    if (time.isNull()) {
        qDebug() << "获取时间错误=====================================================";
        return QDateTime();
    }
    time = time.toUTC();
    qDebug() << "m_time=" << time.toLocalTime();
    return time;
}

// ---- downloading ------------------------------------------------------------

void DownloadFile::Startdownload(int index)
{
    m_fileIndex = index;
    if (interrupted()) {
        abortJob();
        return;
    }
    if (index < m_fileList.size()) {
        startFile(m_fileList.at(index));
        return;
    }
    m_fileIndex = 0;
    qDebug() << "所有文件下载完成";
    qDebug() << "DownloadMode:" << m_downloadMode;
    switch (m_downloadMode) {
    case LumoryVersionFile:
        ReadVersionsFile(localFor(kLumoryVersionEntry));
        break;
    case LumoryUrlFile:
        lumoryUrlFileIn();
        break;
    case LumoryFiles:
        lumoryFilesIn();
        break;
    case FirmwareVersionFile:
        if (ReadFirmwareVersionsFile(localFor(
                firmwareEntry(m_versionInfo.productName, "/VersionFile/FirmwareVersion.ini"))))
            endJob();
        break;
    case FirmwareUrlFile:
        firmwareUrlFileIn();
        break;
    case FirmwareFiles:
        firmwareFilesIn();
        break;
    default:
        endJob();
        break;
    }
}

void DownloadFile::startFile(const QString &entry)
{
    QString local = checkedLocalPath(entry);
    if (local.isEmpty())
        return;
    qDebug().noquote() << "StrFile=" << local;
    if (!UpdateFiles::EstablishDir(directoryOf(local)) || !UpdateFiles::removeFile(local)) {
        qDebug() << "download UpdateFile File Open Failed!";
        failJob(QStringLiteral("download UpdateFile File Open Failed!"));
        return;
    }
    const QString suffix = QFileInfo(local).suffix().toLower();
    qDebug().noquote() << "Startdownload"
                       << "suffix=" << suffix;
    if (suffix == QLatin1String("exe")) {
        local += QStringLiteral(".lumory");
        qDebug().noquote() << "FileName=" << local;
        UpdateFiles::removeFile(local);
    }
    m_file = new QFile(local, this);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "download UpdateFile File Open Failed!";
        delete m_file;
        m_file = nullptr;
        failJob(QStringLiteral("download UpdateFile File Open Failed!"));
        return;
    }
    const QDateTime now = getNetworkTime();
    if (interrupted()) {
        abortJob();
        return;
    }
    if (now.isNull()) {
        qDebug() << "获取时间错误";
        failJob(QStringLiteral("获取时间错误!"));
        return;
    }
    const QString url = UpdateFormats::signedUrl(m_config.baseUrl, m_config.signingKey, entry, now);
    qDebug().noquote() << "res==" << entry << url;
    m_redirectCount = 0;
    downloadFile(QUrl(url));
}

void DownloadFile::downloadFile(const QUrl &url)
{
    m_currentUrl = url;
    m_timedOut = false;
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    // Redirections are followed here, counted and limited to http(s).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_reply = m_manager->get(request);
    // The manager, and the watch of the network's state that comes with it,
    // live only while transfers follow one another: once a reply is gone and
    // no other took its place, the manager goes too, so that nothing of it
    // wakes an idle program. The manager is the context, since releasing a
    // download cuts the reply's connections to this object; the guard skips
    // replies that go with the manager while this object is destroyed.
    QNetworkAccessManager *manager = m_manager;
    const QPointer<DownloadFile> self(this);
    connect(m_reply.data(), &QObject::destroyed, manager, [self, manager] {
        if (!self || self->m_reply || self->m_manager != manager)
            return;
        self->m_manager = nullptr;
        manager->deleteLater();
    });
    connect(m_reply.data(), &QNetworkReply::readyRead, this, &DownloadFile::WriteUpgradeFile);
    connect(m_reply.data(), &QNetworkReply::finished, this,
            &DownloadFile::upgradeFileDownloadFinished);
    m_transferTimer->start(m_config.transferTimeoutMs);
}

bool DownloadFile::writeAvailable()
{
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty())
        return true;
    if (!m_file || !m_file->isOpen() || m_file->write(data) != data.size()) {
        const QString name = m_file ? m_file->fileName() : QString();
        const QString reason = m_file ? m_file->errorString() : QStringLiteral("not open");
        failJob(QStringLiteral("Writing %1 failed: %2").arg(name, reason));
        return false;
    }
    return true;
}

void DownloadFile::WriteUpgradeFile()
{
    if (!m_reply || sender() != m_reply.data())
        return;
    qDebug() << "downloadUpdateFile=" << m_reply->bytesAvailable() << (m_file && m_file->isOpen());
    qDebug() << "Write File getBusy==" << m_state->getBuay();
    m_transferTimer->start(m_config.transferTimeoutMs);
    writeAvailable();
}

void DownloadFile::transferTimedOut()
{
    if (!m_reply)
        return;
    m_timedOut = true;
    m_reply->abort(); // finishes the reply with an error
}

void DownloadFile::upgradeFileDownloadFinished()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply || sender() != reply)
        return;
    m_transferTimer->stop();
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    qDebug() << "redirectionTarget============" << target.toUrl();

    if (m_timedOut || reply->error() != QNetworkReply::NoError) {
        qDebug() << "getDownloadMode=" << m_downloadMode;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // Only a firmware version file missing on the server means that
        // there is no firmware for this keyboard; other failures are errors.
        if (m_downloadMode == FirmwareVersionFile && !m_timedOut && status == 404) {
            releaseDownload(true);
            m_state->FirmwareUpdate(false);
            endJob();
            return;
        }
        failJob(m_timedOut ? QStringLiteral("No data from the update server for %1 s: %2")
                                 .arg(m_config.transferTimeoutMs / 1000.0)
                                 .arg(m_currentUrl.toString(QUrl::RemoveQuery))
                           : reply->errorString());
        return;
    }
    if (!writeAvailable())
        return;

    if (target.isNull()) {
        m_redirectCount = 0;
        bool known = false;
        const qint64 expected =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        const bool plain = reply->rawHeader("Content-Encoding").isEmpty() ||
                           reply->rawHeader("Content-Encoding") == "identity";
        if (!m_file->flush()) {
            failJob(QStringLiteral("Writing %1 failed: %2")
                        .arg(m_file->fileName(), m_file->errorString()));
            return;
        }
        if (known && plain && m_file->size() != expected) {
            failJob(QStringLiteral("The download of %1 ended after %2 of %3 bytes")
                        .arg(m_currentUrl.toString(QUrl::RemoveQuery))
                        .arg(m_file->size())
                        .arg(expected));
            return;
        }
        m_file->close();
        if (m_file->error() != QFileDevice::NoError) {
            failJob(QStringLiteral("Writing %1 failed: %2")
                        .arg(m_file->fileName(), m_file->errorString()));
            return;
        }
        releaseDownload(false);
        ++m_fileIndex;
        m_state->downloadProgress(m_fileIndex);
        Startdownload(m_fileIndex);
        return;
    }

    qDebug() << "redirectionTarget   isNull";
    if (m_redirectCount > 3) {
        m_redirectCount = 0;
        failJob(QStringLiteral("Too many redirections: %1")
                    .arg(m_currentUrl.toString(QUrl::RemoveQuery)));
        return;
    }
    ++m_redirectCount;
    const QUrl next = m_currentUrl.resolved(target.toUrl());
    const QString scheme = next.scheme().toLower();
    if (!next.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failJob(QStringLiteral("Refused redirection to %1").arg(next.toString(QUrl::RemoveQuery)));
        return;
    }
    // Keep the file, drop what the redirection answer carried.
    disconnect(reply, nullptr, this, nullptr);
    m_reply = nullptr;
    reply->deleteLater();
    if (!m_file->resize(0) || !m_file->seek(0)) {
        failJob(
            QStringLiteral("Writing %1 failed: %2").arg(m_file->fileName(), m_file->errorString()));
        return;
    }
    downloadFile(next);
}

// ---- what the files say -----------------------------------------------------

void DownloadFile::ReadVersionsFile(const QString &path)
{
    const QStringList list = UpdateFormats::ReadSettings(path, m_state->langType());
    UpdateFiles::deleteDirectory(directoryOf(path));
    if (list.isEmpty()) {
        qDebug() << "Versions 文件读取错误";
        failJob(QStringLiteral("Versions 文件读取错误"));
        return;
    }
    const int compare = UpdateFormats::compareVersions(list.at(0), m_versionInfo.lumoryVersion);
    qDebug() << "compareLumoryVersion=" << compare;
    if (compare > 0) {
        qDebug() << "有新版本";
        m_state->LumoryUpdate(true);
        m_state->setLumoryUpdateInfo(list.value(1));
    } else {
        qDebug() << "当前为最新版";
        m_state->LumoryUpdate(false);
    }
    if (m_state->getOnlinState())
        startFirmwareCheck();
    else
        endJob();
}

bool DownloadFile::ReadFirmwareVersionsFile(const QString &path)
{
    const uint32_t type = m_versionInfo.type;
    const QStringList list = UpdateFormats::ReadFirmwareSettings(path, m_state->langType(), type);
    UpdateFiles::deleteDirectory(directoryOf(path));
    if (list.isEmpty()) {
        qDebug() << "Firmware 文件读取错误";
        failJob(QStringLiteral("Firmware 文件读取错误"));
        return false;
    }
    const int compare = UpdateFormats::compareVersions(list.at(0), m_versionInfo.usbAppVersion);
    qDebug().noquote() << "USB_APP_Version=" << m_versionInfo.usbAppVersion << type;
    qDebug() << "compareVersion=" << compare;
    bool newer = false;
    QString description;
    if (type == 0) {
        newer = compare > 0;
        description = list.value(1);
    } else if (type == 1 && list.size() >= 4) {
        newer = compare > 0 ||
                UpdateFormats::compareVersions(list.at(1), m_versionInfo.btAppVersion) > 0 ||
                UpdateFormats::compareVersions(list.at(2), m_versionInfo.sdVersion) > 0;
        description = list.at(3);
    }
    if (newer) {
        qDebug() << "有新版本";
        m_state->FirmwareUpdate(true);
        m_state->setFirmwareUpdateInfo(description);
    } else {
        qDebug() << "当前版本已是最新版";
        m_state->FirmwareUpdate(false);
    }
    return true;
}

void DownloadFile::lumoryUrlFileIn()
{
    const QString path = localFor(kLumoryUrlEntry);
    qDebug() << "解析XML文件";
    qDebug().noquote() << "UrlXmlFile=" << path;
    UrlInfo info;
    const bool parsed = UpdateFormats::parseLumoryUrlXml(path, m_versionInfo.lumoryVersion,
                                                         m_state->langType(), &info);
    UpdateFiles::deleteDirectory(directoryOf(path));
    if (!parsed) {
        failJob(QStringLiteral("URL 文件读取错误"));
        return;
    }
    // Every path is checked before anything is deleted or written.
    QStringList deletions;
    const QStringList entries = info.deleteList + info.fileList;
    for (const QString &entry : entries) {
        const QString local = checkedLocalPath(entry);
        if (local.isEmpty())
            return;
        if (deletions.size() < info.deleteList.size())
            deletions << local;
    }
    if (info.fileList.isEmpty()) {
        failJob(QStringLiteral("No program files are listed for version %1")
                    .arg(m_versionInfo.lumoryVersion));
        return;
    }
    for (const QString &local : qAsConst(deletions)) {
        qDebug().noquote() << "DeleteFileList=" << local;
        UpdateFiles::removeFile(local);
    }
    m_fileList = info.fileList;
    qDebug() << "解析XML文件 LinkList=" << m_fileList.size();
    m_downloadMode = LumoryFiles;
    qDebug() << "lumory";
    m_state->downloadNumber(m_fileList.size());
    Startdownload(0);
}

void DownloadFile::firmwareUrlFileIn()
{
    const QString path =
        localFor(firmwareEntry(m_versionInfo.productName, "/URLFile/FirmwareFileURL.xml"));
    QStringList files;
    const bool parsed = UpdateFormats::parseFirmwareUrlXml(path, m_versionInfo.productName,
                                                           m_versionInfo.type, &files);
    UpdateFiles::deleteDirectory(directoryOf(path));
    if (!parsed) {
        failJob(QStringLiteral("URL 文件读取错误"));
        return;
    }
    if (files.isEmpty()) {
        failJob(
            QStringLiteral("No firmware files are listed for %1").arg(m_versionInfo.productName));
        return;
    }
    m_fileList = files;
    qDebug() << "LinkList=" << m_fileList.size();
    m_downloadMode = FirmwareFiles;
    qDebug() << "Firmware";
    m_state->downloadNumber(m_fileList.size());
    Startdownload(0);
}

void DownloadFile::firmwareFilesIn()
{
    if (m_fileList.isEmpty()) {
        failJob(QStringLiteral("No firmware files were downloaded"));
        return;
    }
    qDebug() << "开始升级固件";
    m_state->CloseOnlineUpdateWidget();
    const QString first = localFor(m_fileList.first());
    const QString path = directoryOf(first);
    qDebug().noquote() << "StrFile=" << first;
    qDebug().noquote() << "Path==" << path;
    UpdateFiles::EstablishDir(path);
    m_state->UpdateSignal(path);
    endJob();
}

void DownloadFile::lumoryFilesIn()
{
    QString error;
    // The downloads of a read-only installed copy lie outside its folder:
    // the installer would put the new program in the wrong place.
    if (!AppPaths::isAppDirWritable()) {
        failJob(QStringLiteral("The program folder is not writable"));
        return;
    }
    if (!UpdateUpgrradeProgram(&error) || !StartUpgradeProgram(&error)) {
        failJob(error);
        return;
    }
    m_state->MainExit();
    endJob();
}

// ---- installing a new program -----------------------------------------------

bool DownloadFile::UpdateUpgrradeProgram(QString *error)
{
    const QString raw = m_programDir + kLumoryStagingDir;
    const QString home = m_programDir + QStringLiteral("/Upgrade/");
    qDebug().noquote() << "RawDir=" << raw << home;
    if (!QFileInfo(raw).isDir()) {
        qDebug() << "目录不存在";
    } else {
        QString copyError;
        if (!UpdateFiles::copyDirectoryFiles(raw, home, true, &copyError)) {
            *error = QStringLiteral("The installer could not be updated: %1").arg(copyError);
            return false;
        }
        m_filesRemoved = 0;
        UpdateFiles::deleteDirectory(raw, &m_filesRemoved);
    }
    // Files that came over the network carry no execute permission.
    makeExecutable(home + QStringLiteral("Upgrade"));
    makeExecutable(m_programDir + kLumoryNewFilesDir + m_exeName);
    return true;
}

bool DownloadFile::StartUpgradeProgram(QString *error)
{
    qDebug() << "启动安装程序";
    const QString installer = m_programDir + QStringLiteral("/Upgrade/Upgrade");
    const QStringList arguments{
        QStringLiteral("upgrade"),           QString::number(m_fileList.size() - m_filesRemoved),
        m_programDir + QLatin1Char('/'),     m_exeName,
        m_programDir + kLumoryNewFilesDir,   m_programDir + QLatin1Char('/'),
        QString::number(m_state->langType())};
    for (const QString &argument : arguments)
        qDebug().noquote() << "arguments"
                           << "=" << argument;
    if (m_fileList.isEmpty()) {
        *error = QStringLiteral("No program files were downloaded");
        return false;
    }
    if (!QProcess::startDetached(installer, arguments, m_programDir)) {
        *error = QStringLiteral("The installer %1 could not be started").arg(installer);
        return false;
    }
    return true;
}
