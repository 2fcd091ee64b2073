// Macro files: the document written, the tolerant reader, safe file names.
#include "macro/macrocodec.h"
#include "macro/macrofile.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace MacroFile;
using Content = ReadReport::Content;
Q_DECLARE_METATYPE(QVector<DataKey>)
Q_DECLARE_METATYPE(MacroFile::ReadReport::Content)

namespace {
QStringList flat(const QVector<DataKey> &events)
{
    QStringList out;
    for (const DataKey &e : events)
        out << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(e.status)
                   .arg(e.code, 0, 16)
                   .arg(e.type)
                   .arg(e.stype)
                   .arg(e.delay);
    return out;
}

// The elements of a file, attributes in document order; an element not
// indented by 4 spaces per level is marked.
QStringList parsed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {"unreadable"};
    const QList<QByteArray> lines = file.readAll().split('\n');
    QXmlStreamReader xml(lines.join('\n'));
    QStringList out;
    int depth = 0;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isEndElement())
            --depth;
        if (!xml.isStartElement())
            continue;
        QString e = xml.name().toString();
        for (const QXmlStreamAttribute &a : xml.attributes())
            e += QStringLiteral(" %1=%2").arg(a.name(), a.value());
        if (!lines.value(int(xml.lineNumber()) - 1).startsWith(QByteArray(4 * depth, ' ') + '<'))
            e += QStringLiteral(" (badly indented)");
        out << e;
        ++depth;
    }
    return xml.hasError() ? QStringList{xml.errorString()} : out;
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}
} // namespace

class TestMacroFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_folder; // the macro folder, inside m_tmp

