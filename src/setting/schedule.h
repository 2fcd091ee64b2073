#pragma once

#include <QWidget>

class QTimer;

// The round progress indicator of a firmware update: "UPDATE" while ready,
// "WAIT" with a turning arc while the keyboard is awaited, then the
// percentage of the whole package, its ring filling and turning from red to
// the accent colour. The figure never goes backwards during one update.
class Schedule : public QWidget
{
    Q_OBJECT

public:
    enum class State
    {
        Ready,
        Waiting,
        Progress,
    };

    explicit Schedule(QWidget *parent = nullptr);

    State state() const { return m_state; }
    int rateOfProgress() const { return m_percent; }
    QString text() const;
    QColor progressColor() const;
    // Back to "UPDATE" and 0 % (a new update may start).
    void setReady();
    void setReadyText(const QString &text);
    void setWaitText(const QString &text);

    // Percentage of the whole package, 0-100; lower values than the one
    // shown are ignored.
    void setRateOfProgress(int percent);
    // true: waiting for the keyboard (spinner); false: waiting over.
    void setWaitStatus(bool waiting);
    // Spinner position, 0-359 degrees.
    void setWaitValue(int degrees);

    QSize sizeHint() const override { return QSize(180, 180); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    State m_state = State::Ready;
    int m_percent = 0;
    int m_spin = 0;
    QString m_readyText = QStringLiteral("UPDATE");
    QString m_waitText = QStringLiteral("WAIT");
    QTimer *m_spinTimer = nullptr;
};
