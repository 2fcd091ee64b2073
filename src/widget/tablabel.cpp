#include "widget/tablabel.h"

#include <QMouseEvent>

TabLabel::TabLabel(const QString &key, const QString &pageName, QWidget *parent)
    : QLabel(parent), m_key(key), m_pageName(pageName)
{
    setObjectName(QStringLiteral("tab_") + key);
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
    setMinimumWidth(110);
    setFixedHeight(40);
    updateStyle();
}

void TabLabel::setTexts(const QString &english, const QString &chinese)
{
    m_english = english;
    m_chinese = chinese;
}

void TabLabel::applyLanguage(int langType)
{
    setText(langType == 0 ? m_chinese : m_english);
}

void TabLabel::setSelected(bool selected)
{
    m_selected = selected;
    updateStyle();
}

void TabLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->pos()))
        Q_EMIT emitClicked(m_pageName);
    QLabel::mouseReleaseEvent(event);
}

void TabLabel::enterEvent(QEvent *event)
{
    m_hover = true;
    updateStyle();
    QLabel::enterEvent(event);
}

void TabLabel::leaveEvent(QEvent *event)
{
    m_hover = false;
    updateStyle();
    QLabel::leaveEvent(event);
}

void TabLabel::updateStyle()
{
    QString color = QStringLiteral("#9aa3b2");
    QString border = QStringLiteral("transparent");
    if (m_selected) {
        color = QStringLiteral("#46e6b7");
        border = QStringLiteral("#46e6b7");
    } else if (m_hover) {
        color = QStringLiteral("#e8eaed");
    }
    setStyleSheet(QStringLiteral("QLabel { color: %1; font-size: 11pt; font-weight: 600;"
                                 " letter-spacing: 2px; border-bottom: 2px solid %2; }"
                                 "QLabel:disabled { color: #4b5160; border-bottom-color: "
                                 "transparent; }")
                      .arg(color, border));
}
