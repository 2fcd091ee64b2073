#pragma once

#include <QLabel>
#include <QString>

// One entry of the page tab bar: a clickable label that names the page it opens.
class TabLabel : public QLabel
{
    Q_OBJECT

public:
    TabLabel(const QString &key, const QString &pageName, QWidget *parent = nullptr);

    QString key() const { return m_key; }
    QString pageName() const { return m_pageName; }

    void setTexts(const QString &english, const QString &chinese);
    void applyLanguage(int langType);
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }

Q_SIGNALS:
    void emitClicked(const QString &pageName);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void updateStyle();

    QString m_key;
    QString m_pageName;
    QString m_english;
    QString m_chinese;
    bool m_selected = false;
    bool m_hover = false;
};
