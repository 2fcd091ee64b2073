#include "setting/Language.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"
#include "widget/fileproblems.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QXmlStreamWriter>

namespace {
Language *g_instance = nullptr;
}

Language::Language(QObject *parent) : QObject(parent)
{
    // Written where this user may write; read from there when present, else
    // from the shipped copy.
    m_filePath = AppPaths::writablePath(AppPaths::configDir() + QStringLiteral("Language.xml"));
    read();
    g_instance = this;
    applyQtTexts();
}

Language::~Language()
{
    if (m_qtTextsInstalled)
        QCoreApplication::removeTranslator(&m_qtTexts);
    if (g_instance == this)
        g_instance = nullptr;
}

void Language::applyQtTexts()
{
    if (!QCoreApplication::instance())
        return;
    const bool chinese = m_langType == Chinese;
    if (chinese == m_qtTextsInstalled)
        return;
    if (!chinese) {
        QCoreApplication::removeTranslator(&m_qtTexts);
        m_qtTextsInstalled = false;
        return;
    }
    if (m_qtTexts.isEmpty() &&
        !m_qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        qDebug() << "Language: Qt's Chinese texts are not installed";
        return;
    }
    m_qtTextsInstalled = QCoreApplication::installTranslator(&m_qtTexts);
}

Language *Language::instance()
{
    return g_instance;
}

void Language::read()
{
    const QString path =
        AppPaths::readablePath(AppPaths::configDir() + QStringLiteral("Language.xml"));
    QFile file(path);
    if (!file.exists()) {
        QDir().mkpath(QFileInfo(m_filePath).absolutePath());
        QFile fresh(m_filePath);
        if (fresh.open(QIODevice::WriteOnly))
            fresh.close();
        file.setFileName(m_filePath);
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Language: cannot open" << file.fileName();
        if (file.exists())
            FileProblems::report(file.fileName(), 0, 0, file.errorString());
        return;
    }
    const QByteArray content = file.readAll();
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(content, &message, &line, &column)) {
        qWarning().noquote() << "Language: parse file failed:" << line << column << message;
        // The empty file made for a first start holds nothing; anything else
        // stays as it is until the next change sets it aside.
        if (!content.trimmed().isEmpty())
            FileProblems::report(file.fileName(), line, column, message);
        return;
    }
    const QDomNodeList nodes = doc.elementsByTagName(QStringLiteral("Language"));
    if (nodes.isEmpty())
        return;
    bool ok = false;
    const int type = nodes.at(0).toElement().attribute(QStringLiteral("Language")).toInt(&ok);
    if (ok && (type == Chinese || type == English))
        m_langType = type;
    else
        qWarning().noquote() << "Language: unknown language value in" << file.fileName();
}

bool Language::write() const
{
    QByteArray data;
    QXmlStreamWriter xml(&data);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeProcessingInstruction(QStringLiteral("xml"),
                                   QStringLiteral("version = \"1.0\" encoding = \"UTF-8\""));
    xml.writeStartElement(QStringLiteral("COMMAND"));
    xml.writeStartElement(QStringLiteral("Language"));
    xml.writeAttribute(QStringLiteral("Language"), QString::number(m_langType));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    // Auto-formatting puts a newline before the declaration; the file starts with it.
    if (data.startsWith('\n'))
        data.remove(0, 1);

    QString error;
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    AtomicFile::setAsideBrokenXml(m_filePath);
    if (!AtomicFile::write(m_filePath, data, &error)) {
        qWarning().noquote() << "Language: cannot write" << m_filePath << error;
        return false;
    }
    return true;
}

void Language::setLanguage(int type)
{
    m_langType = (type == Chinese) ? Chinese : English;
    write();
    applyQtTexts();
    Q_EMIT LanguageChange(m_langType);
}

void Language::UpdateLangua()
{
    Q_EMIT LanguageChange(m_langType);
}
