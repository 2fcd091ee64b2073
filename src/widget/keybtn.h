#pragma once

#include <QColor>
#include <QPushButton>
#include <QRectF>
#include <QString>
#include <QVector>

#include <cstdint>

struct KeyDesc;

// One drawn key: both a widget and a key identity (type, stype, code).
// Board keys show what the keyboard's key currently does; palette keys are
// the assignable keys. Polygon keys (ISO Enter) are the union of two
// rectangles, for painting and for hit testing.
class KeyBtn : public QPushButton
{
    Q_OBJECT

public:
    enum TextShow
    {
        ShowLegend = 0,
        ShowMode = 1
    };
    enum Look
    {
        BoardLook,
        PaletteLook
    };

    explicit KeyBtn(QWidget *parent = nullptr);

    // Style-sheet rule for the tool tips of a window showing keys: light
    // text on an opaque dark box.
    static QString toolTipStyleSheet();

    // Takes identity, labels and geometry from a parsed description.
    void applyDesc(const KeyDesc &desc);

    // Geometry in layout units; the second rectangle's x2/y2 are relative
    // to the main one.
    void initRect(const QRectF &main, const QRectF &second);
    // Sizes the outline of a polygon key from pixels per unit (across, down).
    void initPolygonSize(int unitPixels, int unitPixelsDown = 0);
    // Widget geometry for U x V pixels per unit and `spacing` pixels between
    // keys, relative to the layout origin. Covers both rectangles.
    QRect pixelGeometry(double unitX, double unitY, int spacing) const;
    void setRowCol(int row, int col);

    void setText(const QString &name);
    void setImage(const QString &image);
    void setAlias(const QString &alias);
    void setAliasMode(bool on);
    void setTextShow(TextShow show);
    void setMode(int mode);
    void setColor(const QColor &color);
    void setColorStatus(bool status);
    void setVectorID(int index);
    // false marks the key selected, true returns it to normal.
    void setMoveMarker(bool normal);
    void setEdit(bool edit);
    void setLocked(bool locked);
    void setToolTipEnabled(bool enabled);
    void setIdentity(uint16_t type, uint16_t stype, uint16_t code);
    void setLook(Look look);
    void setLegend(const QString &legend) { m_legend = legend; }
    // A palette key the search does not match: drawn faint, still clickable.
    void setFaded(bool faded);
    bool isFaded() const { return m_faded; }
    // A board key whose code differs from the keyboard's default: a small
    // mark in the cap's top corner.
    void setChangedMark(bool changed);
    bool hasChangedMark() const { return m_changedMark; }
    // What the mark's own tool tip says (the key's default); the rest of the
    // cap keeps the key's tool tip.
    void setMarkToolTip(const QString &text) { m_markToolTip = text; }
    QString markToolTip() const { return m_markToolTip; }
    // Where the mark is drawn, in widget coordinates.
    QRectF markRect() const;

    uint16_t getCode() const { return m_code; }
    uint16_t getType() const { return m_type; }
    uint16_t getStype() const { return m_stype; }
    QString getText() const { return m_name; }
    QString getName() const { return m_name; }
    QString getAlias() const { return m_alias; }
    QString getImage() const { return m_image; }
    QString getLegend() const { return m_legend; }
    int getRow() const { return m_row; }
    int getCol() const { return m_col; }
    int getVectorIndex() const { return m_vectorIndex; }
    int getMode() const { return m_mode; }
    QColor getColor() const { return m_color; }
    bool getColorStatus() const { return m_colorStatus; }
    bool isLocked() const { return m_locked; }
    bool isSelect() const { return m_selected; }
    bool isPolygon() const { return m_polygonFirstKind; }
    bool isPolygonShape() const { return m_polygonFirstKind || m_polygonSecondKind; }
    bool isEdit() const { return m_edit; }
    bool isMoveAction() const { return !m_selected; }
    TextShow textShow() const { return m_textShow; }
    QRectF mainRect() const { return m_main; }
    QRectF secondRect() const { return m_second; }
    // The text the key shows now (name, alias or "M<mode>"); empty when a picture shows.
    QString shownText() const;
    // The region that reacts to the mouse, in widget coordinates.
    QRegion hitRegion() const;

Q_SIGNALS:
    void emitClickKeyBtnSignal(KeyBtn *key);
    void emitKeyCodeSignal(KeyBtn *key);
    void emitRequestColorSignal(int index);
    void emitShowNetworkPoint(int row, int col);
    void emitReleaseControl();
    void emitSetOtherMouseBoader(bool on);
    void emitDoubleClick(KeyBtn *key);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    QPainterPath outline() const;
    void updateMask();

    uint16_t m_type = 0;
    uint16_t m_stype = 0;
    uint16_t m_code = 0;
    QString m_alias = QStringLiteral(" ");
    int m_mode = -1;
    bool m_locked = false;
    bool m_selected = false;
    QRectF m_main;
    QRectF m_second; // x2, y2 relative to the main rectangle; w2, h2
    QString m_legend;
    int m_row = -1;
    int m_col = -1;
    QColor m_color = QColor(QStringLiteral("#ffffff"));
    bool m_colorStatus = true;
    QString m_name = QStringLiteral(" ");
    QString m_image;
    bool m_toolTipEnabled = true;
    bool m_edit = false;
    int m_vectorIndex = -1;
    bool m_polygonFirstKind = false;
    bool m_polygonSecondKind = false;
    TextShow m_textShow = ShowLegend;
    bool m_aliasMode = false;
    bool m_hover = false;
    bool m_faded = false;
    bool m_changedMark = false;
    QString m_markToolTip;
    Look m_look = BoardLook;
    int m_unitPixels = 0;
    int m_unitPixelsDown = 0;
    int m_spacing = 2;
};

// Gives the keys of a palette labelled from `tableFile` (a static key table
// in the configuration directory) their tool tips: the table's name of each
// key, its alias when the name is blank. Pictured keys show no name on the
// cap, so the tool tip is how they are told apart.
void setStaticToolTips(const QVector<KeyBtn *> &keys, const QString &tableFile);
