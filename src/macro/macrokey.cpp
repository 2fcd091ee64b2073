#include "macro/macrokey.h"

#include "main/apppaths.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSvgRenderer>

#include <algorithm>

namespace {

const QColor kInk(0xe8, 0xea, 0xed);
const QColor kAccent(0x46, 0xe6, 0xb7);
const QColor kMuted(0x9a, 0xa0, 0xa6);
const QColor kEdge(0x3f, 0x45, 0x52);
const QColor kFieldFace(0x1b, 0x1d, 0x23);
const QColor kBanned(0x5a, 0x62, 0x70);

constexpr int kButtonSize = 14;
constexpr int kFrameTop = 17;
constexpr int kFrameWidth = 40;
constexpr int kFrameHeight = 46;
constexpr int kCapHeight = 32; // the cap part of the frame picture; the arrow is below
constexpr int kPictureSide = 20;
constexpr int kDotSize = 10;
constexpr int kTotalTop = 78;
constexpr int kTotalHeight = 12;
const QRect kDelayField(4, 25, 40, 18); // in the delay column

// SVG pictures drawn once per file, size and tint (an invalid tint keeps the
// picture's own colours), then reused by every event of every timeline.
QImage picture(const QString &file, const QSize &size, qreal ratio, const QColor &tint = QColor())
{
    static QHash<QString, QImage> cache;
    const QString key = file + QLatin1Char('|') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height()) + QLatin1Char('@') + QString::number(ratio) +
                        QLatin1Char('|') + (tint.isValid() ? tint.name() : QString());
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    if (renderer.isValid()) {
        QPainter p(&image);
        const QSize drawn = renderer.defaultSize().scaled(image.size(), Qt::KeepAspectRatio);
        renderer.render(&p, QRect((image.width() - drawn.width()) / 2,
                                  (image.height() - drawn.height()) / 2, drawn.width(),
                                  drawn.height()));
        if (tint.isValid()) {
            p.setCompositionMode(QPainter::CompositionMode_SourceIn);
            p.fillRect(image.rect(), tint);
        }
    }
    image.setDevicePixelRatio(ratio);
    cache.insert(key, image);
    return image;
}

QString macroPicture(const QString &name)
{
    return AppPaths::imagesDir() + QStringLiteral("macro/") + name;
}

// The small round buttons of an event, drawn as line glyphs.
class GlyphButton : public QAbstractButton
{
public:
    GlyphButton(Key::Action action, QWidget *parent) : QAbstractButton(parent), m_action(action)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool hover = underMouse() && isEnabled();
        const QColor ink = !isEnabled() ? kBanned : hover ? kAccent : kMuted;
        // A face of its own, so the time axis does not run through the glyph.
        p.setPen(Qt::NoPen);
        p.setBrush(hover ? QColor(0x2c, 0x31, 0x3a) : kFieldFace);
        p.drawEllipse(r);
        p.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const QPointF c = r.center();
        const qreal s = r.width() / 2 - 3; // half the glyph
        switch (m_action) {
        case Key::AddDelay: // a clock
            p.drawEllipse(c, s + 0.5, s + 0.5);
            p.drawLine(c, c - QPointF(0, s - 1));
            p.drawLine(c, c + QPointF(s - 1.5, 0));
            break;
        case Key::AddPair: // plus
            p.drawLine(c - QPointF(s, 0), c + QPointF(s, 0));
            p.drawLine(c - QPointF(0, s), c + QPointF(0, s));
            break;
        case Key::DeletePair: // minus in a ring
            p.drawEllipse(c, s + 0.5, s + 0.5);
            p.drawLine(c - QPointF(s - 1.5, 0), c + QPointF(s - 1.5, 0));
            break;
        case Key::DeleteDelay: // cross
            p.drawLine(c - QPointF(s - 1, s - 1), c + QPointF(s - 1, s - 1));
            p.drawLine(c + QPointF(-(s - 1), s - 1), c + QPointF(s - 1, -(s - 1)));
            break;
        case Key::MovePerv:
        case Key::MoveNext: {
            const qreal d = m_action == Key::MovePerv ? 1 : -1;
            const QPointF tip = c - QPointF(d * (s - 2), 0);
            p.drawLine(tip, tip + QPointF(d * (s - 1), -(s - 0.5)));
            p.drawLine(tip, tip + QPointF(d * (s - 1), s - 0.5));
            break;
        }
        case Key::ActionCount:
            break;
        }
    }

