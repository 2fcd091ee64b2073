#include "shortcut/shortcutskb.h"

#include "shortcut/hostactions.h"

#include <QDebug>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>

namespace {
constexpr int kColumns = 4;
constexpr int kFeedFirst = 12; // index of the first line break of AutoFeed
constexpr int kFeedStep = 13;  // twelve characters and the break itself

// The program a document/application field starts, as it would be run: the
// whole text when it names a file, otherwise the command line's first word.
// Empty when the field cannot be run at all.
QString programPath(const QString &commandLine)
{
    if (commandLine.trimmed().isEmpty())
        return QString();
    const CommandLine line = splitCommandLine(commandLine);
    return line.ok ? line.program : QString();
}

struct ButtonLook
{
    QIcon icon;
    QString text;
};

ButtonLook webLook(const QFileIconProvider &icons, const QString &url)
{
    const QStringList parts = url.split(QLatin1Char('.'));
    if (parts.size() < 3)
        return {icons.icon(QFileIconProvider::Network), url};
    return {icons.icon(QFileIconProvider::Network),
            ShortcutsKB::AutoFeed(parts.at(1) + QLatin1Char('.') + parts.at(2))};
}

ButtonLook docAppLook(const QFileIconProvider &icons, const QString &commandLine)
{
    const QString path = programPath(commandLine);
    QFileInfo info(path);
    if (!path.isEmpty() && !info.suffix().isEmpty())
        return {icons.icon(QFileIconProvider::File), info.fileName()};
    if (!path.isEmpty() && !path.contains(QLatin1Char('/')) && !info.isFile()) {
        const QString found = QStandardPaths::findExecutable(path);
        if (!found.isEmpty())
            info.setFile(found);
    }
    if (path.isEmpty() || !(info.isFile() || info.isSymLink()))
        return {QIcon(), QStringLiteral("Config Error")};
    return {icons.icon(info), info.baseName()};
}
} // namespace

CPushButton::CPushButton(QWidget *parent) : QPushButton(parent)
{
    setFixedSize(100, 40);
    setIconSize(QSize(14, 14));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void CPushButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const bool hover = testAttribute(Qt::WA_UnderMouse) && isEnabled();
    QColor background(QStringLiteral("#22252d"));
    QColor border(QStringLiteral("#3a4050"));
    QColor textColor(QStringLiteral("#e8eaed"));
    if (!isEnabled()) {
        border = QColor(QStringLiteral("#2c313a"));
        textColor = QColor(QStringLiteral("#5a6270"));
    } else if (isDown()) {
        background = QColor(QStringLiteral("#1d3a33"));
        border = QColor(QStringLiteral("#46e6b7"));
    } else if (hover) {
        background = QColor(QStringLiteral("#2c313a"));
        border = QColor(QStringLiteral("#46e6b7"));
        textColor = QColor(QStringLiteral("#ffffff"));
    }
    painter.setPen(QPen(border, 1));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    constexpr int margin = 2;
    int top = margin;
    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QPixmap pixmap = icon().pixmap(size, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        painter.drawPixmap(QRect(QPoint((width() - size.width()) / 2, top), size), pixmap);
        top += size.height() + 1;
    }

    QFont textFont = font();
    textFont.setPixelSize(10);
    painter.setFont(textFont);
    painter.setPen(textColor);
    const QFontMetrics metrics(textFont);
    const QRect area(4, top, width() - 8, height() - margin - top);
    const QStringList lines = text().split(QLatin1Char('\n'));
    const int shown = qMin(lines.size(), 2);
    const int step = qMin(metrics.height(), area.height() / shown);
    int y = area.top() + (area.height() - step * shown) / 2;
    for (int i = 0; i < shown; ++i) {
        QString line = lines.at(i);
        if (i == shown - 1 && lines.size() > shown)
            line += QStringLiteral("…");
        line = metrics.elidedText(line, Qt::ElideRight, area.width());
        painter.drawText(QRect(area.left(), y, area.width(), step),
                         Qt::AlignHCenter | Qt::AlignVCenter, line);
        y += step;
    }
}

