#pragma once

#include <QDialog>
#include <QString>
#include <QVector>

class KeyBtn;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

// The keyboard layout editor's preview: opens a Keyboard Layout Editor JSON
// file, draws it the way the board would be drawn, names every key by its
// matrix position (A0, B0, ...) and says whether the layout fits the
// connected keyboard. Board makers use it to check a layout before it goes
// into the catalogue.
class BuildingBlock : public QDialog
{
    Q_OBJECT

public:
    // `keyCount`: keys of the connected keyboard (0 when unknown); `rows`,
    // `cols`: its matrix (KLER, KLEC of the catalogue; 0 when unknown).
    BuildingBlock(int keyCount, int rows, int cols, int langType, QWidget *parent = nullptr);

    // Loads and draws a layout file; false when it cannot be read.
    bool loadLayout(const QString &path);

    const QVector<KeyBtn *> &keys() const { return m_keys; }
    QString statusText() const;
    QPushButton *openButton() const { return m_open; }

private:
    void openClicked();
    void clearKeys();

    int m_keyCount = 0;
    int m_rows = 0;
    int m_cols = 0;
    int m_langType = 1;
    QVector<KeyBtn *> m_keys;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_canvas = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_open = nullptr;
};
