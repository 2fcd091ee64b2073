#pragma once

#include <QFrame>
#include <QString>

class MacroKeyLayout;
class QLabel;
class QToolButton;

// One macro of the macro page: its slot on the keyboard, its name and its
// timeline. The load button shows while the keyboard holds frames for the
// slot that are not drawn yet; the border tells whether the macro is
// selected and whether it has changes that are not saved to its file.
class MacroItem : public QFrame
{
    Q_OBJECT

public:
    MacroItem(int id, const QString &name, QWidget *parent = nullptr);

    int id() const { return m_id; }
    QString name() const { return m_name; }
    void setName(const QString &name);
    MacroKeyLayout *timeline() const { return m_timeline; }
    QToolButton *loadButton() const { return m_load; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool isUnsaved() const { return m_unsaved; }
    void setUnsaved(bool unsaved);

    // "Modify all default delays" as this macro last had it.
    bool bulkDelayOn() const { return m_bulkOn; }
    quint32 bulkDelayMs() const { return m_bulkMs; }
    void setBulkDelay(bool on, quint32 ms);

    void setLanguage(int langType);

Q_SIGNALS:
    // The user pressed the macro or its timeline.
    void clicked(MacroItem *item);
    void loadRequested(MacroItem *item);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void updateFrame();

    int m_id = 0;
    QString m_name;
    bool m_selected = false;
    bool m_unsaved = false;
    bool m_bulkOn = false;
    quint32 m_bulkMs = 0;
    QLabel *m_title = nullptr;
    QToolButton *m_load = nullptr;
    MacroKeyLayout *m_timeline = nullptr;
};