ShortcutsKB::ShortcutsKB(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ShortcutsKB"));
    setWindowTitle(QStringLiteral("Virtual Keyboard"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    rebuild({});
}

void ShortcutsKB::setEntries(const QVector<Entry> &entries)
{
    qDebug() << "SIList" << entries.size();
    rebuild(entries);
}

void ShortcutsKB::rebuild(const QVector<Entry> &entries)
{
    // The old buttons go with the widget holding them; deleting it later lets
    // a button's own click lead here.
    if (m_keyboard) {
        layout()->removeWidget(m_keyboard);
        m_keyboard->hide();
        m_keyboard->deleteLater();
    }
    m_CButtonList.clear();
    m_folderButtons.clear();

    m_keyboard = new QWidget(this);
    m_keyboard->setObjectName(QStringLiteral("keyboardPanel"));
    m_buttonLayout = new QGridLayout(m_keyboard);
    m_buttonLayout->setContentsMargins(0, 0, 0, 0);
    m_buttonLayout->setSpacing(6);

    const QFileIconProvider icons;
    for (int position = 0; position < entries.size(); ++position) {
        const Entry &entry = entries.at(position);
        ButtonLook look;
        switch (entry.type) {
        case kHostWeb:
            look = webLook(icons, entry.text);
            break;
        case kHostDocApp:
            look = docAppLook(icons, entry.text);
            break;
        case kHostFolder:
            look = {icons.icon(QFileIconProvider::Folder), folderText()};
            break;
        default:
            continue;
        }
        auto *button = new CPushButton(m_keyboard);
        button->setIcon(look.icon);
        button->setText(look.text);
        button->setToolTip(entry.toolTip.isEmpty() ? entry.text : entry.toolTip);
        connect(button, &QPushButton::clicked, this,
                [this, position] { Q_EMIT emitExecute(position); });
        m_CButtonList.append(button);
        if (entry.type == kHostFolder)
            m_folderButtons.append(button);
    }

    const int rows = (m_CButtonList.size() + kColumns - 1) / kColumns;
    for (int i = 0; i < m_CButtonList.size(); ++i)
        m_buttonLayout->addWidget(m_CButtonList.at(i), rows - 1 - i / kColumns, i % kColumns);

    static_cast<QGridLayout *>(layout())->addWidget(m_keyboard, 0, 0);
    m_keyboard->show();
    m_keyboard->adjustSize();
    adjustSize();
    // adjustSize() keeps a window within the old fixed size and part of the
    // screen; the buttons set the size.
    setFixedSize(sizeHint());
}

QString ShortcutsKB::AutoFeed(const QString &text)
{
    QString fed = text;
    for (int at = kFeedFirst; at < fed.size(); at += kFeedStep)
        fed.insert(at, QLatin1Char('\n'));
    return fed;
}

void ShortcutsKB::Show()
{
    QScreen *target = screen();
    if (!target)
        target = QGuiApplication::primaryScreen();
    if (target) {
        const QRect area = target->availableGeometry();
        const QSize size = frameGeometry().size();
        int x = area.x() + area.width() / 2 - size.width() / 2;
        x = qMax(area.x(), qMin(x, area.x() + area.width() - size.width()));
        const int y = area.y() + qMax(0, area.height() - size.height());
        move(x, y);
    }
    show();
    raise();
}

void ShortcutsKB::setLanguage(int langType)
{
    m_langType = langType;
    for (CPushButton *button : qAsConst(m_folderButtons))
        button->setText(folderText());
}

QString ShortcutsKB::folderText() const
{
    return m_langType == 0 ? QStringLiteral("文件目录") : QStringLiteral("Folder");
}

void ShortcutsKB::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(QStringLiteral("#2c313a")), 1));
    painter.setBrush(QColor(QStringLiteral("#1b1d23")));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

void ShortcutsKB::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void ShortcutsKB::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPos() - m_dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void ShortcutsKB::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}
