#include "app/DialogTemplate.h"

#include "app/UpDownControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// a * b / c rounded to the nearest integer, for the non-negative values of a layout.
int MulDiv(int a, int b, int c) {
    return (2 * a * b + c) / (2 * c);
}

QWidget* MakeButton(const DialogItem& item, QWidget* parent) {
    if (item.style & kAutoCheckBox)
        return new QCheckBox(item.text, parent);
    auto* button = new QPushButton(item.text, parent);
    // Enter presses a focused push button only; the dialog decides the rest, so
    // no button may become the dialog's default by taking the focus.
    button->setAutoDefault(false);
    button->setDefault(item.style & kDefPushButton);
    return button;
}

QWidget* MakeStatic(const DialogItem& item, QWidget* parent) {
    if (item.style & kEtchedHorz) {
        auto* line = new QFrame(parent);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    }
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString(item.text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    label->setAlignment(item.style & kCenterText ? Qt::AlignHCenter | Qt::AlignTop
                                                 : Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(!(item.style & kIcon));
    return label;
}

QWidget* MakeControl(const DialogItem& item, QWidget* parent) {
    switch (item.cls) {
    case ControlClass::Button:
        return MakeButton(item, parent);
    case ControlClass::ComboBox:
        return new QComboBox(parent);
    case ControlClass::Edit:
        return new QLineEdit(parent);
    case ControlClass::UpDown:
        return new CUpDownControl(parent);
    case ControlClass::Static:
        break;
    }
    return MakeStatic(item, parent);
}

QRect ControlGeometry(QWidget* control, const DialogItem& item, const DialogUnits& units) {
    QRect rect = units.ToPixels(item.rect);
    // A drop-down list's height in the layout is that of the open list; the
    // closed box is as high as its font makes it.
    if (item.cls == ControlClass::ComboBox)
        rect.setHeight(control->sizeHint().height());
    return rect;
}

void ChainFocus(const std::vector<QWidget*>& controls, const DialogTemplate& dialogTemplate) {
    QWidget* previous = nullptr;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (!(dialogTemplate.items[i].style & kTabStop)) {
            controls[i]->setFocusPolicy(Qt::NoFocus);
            continue;
        }
        controls[i]->setFocusPolicy(Qt::StrongFocus);
        if (previous)
            QWidget::setTabOrder(previous, controls[i]);
        previous = controls[i];
    }
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    // The average width is taken over the Latin alphabet, rounded half up.
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = (alphabetWidth / 26 + 1) / 2;
    m_baseHeight = metrics.height();
}

QRect DialogUnits::ToPixels(const QRect& units) const {
    return QRect(MulDiv(units.x(), m_baseWidth, 4), MulDiv(units.y(), m_baseHeight, 8),
                 MulDiv(units.width(), m_baseWidth, 4), MulDiv(units.height(), m_baseHeight, 8));
}

QSize DialogUnits::ToPixels(const QSize& units) const {
    return QSize(MulDiv(units.width(), m_baseWidth, 4), MulDiv(units.height(), m_baseHeight, 8));
}

QFont TemplateFont(const DialogTemplate& dialogTemplate) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(dialogTemplate.pointSize);
    return font;
}

std::vector<QWidget*> BuildControls(QWidget& dialog, const DialogTemplate& dialogTemplate,
                                    const ControlSupplier& supplier) {
    const QFont font = TemplateFont(dialogTemplate);
    dialog.setFont(font);
    dialog.setWindowTitle(dialogTemplate.caption);
    const DialogUnits units(font);
    dialog.setFixedSize(units.ToPixels(dialogTemplate.size));

    std::vector<QWidget*> controls;
    for (const DialogItem& item : dialogTemplate.items) {
        QWidget* control = supplier ? supplier(item) : nullptr;
        if (control)
            control->setParent(&dialog);
        else
            control = MakeControl(item, &dialog);
        control->setGeometry(ControlGeometry(control, item, units));
        control->show();
        controls.push_back(control);
    }
    ChainFocus(controls, dialogTemplate);
    return controls;
}
