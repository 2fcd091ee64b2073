#include "widget/keybtn.h"

#include "main/apppaths.h"
#include "widget/keydesc.h"

#include <QEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QToolTip>
#include <QXmlStreamReader>

#include <cmath>

namespace {
constexpr int kSpacing = 2;
constexpr double kRadius = 5.0;

// Key pictures are drawn once per file and colour, then reused.
QImage picture(const QString &file, const QSize &size, const QColor &tint)
{
    static QHash<QString, QImage> cache;
    const QString key = file + QLatin1Char('|') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height()) + QLatin1Char('|') + tint.name();
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    if (renderer.isValid()) {
        QPainter p(&image);
        QSize drawn = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
        const QRect target((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2,
                           drawn.width(), drawn.height());
        renderer.render(&p, target);
        // The pictures are line drawings: give them the key's text colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), tint);
    }
    cache.insert(key, image);
    return image;
}

QString pictureFile(const QString &image)
{
    const QString base = image.section(QLatin1Char('.'), 0, 0);
    return AppPaths::imagesDir() + QStringLiteral("StaticKeySvg/BlackImage/") + base +
           QStringLiteral(".svg");
}

bool isLight(const QColor &c)
{
    return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue() > 150;
}
} // namespace

KeyBtn::KeyBtn(QWidget *parent) : QPushButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

QString KeyBtn::toolTipStyleSheet()
{
    return QStringLiteral("QToolTip { color: #e8eaed; background-color: #2c313a;"
                          " border: 1px solid #46e6b7; padding: 3px 6px; }");
}

void KeyBtn::applyDesc(const KeyDesc &desc)
{
    m_type = desc.type;
    m_stype = desc.stype;
    m_code = desc.code;
    m_alias = desc.alias;
    m_name = desc.name;
    m_image = desc.image;
    m_legend = desc.legend;
    m_row = desc.row;
    m_col = desc.col;
    m_vectorIndex = desc.vectorIndex;
    m_locked = desc.locked;
    initRect(QRectF(desc.x, desc.y, desc.w, desc.h), QRectF(desc.x2, desc.y2, desc.w2, desc.h2));
    update();
}

void KeyBtn::initRect(const QRectF &main, const QRectF &second)
{
    m_main = main;
    m_second = second;
    const bool any =
        second.x() != 0 || second.y() != 0 || second.width() != 0 || second.height() != 0;
    m_polygonFirstKind = second.x() != 0 && second.y() != 0 && second.height() != 0;
    m_polygonSecondKind = any && !m_polygonFirstKind;
    if (isPolygonShape())
        lower();
}

QRect KeyBtn::pixelGeometry(double unitX, double unitY, int spacing) const
{
    double left = 0;
    double top = 0;
    double right = m_main.width();
    double bottom = m_main.height();
    if (isPolygonShape()) {
        left = std::min(0.0, m_second.x());
        top = std::min(0.0, m_second.y());
        right = std::max(right, m_second.x() + m_second.width());
        bottom = std::max(bottom, m_second.y() + m_second.height());
    }
    const int x = static_cast<int>(m_main.x() * unitX + left * unitX);
    const int y = static_cast<int>(m_main.y() * unitY + top * unitY);
    const int w = static_cast<int>((right - left) * unitX - spacing);
    const int h = static_cast<int>((bottom - top) * unitY - spacing);
    return QRect(x, y, std::max(w, 1), std::max(h, 1));
}

void KeyBtn::initPolygonSize(int unitPixels, int unitPixelsDown)
{
    m_unitPixels = unitPixels;
    m_unitPixelsDown = unitPixelsDown > 0 ? unitPixelsDown : unitPixels;
    m_spacing = kSpacing;
    updateMask();
    update();
}

