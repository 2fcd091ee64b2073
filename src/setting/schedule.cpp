#include "setting/schedule.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int kSpinMs = 90;
constexpr int kSpinStep = 30;
} // namespace

Schedule::Schedule(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("schedule"));
    setMinimumSize(140, 140);
    m_spinTimer = new QTimer(this);
    m_spinTimer->setInterval(kSpinMs);
    connect(m_spinTimer, &QTimer::timeout, this,
            [this] { setWaitValue((m_spin + kSpinStep) % 360); });
}

QString Schedule::text() const
{
    switch (m_state) {
    case State::Ready:
        return m_readyText;
    case State::Waiting:
        return m_waitText;
    case State::Progress:
        return QString::number(m_percent) + QLatin1Char('%');
    }
    return QString();
}

QColor Schedule::progressColor() const
{
    const int p = m_percent;
    return QColor(255 - p * 164 / 100, p * 209 / 100, p * 183 / 100);
}

void Schedule::setReady()
{
    m_spinTimer->stop();
    m_state = State::Ready;
    m_percent = 0;
    update();
}

void Schedule::setReadyText(const QString &text)
{
    m_readyText = text;
    update();
}

void Schedule::setWaitText(const QString &text)
{
    m_waitText = text;
    update();
}

void Schedule::setRateOfProgress(int percent)
{
    percent = qBound(0, percent, 100);
    if (m_state == State::Progress && percent < m_percent)
        return; // one figure for the whole package: it never falls back
    m_spinTimer->stop();
    m_state = State::Progress;
    m_percent = percent;
    update();
}

void Schedule::setWaitStatus(bool waiting)
{
    if (waiting) {
        if (m_state != State::Progress)
            m_state = State::Waiting;
        m_spinTimer->start();
    } else {
        m_spinTimer->stop();
        if (m_state == State::Waiting)
            m_state = m_percent > 0 ? State::Progress : State::Ready;
    }
    update();
}

void Schedule::setWaitValue(int degrees)
{
    m_spin = ((degrees % 360) + 360) % 360;
    update();
}

void Schedule::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height()) - 16;
    const QRectF ring((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    const qreal pen = qMax(6.0, side / 16.0);

    p.setPen(QPen(QColor(QStringLiteral("#2c313a")), pen));
    p.drawEllipse(ring);
    if (m_state == State::Progress) {
        p.setPen(QPen(progressColor(), pen, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, 90 * 16, -m_percent * 360 * 16 / 100);
    } else if (m_state == State::Waiting || m_spinTimer->isActive()) {
        p.setPen(QPen(QColor(QStringLiteral("#46e6b7")), pen, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, (90 - m_spin) * 16, -70 * 16);
    }
    QFont font = p.font();
    font.setPointSizeF(qMax(12.0, side / 7.5));
    font.setBold(true);
    p.setFont(font);
    p.setPen(m_state == State::Progress ? progressColor() : QColor(QStringLiteral("#e8eaed")));
    p.drawText(ring, Qt::AlignCenter, text());
}
