#include "macro/macroitem.h"

#include "macro/macrokeylayout.h"
#include "main/apppaths.h"
#include "widget/staticdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>

MacroItem::MacroItem(int id, const QString &name, QWidget *parent)
    : QFrame(parent), m_id(id), m_name(name)
{
    setObjectName(QStringLiteral("macroItem"));
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(2);
    auto *header = new QHBoxLayout();
    m_title = new QLabel(name, this);
    m_title->setObjectName(QStringLiteral("macroName"));
    header->addWidget(m_title);
    header->addStretch(1);
    m_load = new QToolButton(this);
    m_load->setObjectName(QStringLiteral("loadButton"));
    m_load->setProperty("role", QStringLiteral("action"));
    m_load->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_load->setCursor(Qt::PointingHandCursor);
    const QString dir = AppPaths::imagesDir() + QStringLiteral("macro/");
    QIcon icon(dir + QStringLiteral("macro-load.svg"));
    icon.addFile(dir + QStringLiteral("macro-load-hover.svg"), QSize(), QIcon::Active);
    icon.addFile(dir + QStringLiteral("macro-load-ban.svg"), QSize(), QIcon::Disabled);
    m_load->setIcon(icon);
    m_load->setIconSize(QSize(16, 16));
    m_load->hide();
    header->addWidget(m_load);
    layout->addLayout(header);
    m_timeline = new MacroKeyLayout(this);
    layout->addWidget(m_timeline);
    connect(m_load, &QToolButton::clicked, this, [this] { Q_EMIT loadRequested(this); });
    connect(m_timeline, &MacroKeyLayout::keyLayoutPressed, this, [this] { Q_EMIT clicked(this); });
    connect(m_timeline, &MacroKeyLayout::emitChanged, this, [this] { setUnsaved(true); });
    updateFrame();
}

void MacroItem::setName(const QString &name)
{
    m_name = name;
    m_title->setText(name);
}

void MacroItem::setSelected(bool selected)
{
    m_selected = selected;
    if (!selected)
        m_timeline->releaseSelection();
    updateFrame();
}

void MacroItem::setUnsaved(bool unsaved)
{
    m_unsaved = unsaved;
    updateFrame();
}

void MacroItem::setBulkDelay(bool on, quint32 ms)
{
    m_bulkOn = on;
    m_bulkMs = ms;
}

void MacroItem::updateFrame()
{
    // Selected: accent border; unsaved changes: a warm left edge.
    const QString border = m_selected ? QStringLiteral("#46e6b7") : QStringLiteral("#2c313a");
    const QString edge = m_unsaved ? QStringLiteral("#e5c07b") : border;
    setStyleSheet(QStringLiteral("QFrame#macroItem { background: #22252d; border: 1px solid %1;"
                                 " border-left: 4px solid %2; border-radius: 8px; }"
                                 "QLabel#macroName { color: #e8eaed; font-size: 10pt;"
                                 " font-weight: 600; }")
                      .arg(border, edge));
    setToolTip(m_unsaved ? QStringLiteral("Not saved to its file yet") : QString());
}

void MacroItem::setLanguage(int langType)
{
    const bool zh = langType == 0;
    m_load->setText(zh ? QStringLiteral("读取") : QStringLiteral("Load"));
    m_load->setToolTip(zh ? QStringLiteral("从键盘读取这个宏")
                          : QStringLiteral("Read this macro from the keyboard"));
    m_timeline->setLanguage(langType);
}

void MacroItem::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked(this);
    QFrame::mousePressEvent(event);
}