QPainterPath KeyBtn::outline() const
{
    QPainterPath path;
    const QRectF all = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (!isPolygonShape() || m_unitPixels <= 0) {
        path.addRoundedRect(all, kRadius, kRadius);
        return path;
    }
    const double u = m_unitPixels;
    const double v = m_unitPixelsDown;
    const double left = std::min(0.0, m_second.x());
    const double top = std::min(0.0, m_second.y());
    const QRectF main((0 - left) * u, (0 - top) * v, m_main.width() * u - m_spacing,
                      m_main.height() * v - m_spacing);
    const QRectF second((m_second.x() - left) * u, (m_second.y() - top) * v,
                        m_second.width() * u - m_spacing, m_second.height() * v - m_spacing);
    QPainterPath a;
    a.addRoundedRect(main.adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    QPainterPath b;
    b.addRoundedRect(second.adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    return a.united(b).simplified();
}

QRegion KeyBtn::hitRegion() const
{
    if (!isPolygonShape() || m_unitPixels <= 0)
        return QRegion(rect());
    return QRegion(outline().toFillPolygon().toPolygon());
}

void KeyBtn::updateMask()
{
    if (isPolygonShape() && m_unitPixels > 0)
        setMask(hitRegion());
    else
        clearMask();
}

void KeyBtn::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    updateMask();
}

void KeyBtn::setRowCol(int row, int col)
{
    KeyDesc desc;
    desc.setRowCol(row, col);
    m_row = row;
    m_col = col;
    m_name = desc.name;
    update();
}

void KeyBtn::setText(const QString &name)
{
    m_name = name;
    update();
}

void KeyBtn::setImage(const QString &image)
{
    m_image = image;
    if (!image.isEmpty())
        m_name = QString();
    update();
}

void KeyBtn::setAlias(const QString &alias)
{
    m_alias = alias;
    update();
}

void KeyBtn::setAliasMode(bool on)
{
    m_aliasMode = on;
    update();
}

void KeyBtn::setTextShow(TextShow show)
{
    m_textShow = show;
    update();
}

void KeyBtn::setMode(int mode)
{
    m_mode = mode;
    update();
}

void KeyBtn::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void KeyBtn::setColorStatus(bool status)
{
    m_colorStatus = status;
}

void KeyBtn::setVectorID(int index)
{
    m_vectorIndex = index;
}

void KeyBtn::setMoveMarker(bool normal)
{
    m_selected = !normal;
    update();
}

void KeyBtn::setEdit(bool edit)
{
    m_edit = edit;
}

void KeyBtn::setLocked(bool locked)
{
    m_locked = locked;
    update();
}

void KeyBtn::setToolTipEnabled(bool enabled)
{
    m_toolTipEnabled = enabled;
}

void KeyBtn::setIdentity(uint16_t type, uint16_t stype, uint16_t code)
{
    m_type = type;
    m_stype = stype;
    m_code = code;
}

void KeyBtn::setLook(Look look)
{
    m_look = look;
    update();
}

QString KeyBtn::shownText() const
{
    if (m_textShow == ShowMode)
        return m_mode >= 0 ? QStringLiteral("M") + QString::number(m_mode) : QString();
    if (!m_image.isEmpty())
        return QString();
    return m_aliasMode ? m_alias : m_name;
}

bool KeyBtn::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && !m_toolTipEnabled)
        return true;
    if (event->type() == QEvent::ToolTip && m_changedMark && !m_markToolTip.isEmpty()) {
        // The mark is small: a few pixels around it count.
        const QRect around = markRect().adjusted(-5, -5, 5, 5).toAlignedRect();
        auto *help = static_cast<QHelpEvent *>(event);
        if (around.contains(help->pos())) {
            QToolTip::showText(help->globalPos(), m_markToolTip, this, around);
            return true;
        }
    }
    return QPushButton::event(event);
}

void KeyBtn::enterEvent(QEvent *event)
{
    m_hover = true;
    update();
    QPushButton::enterEvent(event);
}

void KeyBtn::leaveEvent(QEvent *event)
{
    m_hover = false;
    update();
    QPushButton::leaveEvent(event);
}

void KeyBtn::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        Q_EMIT emitClickKeyBtnSignal(this);
        Q_EMIT emitKeyCodeSignal(this);
        Q_EMIT emitRequestColorSignal(m_vectorIndex);
        Q_EMIT emitShowNetworkPoint(m_row, m_col);
    } else if (event->button() == Qt::RightButton) {
        Q_EMIT emitReleaseControl();
        Q_EMIT emitSetOtherMouseBoader(true);
    }
    event->accept();
}

void KeyBtn::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void KeyBtn::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT emitDoubleClick(this);
    event->accept();
}

void KeyBtn::setFaded(bool faded)
{
    if (m_faded == faded)
        return;
    m_faded = faded;
    update();
}

void KeyBtn::setChangedMark(bool changed)
{
    if (m_changedMark == changed)
        return;
    m_changedMark = changed;
    update();
}

QRectF KeyBtn::markRect() const
{
    // In the top corner of the cap's face, away from the lock (bottom right).
    const double d = 7.0;
    return QRectF(width() - 3.0 - 2.0 - d, 2.0 + 2.0, d, d);
}

