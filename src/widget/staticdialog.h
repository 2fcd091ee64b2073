#pragma once

#include <QDialog>
#include <QVector>

#include <memory>

class Data;
class KeyBtn;
class QToolButton;

// "Static Key Layout": a modal chooser showing every assignable key; a double
// click picks one. The key-function and macro editors use it.
class StaticDialog : public QDialog
{
    Q_OBJECT

public:
    explicit StaticDialog(QWidget *parent = nullptr);
    ~StaticDialog() override;

    const QVector<KeyBtn *> &keys() const { return m_keys; }
    QToolButton *closeButton() const { return m_close; }

public Q_SLOTS:
    void keyBtnDoubleClickSlot(KeyBtn *key);
    void hideSlot();

Q_SIGNALS:
    void emitKeyBtnDoubleClicked(KeyBtn *key);
    void emitHide();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Data> m_data;
    QVector<KeyBtn *> m_keys;
    QToolButton *m_close = nullptr;
};
