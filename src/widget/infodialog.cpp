#include "widget/infodialog.h"

#include "main/apppaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDomDocument>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

bool InfoDialog::load(const QString &path, const QString &section, int langType, QString *title,
                      QString *body)
{
    QFile file(path);
    QDomDocument doc;
    QString error;
    int line = 0;
    int column = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open XML file failed:" << path << file.errorString();
        return false;
    }
    if (!doc.setContent(&file, &error, &line, &column)) {
        qWarning().noquote() << "Open XML file failed:" << path << error << line << column;
        return false;
    }
    const QString lang = QString::number(langType == 0 ? 0 : 1);
    const QDomElement root = doc.documentElement().firstChildElement(section);
    for (QDomElement e = root.firstChildElement(QStringLiteral("title")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("title"))) {
        if (!e.hasAttribute(QStringLiteral("lang")) || e.attribute(QStringLiteral("lang")) == lang)
            *title = e.text().trimmed();
    }
    QString html;
    for (QDomElement e = root.firstChildElement(QStringLiteral("entry")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("entry"))) {
        if (e.hasAttribute(QStringLiteral("lang")) && e.attribute(QStringLiteral("lang")) != lang)
            continue;
        const QString heading = e.attribute(QStringLiteral("heading"));
        if (!heading.isEmpty())
            html += QStringLiteral("<h3>%1</h3>").arg(heading.toHtmlEscaped());
        html += QStringLiteral("<p>%1</p>")
                    .arg(e.text().trimmed().toHtmlEscaped().replace(QLatin1Char('\n'),
                                                                    QStringLiteral("<br>")));
    }
    *body = html;
    return true;
}

InfoDialog::InfoDialog(Kind kind, int langType, QWidget *parent) : QDialog(parent)
{
    const QString section = kind == About ? QStringLiteral("about") : QStringLiteral("help");
    const QString path = AppPaths::configDir() + section + QStringLiteral(".xml");
    if (!load(path, section, langType, &m_title, &m_body)) {
        m_title = kind == About ? QStringLiteral("Lumory") : QStringLiteral("Help");
        m_body = QStringLiteral("<p>%1</p>").arg(QCoreApplication::applicationVersion());
    }
    setObjectName(section + QStringLiteral("Dialog"));
    setWindowTitle(m_title);
    setMinimumSize(420, kind == About ? 260 : 380);

    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(m_title, this);
    heading->setObjectName(QStringLiteral("infoTitle"));
    heading->setStyleSheet(QStringLiteral("font-size: 16pt; font-weight: 600; color: #46e6b7;"));
    layout->addWidget(heading);

    auto *text = new QLabel(m_body, this);
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    text->setOpenExternalLinks(true);
    text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(text);
    layout->addWidget(scroll, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