void KeyBtn::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_faded && !m_selected)
        p.setOpacity(0.28);
    const QPainterPath path = outline();

    QColor face;
    QColor edge;
    QColor ink;
    if (m_look == PaletteLook) {
        face = m_hover ? QColor(QStringLiteral("#3a404d")) : QColor(QStringLiteral("#2c313a"));
        edge = QColor(QStringLiteral("#3f4552"));
        ink = QColor(QStringLiteral("#e8eaed"));
    } else {
        face = m_color.isValid() ? m_color : QColor(245, 245, 245);
        if (m_hover)
            face = face.lighter(108);
        edge = face.darker(135);
        ink = isLight(face) ? QColor(QStringLiteral("#1b1d23")) : QColor(QStringLiteral("#f5f6f8"));
    }

    // Cap: darker rim, lighter top face.
    p.setPen(Qt::NoPen);
    p.setBrush(edge);
    p.drawPath(path);
    QPainterPath top = path;
    if (m_look == BoardLook) {
        QTransform shrink;
        const QRectF b = path.boundingRect();
        const double sx = (b.width() - 6) / b.width();
        const double sy = (b.height() - 7) / b.height();
        shrink.translate(b.x() + 3, b.y() + 2);
        shrink.scale(sx, sy);
        shrink.translate(-b.x(), -b.y());
        top = shrink.map(path);
    }
    p.setBrush(face);
    p.drawPath(top);

    // Content, centred on the main rectangle.
    QRectF content = top.boundingRect();
    if (isPolygonShape() && m_unitPixels > 0) {
        const double left = std::min(0.0, m_second.x()) * m_unitPixels;
        content = QRectF(-left, 0, m_main.width() * m_unitPixels - m_spacing,
                         m_main.height() * m_unitPixelsDown - m_spacing)
                      .adjusted(3, 2, -3, -5);
    }
    const QString text = shownText();
    if (m_textShow == ShowLegend && !m_image.isEmpty()) {
        const int side = static_cast<int>(std::min(content.width(), content.height()) * 0.55);
        if (side > 2) {
            const QImage img = picture(pictureFile(m_image), QSize(side, side), ink);
            p.drawImage(
                QPointF(content.center().x() - side / 2.0, content.center().y() - side / 2.0), img);
        }
    } else if (!text.trimmed().isEmpty()) {
        QFont f = font();
        const int len = text.size();
        double pt = len <= 2 ? 10.5 : (len <= 5 ? 8.5 : 7.5);
        f.setWeight(QFont::DemiBold);
        // Shrink long legends until they fit the cap.
        const double room = content.width() - 4;
        for (; pt > 6.0; pt -= 0.5) {
            f.setPointSizeF(pt);
            if (QFontMetricsF(f).horizontalAdvance(text) <= room)
                break;
        }
        f.setPointSizeF(pt);
        p.setFont(f);
        p.setPen(ink);
        p.drawText(content.adjusted(2, 0, -2, 0), Qt::AlignCenter | Qt::TextWordWrap, text);
    }

    if (m_locked) {
        const QRectF lockRect(content.right() - 13, content.bottom() - 15, 13, 15);
        const QImage img = picture(pictureFile(QStringLiteral("lock.svg")), QSize(13, 15), ink);
        p.drawImage(lockRect.topLeft(), img);
    }

    if (m_changedMark) {
        // A dot with a dark ring, readable on every cap colour.
        p.setPen(QPen(QColor(0x10, 0x12, 0x17), 1.5));
        p.setBrush(QColor(0xff, 0xb4, 0x54));
        p.drawEllipse(markRect());
    }

    if (m_selected) {
        // Two rings so the mark reads on every cap colour: the accent at the
        // edge and a dark ring inside it. The pens straddle the outline;
        // the clip keeps only their inner halves.
        p.setClipPath(path);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(QStringLiteral("#101217")), 9.0));
        p.drawPath(path);
        p.setPen(QPen(QColor(QStringLiteral("#46e6b7")), 5.0));
        p.drawPath(path);
    }
}

void setStaticToolTips(const QVector<KeyBtn *> &keys, const QString &tableFile)
{
    QFile file(AppPaths::configDir() + tableFile);
    if (tableFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    QXmlStreamReader xml(&file);
    int index = 0;
    while (!xml.atEnd() && index < keys.size()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("key"))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.value(QLatin1String("code")).isEmpty())
            continue;
        const QString name = a.value(QLatin1String("name")).toString().trimmed();
        keys.at(index++)->setToolTip(
            name.isEmpty() ? a.value(QLatin1String("alias")).toString().trimmed() : name);
    }
}
