#include "shortcut/kfcatalogue.h"

#include "widget/fileproblems.h"

#include <QDebug>
#include <QFile>
#include <QXmlStreamReader>

namespace {
int intAttr(const QXmlStreamAttributes &attrs, const char *name)
{
    return attrs.value(QLatin1String(name)).trimmed().toInt();
}

// The number n of an element named "hi<n>", or -1.
int optionListIndex(const QStringRef &tag)
{
    if (tag.size() < 3 || !tag.startsWith(QLatin1String("hi")))
        return -1;
    bool ok = false;
    const int n = tag.mid(2).toInt(&ok);
    return (ok && n >= 0) ? n : -1;
}
} // namespace

int parseKFXML(const QString &path, QVector<KF> *list)
{
    qDebug().noquote() << "parseKFXML=" << path;
    list->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open XML file failed:" << path << file.errorString();
        FileProblems::report(path, 0, 0, file.errorString());
        return -1;
    }
    QXmlStreamReader xml(&file);
    if (xml.readNextStartElement()) {
        while (xml.readNextStartElement()) {
            const QStringRef tag = xml.name();
            const int n = optionListIndex(tag);
            if (tag == QLatin1String("key_func")) {
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("func")) {
                        const QXmlStreamAttributes a = xml.attributes();
                        KF kf;
                        kf.name = a.value(QLatin1String("name")).toString();
                        kf.hi = intAttr(a, "hi");
                        kf.enable = intAttr(a, "enable") != 0;
                        kf.control_type = intAttr(a, "control_type");
                        kf.tips = a.value(QLatin1String("tips")).toString();
                        kf.nameZh = a.value(QLatin1String("name_zh")).toString();
                        kf.tipsZh = a.value(QLatin1String("tips_zh")).toString();
                        list->append(kf);
                    }
                    xml.skipCurrentElement();
                }
            } else if (n >= 0) {
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("item") && n < list->size()) {
                        const QXmlStreamAttributes a = xml.attributes();
                        (*list)[n].options.append(HI{a.value(QLatin1String("name")).toString(),
                                                     intAttr(a, "value"),
                                                     a.value(QLatin1String("name_zh")).toString()});
                    }
                    xml.skipCurrentElement();
                }
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    if (xml.hasError()) {
        const int line = int(xml.lineNumber());
        const int column = int(xml.columnNumber());
        qWarning().noquote() << "parse file failed:" << line << "---" << column << ":"
                             << xml.errorString();
        FileProblems::report(path, line, column, xml.errorString());
        return -1;
    }
    return 0;
}

int kfControlType(const QVector<KF> &list, int hi)
{
    for (const KF &kf : list) {
        if (kf.hi == hi)
            return kf.control_type;
    }
    return E_SCT_NONE;
}
