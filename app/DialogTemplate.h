#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

class QWidget;

// A dialog's layout as data: its controls with their classes, styles, texts and
// rectangles in dialog units, in tab order. BuildControls turns it into widgets.
enum class ControlClass { Button, ComboBox, Edit, Static, UpDown };

// Style bits of a control, as the layout describes it.
enum ControlStyle : unsigned {
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kPushButton = 1u << 2,
    kDefPushButton = 1u << 3,
    kAutoCheckBox = 1u << 4,
    kLeftText = 1u << 5,
    kCenterText = 1u << 6,
    kEtchedHorz = 1u << 7,
    kIcon = 1u << 8,
    kNoPrefix = 1u << 9,
    kBorder = 1u << 10,
    kAutoHScroll = 1u << 11,
    kVScroll = 1u << 12,
    kDropDownList = 1u << 13,
    kSort = 1u << 14,
    kArrowKeys = 1u << 15,
};

struct DialogItem {
    int id = -1;
    ControlClass cls = ControlClass::Static;
    unsigned style = 0;
    QString text;
    QRect rect; // dialog units
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    QSize size; // client area, dialog units
    int pointSize = 8;
    std::vector<DialogItem> items;
};

// Dialog units of a font: a horizontal unit is a quarter of the font's average
// character width, a vertical one an eighth of its height, rounded as the
// classic dialog manager rounds them.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : m_baseWidth(baseWidth), m_baseHeight(baseHeight) {}

    int baseWidth() const { return m_baseWidth; }
    int baseHeight() const { return m_baseHeight; }
    QRect ToPixels(const QRect& units) const;
    QSize ToPixels(const QSize& units) const;

private:
    int m_baseWidth;
    int m_baseHeight;
};

// A dialog window with a caption and a close box but no minimize or maximize
// box, as every template of this program asks for.
constexpr Qt::WindowFlags kTemplateDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                 Qt::WindowCloseButtonHint;

// The font a template asks for: the desktop's general font at the template's size.
QFont TemplateFont(const DialogTemplate& dialogTemplate);

// Supplies the widget for an item that the dialog keeps as a member of its own
// (a control it binds to a class of its own); nullptr lets the builder make one.
using ControlSupplier = std::function<QWidget*(const DialogItem&)>;

// Creates the template's controls as children of dialog, in template order (also
// the focus order), sizes the dialog and sets its caption and font. The result
// runs parallel to the template's items.
std::vector<QWidget*> BuildControls(QWidget& dialog, const DialogTemplate& dialogTemplate,
                                    const ControlSupplier& supplier = {});