private:
    Key::Action m_action;
};

} // namespace

Key::Key(const TimelineEvent &event, QWidget *parent) : QWidget(parent), m_event(event)
{
    setObjectName(QStringLiteral("macroKey"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::ClickFocus); // a click on an event ends the edit of a delay field
    resize(neededWidth(), kHeight);
    if (hasDelay())
        ensureDelayEdit();
}

Key::~Key() = default;

int Key::neededWidth() const
{
    return kEventWidth + (hasDelay() ? kDelayWidth : 0);
}

QRect Key::frameRect() const
{
    return QRect(columnX() + (kEventWidth - kFrameWidth) / 2, kFrameTop, kFrameWidth, kFrameHeight);
}

QRect Key::buttonRect(Action action) const
{
    const int x = columnX();
    switch (action) {
    case AddDelay:
        return QRect(x + 2, 1, kButtonSize, kButtonSize);
    case AddPair:
        return QRect(x + 18, 1, kButtonSize, kButtonSize);
    case DeletePair:
        return QRect(x + 34, 1, kButtonSize, kButtonSize);
    case MovePerv:
        return QRect(x + 1, kAxisY - kButtonSize / 2, kButtonSize, kButtonSize);
    case MoveNext:
        return QRect(x + kEventWidth - 1 - kButtonSize, kAxisY - kButtonSize / 2, kButtonSize,
                     kButtonSize);
    case DeleteDelay:
        return QRect(kDelayField.right() - 11, kDelayField.top() - 14, 12, 12);
    case ActionCount:
        break;
    }
    return QRect();
}

void Key::setEvent(const TimelineEvent &event, const Face &face)
{
    const bool faceChanged = face.pictureFile != m_face.pictureFile || face.text != m_face.text;
    const bool changed = faceChanged || event.key.delay != m_event.key.delay ||
                         event.key.status != m_event.key.status || event.name != m_event.name;
    m_event = event;
    m_face = face;
    if (hasDelay()) {
        ensureDelayEdit();
        // While the user types, an empty field or the same number stays as typed.
        const QString text = m_delayEdit->text();
        const bool typing =
            m_delayEdit->hasFocus() && (text.isEmpty() || text.toUInt() == m_event.key.delay);
        if (!typing && text != QString::number(m_event.key.delay))
            m_delayEdit->setText(QString::number(m_event.key.delay));
        m_delayEdit->setGeometry(kDelayField);
        m_delayEdit->show();
    } else if (m_delayEdit && !m_delayEdit->isHidden()) {
        // Hiding the focused field must not finish an edit that no longer exists.
        const QSignalBlocker blocker(m_delayEdit);
        m_delayEdit->hide();
    }
    if (faceChanged) {
        const QString name =
            m_event.name.trimmed().isEmpty() ? m_event.alias.trimmed() : m_event.name.trimmed();
        setToolTip(name.isEmpty() ? m_face.text : name);
    }
    if (changed) {
        updateControls();
        update();
    }
}

void Key::setSelection(bool pressed, bool partner, qint64 totalMs)
{
    if (pressed && !m_pressed)
        m_addDelayHidden = false;
    if (pressed == m_pressed && partner == m_partner && totalMs == m_totalMs)
        return;
    m_pressed = pressed;
    m_partner = partner;
    m_totalMs = totalMs;
    updateControls();
    update();
}

void Key::setWarning(bool on)
{
    if (m_warning == on)
        return;
    m_warning = on;
    update();
}

void Key::setMarked(bool on)
{
    if (m_marked == on)
        return;
    m_marked = on;
    update();
}

void Key::hideAddDelayButton()
{
    m_addDelayHidden = true;
    updateControls();
}

QString Key::framePicture() const
{
    const QString base = isDown() ? QStringLiteral("down") : QStringLiteral("up");
    if (m_warning)
        return base + QStringLiteral("-warning.svg");
    if (isSelected() || m_marked)
        return base + QStringLiteral("-select.svg");
    return base + QStringLiteral(".svg");
}

QString Key::dotPicture() const
{
    if (!m_partner)
        return QString();
    return isDown() ? QStringLiteral("dot-down.svg") : QStringLiteral("dot-up.svg");
}

QString Key::totalText() const
{
    if (!m_pressed)
        return QString();
    if (m_totalMs < 100000)
        return QString::number(m_totalMs) + QStringLiteral(" ms");
    return QString::number(m_totalMs / 1000.0, 'f', 1) + QStringLiteral(" s");
}

void Key::focusDelay()
{
    if (!m_delayEdit || m_delayEdit->isHidden())
        return;
    m_delayEdit->setFocus(Qt::OtherFocusReason);
    m_delayEdit->selectAll();
}

void Key::setLanguage(int langType)
{
    if (m_langType == langType)
        return;
    m_langType = langType;
    updateToolTips();
}

void Key::ensureDelayEdit()
{
    if (m_delayEdit)
        return;
    m_delayEdit = new QLineEdit(this);
    m_delayEdit->setObjectName(QStringLiteral("delayEdit"));
    m_delayEdit->setFrame(false); // the key draws the field's border
    m_delayEdit->setAlignment(Qt::AlignCenter);
    m_delayEdit->setMaxLength(5);
    m_delayEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), m_delayEdit));
    QFont f = m_delayEdit->font();
    f.setPointSizeF(8);
    m_delayEdit->setFont(f);
    QPalette pal = m_delayEdit->palette();
    pal.setColor(QPalette::Base, kFieldFace);
    pal.setColor(QPalette::Text, kInk);
    pal.setColor(QPalette::Highlight, kAccent);
    pal.setColor(QPalette::HighlightedText, kFieldFace);
    m_delayEdit->setPalette(pal);
    m_delayEdit->setGeometry(kDelayField);
    m_delayEdit->setText(QString::number(m_event.key.delay));
    m_delayEdit->installEventFilter(this);
    updateToolTips();
    connect(m_delayEdit, &QLineEdit::textEdited, this,
            [this](const QString &text) { Q_EMIT emitDelayEdited(this, text); });
    connect(m_delayEdit, &QLineEdit::editingFinished, this,
            [this] { Q_EMIT emitDelayEditFinished(this); });
}

