#include "widget/buildingblock.h"

#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/dialogs.h"
#include "widget/keybtn.h"
#include "widget/keydesc.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
constexpr double kUnit = 40.0;
} // namespace

BuildingBlock::BuildingBlock(int keyCount, int rows, int cols, int langType, QWidget *parent)
    : QDialog(parent), m_keyCount(keyCount), m_rows(rows), m_cols(cols), m_langType(langType)
{
    const bool zh = langType == 0;
    setObjectName(QStringLiteral("buildingBlock"));
    setWindowTitle(zh ? QStringLiteral("布局编辑器") : QStringLiteral("Layout Editor"));
    resize(1000, 420);
    // Opaque and themed whatever the parent is (the main window is frameless
    // and translucent), with a border that sets it off from the page behind
    // it where the desktop draws no frame.
    setAttribute(Qt::WA_TranslucentBackground, false);
    setAttribute(Qt::WA_StyledBackground);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0x1b, 0x1d, 0x23));
    setPalette(palette);
    setStyleSheet(QStringLiteral("QDialog#buildingBlock { background: #1b1d23;"
                                 " border: 1px solid #3a3f4b; }"
                                 "QLabel { color: #c9ced8; background: transparent; }"
                                 "QScrollArea { background: #22252d; border: 1px solid #2c313a;"
                                 " border-radius: 8px; }"
                                 "QWidget#layoutCanvas { background: #22252d; }"
                                 "QPushButton { background: #2c313a; color: #e8eaed;"
                                 " border: 1px solid #3a3f4b; border-radius: 6px;"
                                 " padding: 6px 14px; }"
                                 "QPushButton:hover { border-color: #46e6b7; }"));

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout();
    m_open = new QPushButton(
        zh ? QStringLiteral("打开布局文件…") : QStringLiteral("Open Layout File…"), this);
    m_open->setObjectName(QStringLiteral("openLayout"));
    connect(m_open, &QPushButton::clicked, this, &BuildingBlock::openClicked);
    top->addWidget(m_open);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("layoutStatus"));
    top->addWidget(m_status, 1);
    layout->addLayout(top);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignCenter);
    m_canvas = new QWidget();
    m_canvas->setObjectName(QStringLiteral("layoutCanvas"));
    m_scroll->setWidget(m_canvas);
    layout->addWidget(m_scroll, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_status->setText(zh ? QStringLiteral("选择一个 Keyboard Layout Editor JSON 文件进行检查。")
                         : QStringLiteral("Choose a Keyboard Layout Editor JSON file to check."));
}

void BuildingBlock::clearKeys()
{
    qDeleteAll(m_keys);
    m_keys.clear();
}

void BuildingBlock::openClicked()
{
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Open;
    request.caption = windowTitle();
    request.directory = AppPaths::configDir() + QStringLiteral("layout");
    request.filter = QStringLiteral("Keyboard layout (*.json)");
    const QString path = Dialogs::file(this, request);
    if (!path.isEmpty())
        loadLayout(path);
}

bool BuildingBlock::loadLayout(const QString &path)
{
    const bool zh = m_langType == 0;
    Data data;
    QVector<KeyDesc> descs;
    QString fullPath = path;
    if (!Data::CheckoutFileFormat(path) ||
        !data.parseJsonFileForFix(&descs, QString(), &fullPath)) {
        m_status->setText(zh ? QStringLiteral("无法读取 %1").arg(QFileInfo(path).fileName())
                             : QStringLiteral("Cannot read %1").arg(QFileInfo(path).fileName()));
        return false;
    }
    clearKeys();
    const LayoutExtent extent = layoutExtent(descs);
    // Row by row in the file, column by column within a row: the matrix
    // position each key would have on a plainly wired board.
    int row = -1;
    int col = 0;
    double lastY = -1;
    for (int i = 0; i < descs.size(); ++i) {
        KeyDesc d = descs.at(i);
        if (d.y != lastY) {
            ++row;
            col = 0;
            lastY = d.y;
        }
        d.setRowCol(row, col++);
        auto *key = new KeyBtn(m_canvas);
        key->applyDesc(d);
        key->setVectorID(i);
        key->setLook(KeyBtn::PaletteLook);
        key->setToolTip(QStringLiteral("#%1  %2  %3").arg(i).arg(d.name, d.legend));
        key->setGeometry(key->pixelGeometry(kUnit, kUnit, Data::keySpacing()));
        key->initPolygonSize(static_cast<int>(kUnit));
        key->show();
        m_keys.append(key);
    }
    m_canvas->setFixedSize(static_cast<int>(extent.right * kUnit) + 2,
                           static_cast<int>(extent.bottom * kUnit) + 2);

    QString text = (zh ? QStringLiteral("%1：%2 个按键，%3 × %4 单位")
                       : QStringLiteral("%1: %2 keys, %3 × %4 units"))
                       .arg(QFileInfo(path).fileName())
                       .arg(descs.size())
                       .arg(extent.right)
                       .arg(extent.bottom);
    if (m_keyCount > 0) {
        if (descs.size() == m_keyCount)
            text += zh ? QStringLiteral("，与此键盘相符。")
                       : QStringLiteral(" — matches this keyboard.");
        else
            text += (zh ? QStringLiteral("，此键盘有 %1 个按键！")
                        : QStringLiteral(" — this keyboard has %1 keys!"))
                        .arg(m_keyCount);
    }
    if (m_rows > 0 && m_cols > 0 && row + 1 > m_rows)
        text += (zh ? QStringLiteral(" 行数超过矩阵的 %1 行。")
                    : QStringLiteral(" More rows than the matrix's %1."))
                    .arg(m_rows);
    m_status->setText(text);
    return true;
}

QString BuildingBlock::statusText() const
{
    return m_status->text();
}
