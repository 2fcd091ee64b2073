// The XML files of the online update: the program's and the firmware's URL
// lists and the server configuration config/OnlineUpdate.xml. The URL lists
// name server paths, so the harness also checks the one promise their
// parsers make: every path they hand out is a safe one.
#include "fuzzsupport.h"

#include "Update/updatefiles.h"
#include "Update/updateformats.h"

#include <cstdio>
#include <cstdlib>

namespace {

void requireSafe(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (!UpdateFiles::isSafeEntry(path)) {
            std::fprintf(stderr, "unsafe server path handed out: %s\n", qPrintable(path));
            std::abort();
        }
    }
}

} // namespace

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("temp/update.xml"), data, size);

    for (int lang = 0; lang < 2; ++lang) {
        UrlInfo info;
        if (UpdateFormats::parseLumoryUrlXml(path, QStringLiteral("1.0.0"), lang, &info)) {
            requireSafe(info.fileList);
            requireSafe(info.deleteList);
        }
    }
    for (uint32_t type = 0; type < 2; ++type) {
        QStringList files;
        if (UpdateFormats::parseFirmwareUrlXml(path, QStringLiteral("K108"), type, &files))
            requireSafe(files);
    }

    QString problem;
    const UpdateConfig config = UpdateFormats::readUpdateConfig(path, &problem);
    if (config.isConfigured()) {
        const QString url = UpdateFormats::signedUrl(
            config.baseUrl, config.signingKey, QStringLiteral("/UpgradeLumory/version.ini"),
            QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
        volatile int sink = url.size() + config.timeServers.size();
        (void)sink;
    }
    fuzz::resetProblems();
    return 0;
}