QAbstractButton *Key::ensureButton(Action action)
{
    if (m_buttons[action])
        return m_buttons[action];
    static const char *const names[ActionCount] = {"addDelayButton", "deleteDelayButton",
                                                   "addPairButton",  "deletePairButton",
                                                   "movePervButton", "moveNextButton"};
    auto *b = new GlyphButton(action, this);
    b->setObjectName(QLatin1String(names[action]));
    b->setGeometry(buttonRect(action));
    connect(b, &QAbstractButton::clicked, this,
            [this, action] { Q_EMIT emitAction(this, action); });
    m_buttons[action] = b;
    updateToolTips();
    return b;
}

void Key::updateControls()
{
    const bool selected = isSelected();
    bool wanted[ActionCount] = {};
    wanted[AddDelay] = m_pressed && !hasDelay() && !m_addDelayHidden;
    wanted[AddPair] = m_pressed;
    wanted[DeletePair] = selected;
    wanted[MovePerv] = m_pressed;
    wanted[MoveNext] = m_pressed;
    wanted[DeleteDelay] = selected && hasDelay();
    for (int a = 0; a < ActionCount; ++a) {
        const auto action = static_cast<Action>(a);
        if (!wanted[a]) {
            if (m_buttons[a])
                m_buttons[a]->hide();
            continue;
        }
        QAbstractButton *b = ensureButton(action);
        b->setGeometry(buttonRect(action));
        b->show();
        b->raise();
    }
}

void Key::updateToolTips()
{
    const bool zh = m_langType == 0;
    static const char *const en[ActionCount] = {"Add delay",  "Delete delay", "Add key",
                                                "Delete key", "Move earlier", "Move later"};
    static const char *const cn[ActionCount] = {"添加延时", "删除延时", "添加按键",
                                                "删除按键", "前移",     "后移"};
    for (int a = 0; a < ActionCount; ++a) {
        if (m_buttons[a])
            m_buttons[a]->setToolTip(QString::fromUtf8(zh ? cn[a] : en[a]));
    }
    if (m_delayEdit)
        m_delayEdit->setToolTip(zh ? QStringLiteral("延时 (毫秒)") : QStringLiteral("delay (ms)"));
}

