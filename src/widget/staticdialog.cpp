#include "widget/staticdialog.h"

#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/keydesc.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

StaticDialog::StaticDialog(QWidget *parent) : QDialog(parent), m_data(std::make_unique<Data>())
{
    setObjectName(QStringLiteral("staticDialog"));
    setWindowTitle(QStringLiteral("Static Key Layout"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    QVector<KeyDesc> descs;
    m_data->parseStaticKeyBtn(&descs);
    const double u = m_data->staticW();
    const double v = m_data->staticH();
    const int s = Data::keySpacing();
    const LayoutExtent extent = layoutExtent(descs);
    setFixedSize(static_cast<int>(extent.right * u + 40), static_cast<int>(extent.bottom * v + 78));

    auto *title = new QLabel(QStringLiteral("Static Key Layout"), this);
    title->setObjectName(QStringLiteral("staticDialogTitle"));
    title->setStyleSheet(QStringLiteral("color: #e8eaed; font-size: 12pt; font-weight: 600;"));
    title->setGeometry(20, 14, width() - 80, 30);

    const QString icons = AppPaths::imagesDir() + QStringLiteral("StaticKeySvg/BlackImage/");
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("staticDialogClose"));
    m_close->setAutoRaise(true);
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->setIconSize(QSize(18, 18));
    m_close->setGeometry(width() - 48, 12, 32, 32);
    m_close->setStyleSheet(
        QStringLiteral("QToolButton { border: none; image: url(%1close.svg); padding: 7px; }"
                       "QToolButton:hover { image: url(%1close-hover.svg); }")
            .arg(icons));
    connect(m_close, &QToolButton::clicked, this, &StaticDialog::hideSlot);

    for (int i = 0; i < descs.size(); ++i) {
        const KeyDesc &d = descs.at(i);
        auto *key = new KeyBtn(this);
        key->applyDesc(d);
        key->setVectorID(i);
        key->setLook(KeyBtn::PaletteLook);
        key->setGeometry(static_cast<int>(u * d.x + 20), static_cast<int>(v * d.y + 58),
                         static_cast<int>(u * d.w - s + 1), static_cast<int>(v * d.h - s + 1));
        connect(key, &KeyBtn::emitDoubleClick, this, &StaticDialog::keyBtnDoubleClickSlot);
        m_keys.append(key);
    }
    setStaticToolTips(m_keys, m_data->currentStaticTable());
    setStyleSheet(KeyBtn::toolTipStyleSheet());
}

StaticDialog::~StaticDialog() = default;

void StaticDialog::keyBtnDoubleClickSlot(KeyBtn *key)
{
    if (key && !key->isSelect())
        Q_EMIT emitKeyBtnDoubleClicked(key);
}

void StaticDialog::hideSlot()
{
    hide();
    Q_EMIT emitHide();
}

void StaticDialog::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setPen(QColor(QStringLiteral("#2c313a")));
    p.setBrush(QColor(QStringLiteral("#1b1d23")));
    p.drawPath(path);
}