private Q_SLOTS:
    void initTestCase()
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        m_folder = m_tmp.filePath("item");
        const QRegularExpression created(QStringLiteral("^文件夹  不存在，创建。 .*/item$"));
        QTest::ignoreMessage(QtDebugMsg, created);
        QVERIFY(ensureFolder(m_folder) && QFileInfo(m_folder).isDir() && ensureFolder(m_folder));
    }

    void save_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QVector<DataKey>>("events");
        QTest::addColumn<QStringList>("document");
        QTest::newRow("empty macro")
            << 3 << QVector<DataKey>{} << QStringList{"MACRO", "ITEM id=3"};
        QTest::newRow("export, code 2c, stype 12")
            << -1 << QVector<DataKey>{{1, 100, 0x2C, 1, 0}, {0, 65535, 0xFFFF, 7, 12}}
            << QStringList{"MACRO", "ITEM id=-1", "KEY0 status=1 code=2c type=1 stype=0 delay=100",
                           "KEY1 status=0 code=ffff type=7 stype=12 delay=65535"};
        QTest::newRow("any other status is a press")
            << 0 << QVector<DataKey>{{2, 0, 4, 1, 0}}
            << QStringList{"MACRO", "ITEM id=0", "KEY0 status=1 code=4 type=1 stype=0 delay=0"};
    }
    void save()
    {
        QFETCH(int, id);
        QFETCH(QVector<DataKey>, events);
        QFETCH(QStringList, document);
        QTemporaryDir dir;
        const QString path = pathIn(dir.path(), QTest::currentDataTag(), id);
        QString error;
        QVERIFY(MacroFile::save(path, id, events, &error) == SaveStatus::Saved);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n"));
        QCOMPARE(parsed(path), document);
        QVector<DataKey> back;
        QCOMPARE(MacroFile::read(path, &back), kRead);
        for (DataKey &e : events)
            e.status = e.isDown();
        QCOMPARE(flat(back), flat(events));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<Content>("content");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("line"); // of the error or the first skipped element
        const QByteArray head = "<?xml version = '1.0' encoding = 'UTF-8'?>\n";
        QTest::newRow("KEY5 KEY1 KEY0")
            << head + "<MACRO>\n<ITEM id='7'>\n<KEY5 status='1'/>\n"
                      "<KEY1 code='4' status='1'/><KEY0/></ITEM></MACRO>"
            << kRead << Content::Macro << QStringList{"1 4 0 0 0", "0 0 0 0 0"} << 1 << 4;
        QTest::newRow("any attribute order, other children count")
            << QByteArray("<MACRO><ITEM><NOTE><KEY0/></NOTE><KEY1 delay='9' stype='3' type='2' "
                          "code=' 2C ' status='1'/></ITEM><ITEM><KEY0 delay=''/></ITEM></MACRO>")
            << kRead << Content::Macro << QStringList{"1 2c 2 3 9", "0 0 0 0 0"} << 0 << 0;
        QTest::newRow("values out of range")
            << QByteArray("<MACRO><ITEM>\n<KEY0 status='2'/>\n<KEY1 status='-1'/>\n"
                          "<KEY2 code='10000'/><KEY3 code='zz'/><KEY4 type='8'/><KEY5 stype='16'/>"
                          "<KEY6 delay='65536'/><KEY7 delay='-5'/><KEY8 delay='1e3'/>"
                          "<KEY9 delay='99999999999999999999'/><KEY10 code='ffff' delay='65535' "
                          "type='7' stype='15' status='1'/></ITEM></MACRO>")
            << kRead << Content::Macro << QStringList{"1 ffff 7 15 65535"} << 10 << 2;
        QTest::newRow("malformed KEY numbers")
            << QByteArray(
                   "<MACRO><ITEM><KEYx/><KEY01/><KEY-1/><KEY/><KEY1.0/><KEY0/></ITEM></MACRO>")
            << kRead << Content::Macro << QStringList{"0 0 0 0 0"} << 5 << 1;
        QTest::newRow("no ITEM") << QByteArray("<MACRO/>") << kRead << Content::Macro
                                 << QStringList{} << 0 << 0;
        QTest::newRow("empty") << QByteArray("") << kUnparsable << Content::Empty << QStringList{}
                               << 0 << 1;
        QTest::newRow("not a macro file")
            << head + "<shortcuts><ITEM><KEY0/></ITEM></shortcuts>" << kUnparsable
            << Content::NotMacro << QStringList{} << 0 << 2;
        QTest::newRow("cut off") << head + "<MACRO><ITEM><KEY0/></ITEM><ITEM><KEY0 status='1'"
                                 << kUnparsable << Content::Unparsable << QStringList{} << 0 << 2;
        QTest::newRow("garbage after the root")
            << QByteArray("<MACRO><ITEM><KEY0/></ITEM></MACRO>\n<") << kUnparsable
            << Content::Unparsable << QStringList{} << 0 << 2;
        QTest::newRow("missing") << QByteArray() << kCannotOpen << Content::Unopenable
                                 << QStringList{} << 0 << 0;
    }
    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, result);
        QFETCH(Content, content);
        QFETCH(QStringList, events);
        QFETCH(int, skipped);
        QFETCH(int, line);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("read.xml"));
        if (!bytes.isNull())
            write(path, bytes);
        if (result == kUnparsable)
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(
                                  QStringLiteral("^parse file  macro.xml failed: \\d+ - \\d+ : ")));
        QVector<DataKey> back{DataKey(1)}; // replaced, never appended to
        ReadReport report;
        QCOMPARE(MacroFile::read(path, &back, &report), result);
        QCOMPARE(report.content, content);
        QCOMPARE(flat(back), events);
        QCOMPARE(report.skipped, skipped);
        QCOMPARE(report.line, line);
        QCOMPARE(report.location().isEmpty(), line == 0 && content != Content::Unopenable);
        QCOMPARE(report.frames, MacroCodec::framesNeeded(back));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::newRow("plain") << "Intro"
                               << "Intro.xml";
        QTest::newRow("16 bytes") << "宏宏宏宏宏x"
                                  << "宏宏宏宏宏x.xml";
        QTest::newRow("17 bytes") << "宏宏宏宏宏xy"
                                  << "Macro5.xml";
        QTest::newRow("empty") << ""
                               << "Macro5.xml";
        QTest::newRow("..") << ".."
                            << "Macro5.xml";
        QTest::newRow("up") << "../evil"
                            << "Macro5.xml";
        QTest::newRow("backslash") << "a\\b"
                                   << "Macro5.xml";
        QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << "Macro5.xml";
        QTest::newRow("new line") << "a\nb"
                                  << "Macro5.xml";
        QTest::newRow("not in the local encoding") << QString(QChar(0xDC00)) << "Macro5.xml";
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QCOMPARE(fileNameFor(name, 5), file);
        const QString path = pathIn(m_folder, name, 5);
        QCOMPARE(path, QDir(m_folder).filePath(file));
        QCOMPARE(pathIn(QString(), name, 5), QString()); // no folder, no file
        QCOMPARE(MacroFile::save(path, 5, {}), SaveStatus::Saved);
        QCOMPARE(QDir(m_tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"item"});
        QVERIFY(removeFile(m_folder, name, 5) && !QFile::exists(path));
    }

    void linksOutOfTheFolder()
    {
        const QString outside = m_tmp.filePath("outside.xml");
        write(outside, "precious");
        QVERIFY(QFile::link("../outside.xml", m_tmp.filePath("item/Link.xml")));
        QVERIFY(QFile::link("Link.xml", m_tmp.filePath("item/Hop.xml")));
        for (const char *name : {"Link", "Hop"}) {
            QCOMPARE(pathIn(m_folder, name, 1), QString());
            QVERIFY(MacroFile::save(pathIn(m_folder, name, 1), 1, {}) == SaveStatus::WriteFailed);
            QVERIFY(!removeFile(m_folder, name, 1) && !renameFile(m_folder, name, 1, "New", 1));
        }
        QVERIFY(QFileInfo(m_tmp.filePath("item/Hop.xml")).isSymLink());
        QFile f(outside);
        QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll() == "precious");
        QVERIFY(QFile::remove(m_tmp.filePath("item/Link.xml")) && QFile::remove(outside) &&
                QFile::remove(m_tmp.filePath("item/Hop.xml")));
    }

    void renameAndRemove()
    {
        const QVector<DataKey> one{{1, 10, 4, 1, 0}};
        QVERIFY(MacroFile::save(pathIn(m_folder, "Macro1", 1), 1, one) == SaveStatus::Saved);
        QVERIFY(MacroFile::save(pathIn(m_folder, "Taken", 2), 2, {}) == SaveStatus::Saved);
        QVERIFY(renameFile(m_folder, "Macro1", 1, "Intro", 1));
        QVERIFY(!renameFile(m_folder, "Intro", 1, "Taken", 1)); // nothing is replaced
        QVERIFY(renameFile(m_folder, "Never saved", 3, "Other", 3));
        QVERIFY(QDir(m_folder).mkdir("Dir.xml"));
        write(QDir(m_folder).filePath("Plain"), "not ours");
        QVERIFY(!removeFile(m_folder, "Dir", 4) && !renameFile(m_folder, "Dir", 4, "D2", 4));
        QVERIFY(removeFile(m_folder, "Plain", 4) && removeFile(m_folder, "Gone", 4));
        QCOMPARE(QDir(m_folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 (QStringList{"Dir.xml", "Intro.xml", "Plain", "Taken.xml"}));
        QVector<DataKey> back;
        QVERIFY(MacroFile::read(pathIn(m_folder, "Intro", 1), &back) == kRead);
        QCOMPARE(flat(back), flat(one));
        QVERIFY(removeFile(m_folder, "Intro", 1) && removeFile(m_folder, "Taken", 2));
        QVERIFY(QDir(m_folder).rmdir("Dir.xml") && QFile::remove(QDir(m_folder).filePath("Plain")));
    }

    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("folder is a file") << false;
        QTest::newRow("write cut off") << true;
    }
    void failedSaveKeepsOldFile()
    {
        QFETCH(bool, diskFull);
        const QString old = diskFull ? pathIn(m_folder, "Old", 1) : m_tmp.filePath("blocker");
        const QString target = diskFull ? old : old + QStringLiteral("/Old.xml");
        const QVector<DataKey> one{{1, 10, 4, 1, 0}};
        QVERIFY(MacroFile::save(old, 1, one) == SaveStatus::Saved);
        QVERIFY(!ensureFolder(old));
        QVector<DataKey> many;
        for (int i = 0; i < 2048; ++i)
            many.append(DataKey(i % 2, 30, uint16_t(4 + i % 20), 1, 0));
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = 4096; // files may not grow past 4 KiB, as on a full disk
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        if (diskFull)
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        QString error;
        const SaveStatus status = MacroFile::save(target, 1, many, &error);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previous);
        QVERIFY(status == SaveStatus::WriteFailed && !error.isEmpty());
        QVector<DataKey> back;
        QCOMPARE(MacroFile::read(old, &back), kRead);
        QCOMPARE(flat(back), flat(one));
        QCOMPARE(QDir(QFileInfo(old).path()).entryList({"*Old*", "blocker*"}, QDir::AllEntries),
                 QStringList{QFileInfo(old).fileName()});
        QFile::remove(old);
    }
};

QTEST_GUILESS_MAIN(TestMacroFile)
#include "tst_macrofile.moc"