void Key::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal ratio = devicePixelRatioF();

    if (hasDelay()) {
        // The wait, as a span of the time axis, and the field's border.
        QColor span = kAccent;
        span.setAlpha(150);
        p.setPen(QPen(span, 2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(3, kAxisY), QPointF(kDelayWidth - 3, kAxisY));
        p.drawLine(QPointF(3, kAxisY - 3), QPointF(3, kAxisY + 3));
        p.drawLine(QPointF(kDelayWidth - 3, kAxisY - 3), QPointF(kDelayWidth - 3, kAxisY + 3));
        const bool editing = m_delayEdit && m_delayEdit->hasFocus();
        p.setPen(QPen(editing ? kAccent : kEdge, 1));
        p.setBrush(kFieldFace);
        p.drawRoundedRect(QRectF(kDelayField).adjusted(-1.5, -1.5, 1.5, 1.5), 4, 4);
    }

    const QRect frame = frameRect();
    const QImage look = picture(macroPicture(framePicture()), frame.size(), ratio);
    if (!look.isNull())
        p.drawImage(frame.topLeft(), look);
    const QRect cap(frame.x() + 1, frame.y() + 1, frame.width() - 2, kCapHeight);
    if (!m_face.pictureFile.isEmpty()) {
        const QImage face =
            picture(m_face.pictureFile, QSize(kPictureSide, kPictureSide), ratio, kInk);
        p.drawImage(QPoint(cap.center().x() - kPictureSide / 2 + 1,
                           cap.center().y() - kPictureSide / 2 + 1),
                    face);
    } else if (!m_face.text.isEmpty()) {
        // Names in Arial, shrunk until they fit the cap.
        QFont f(QStringLiteral("Arial"));
        f.setWeight(QFont::DemiBold);
        const qreal room = cap.width() - 4;
        qreal pt = 9;
        for (; pt > 6; pt -= 0.5) {
            f.setPointSizeF(pt);
            if (QFontMetricsF(f).horizontalAdvance(m_face.text) <= room)
                break;
        }
        f.setPointSizeF(pt);
        p.setFont(f);
        p.setPen(kInk);
        const QString shown = QFontMetricsF(f).elidedText(m_face.text, Qt::ElideRight, room);
        p.drawText(cap, Qt::AlignCenter, shown);
    }

    const QString dot = dotPicture();
    if (!dot.isEmpty()) {
        const QRect r(columnX() + (kEventWidth - kDotSize) / 2, kAxisY - kDotSize / 2, kDotSize,
                      kDotSize);
        p.drawImage(r.topLeft(), picture(macroPicture(dot), r.size(), ratio));
    }

    const QString total = totalText();
    if (!total.isEmpty()) {
        QFont f = font();
        f.setPointSizeF(7);
        f.setWeight(QFont::DemiBold);
        p.setFont(f);
        p.setPen(kAccent);
        const int w = QFontMetrics(f).horizontalAdvance(total) + 2;
        int x = columnX() + kEventWidth / 2 - w / 2;
        x = std::max(0, std::min(x, width() - w));
        p.drawText(QRect(x, kTotalTop, w, kTotalHeight), Qt::AlignCenter, total);
    }
}

void Key::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragAnchorX = event->globalPos().x();
        Q_EMIT emitPressed(this);
    }
    event->accept();
}

void Key::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    // One place per 20 pixels dragged; the key moves on under the pointer.
    const int dx = event->globalPos().x() - m_dragAnchorX;
    if (dx >= kDragStep) {
        m_dragAnchorX = event->globalPos().x();
        Q_EMIT emitAction(this, MoveNext);
    } else if (dx <= -kDragStep) {
        m_dragAnchorX = event->globalPos().x();
        Q_EMIT emitAction(this, MovePerv);
    }
    event->accept();
}

void Key::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    event->accept();
}

void Key::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT emitDoubleClicked(this);
    event->accept();
}

bool Key::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_delayEdit) {
        if (event->type() == QEvent::MouseButtonPress)
            Q_EMIT emitPressed(this);
        else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            update();
    }
    return QWidget::eventFilter(watched, event);
}
