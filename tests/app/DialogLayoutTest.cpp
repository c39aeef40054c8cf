// The dialogs' layouts: dialog units converted from the font, every control
// where its layout puts it, and the focus order.
#include "tests/app/DialogTestSupport.h"

#include "app/AboutDlg.h"
#include "app/DialogTemplate.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"

#include <QLabel>

namespace {

// Compares each control's geometry with its layout rectangle in pixels.
void ExpectControlsPlaced(const std::vector<QWidget*>& controls, const DialogTemplate& layout) {
    ASSERT_EQ(controls.size(), layout.items.size());
    const DialogUnits units(TemplateFont(layout));
    for (size_t i = 0; i < controls.size(); ++i) {
        const DialogItem& item = layout.items[i];
        const QRect expected = units.ToPixels(item.rect);
        const QRect actual = controls[i]->geometry();
        SCOPED_TRACE(QStringLiteral("control %1 \"%2\"").arg(item.id).arg(item.text).toStdString());
        EXPECT_EQ(actual.topLeft(), expected.topLeft());
        if (item.cls == ControlClass::ComboBox) {
            // The layout's height is the open list's; the closed box is lower.
            EXPECT_EQ(actual.width(), expected.width());
            EXPECT_LT(actual.height(), expected.height());
        } else if (!(item.style & kIcon)) {
            EXPECT_EQ(actual.size(), expected.size());
        }
    }
}

} // namespace

TEST(DialogUnits, ConvertWithTheFontsBaseUnitsAndRoundToNearest) {
    // Base units 6 x 13, those of an 8-point UI font at 96 dpi.
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.ToPixels(QRect(240, 270, 50, 14)), QRect(360, 439, 75, 23));
    EXPECT_EQ(units.ToPixels(QSize(297, 291)), QSize(446, 473));
    // 5 x 15: 1.25 and 371.25 round down, 3.75 and 545.625 up, a half (6 x 13: 1.5) up.
    EXPECT_EQ(DialogUnits(5, 15).ToPixels(QRect(1, 2, 297, 291)), QRect(1, 4, 371, 546));
    EXPECT_EQ(units.ToPixels(QRect(1, 0, 0, 0)).x(), 2);
}

class MainDialogLayout : public DialogTest {};

TEST_F(MainDialogLayout, PlacesEveryControlAtItsLayoutRectangle) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const DialogTemplate& layout = resources::MainDialogTemplate();
    EXPECT_EQ(dialog.size(), DialogUnits(TemplateFont(layout)).ToPixels(layout.size));
    EXPECT_EQ(dialog.windowTitle(), "Tesmara Screen Recorder");
    ExpectControlsPlaced(dialog.Controls(), layout);
    // The members stand in the places of their controls.
    EXPECT_EQ(dialog.Control(resources::kCodecList), &dialog.m_cbCodec);
    EXPECT_EQ(dialog.Control(resources::kWebLink), &dialog.m_link);
    EXPECT_EQ(dialog.Control(resources::kBanner), &dialog.m_banner);
}

TEST_F(MainDialogLayout, TabsThroughTheControlsInLayoutOrder) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const std::vector<int> expected = {resources::kCloseButton,
                                       resources::kCodecList,
                                       resources::kPathEdit,
                                       resources::kBrowseButton,
                                       resources::kLeftClickBox,
                                       resources::kRightClickBox,
                                       resources::kShowKeysBox,
                                       resources::kMicrophoneBox,
                                       resources::kDesktopSoundBox,
                                       resources::kFrameRateEdit,
                                       resources::kCountdownEdit,
                                       resources::kAreaList,
                                       resources::kAreaSelectButton,
                                       resources::kScaleList,
                                       resources::kStopAfterBox,
                                       resources::kStopAfterMinutesEdit,
                                       resources::kStopAfterSecondsEdit,
                                       resources::kStartRecordButton};
    std::vector<QWidget*> chain;
    QWidget* widget = dialog.Control(resources::kCloseButton);
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != dialog.Control(resources::kCloseButton) && chain.size() < 20);
    ASSERT_EQ(chain.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(chain[i], dialog.Control(expected[i])) << "stop " << i;
}

TEST_F(MainDialogLayout, AboutBoxPlacesItsControlsAndNamesTheVersion) {
    CAboutDlg about;
    const DialogTemplate& layout = resources::AboutDialogTemplate();
    EXPECT_EQ(about.windowTitle(), "About Tesmara Screen Recorder");
    EXPECT_EQ(about.size(), DialogUnits(TemplateFont(layout)).ToPixels(layout.size));
    ExpectControlsPlaced(about.Controls(), layout);
    EXPECT_EQ(static_cast<QLabel*>(about.Controls()[1])->text(),
              QStringLiteral("Tesmara Screen Recorder " TESMARA_VERSION));
    auto* icon = static_cast<QLabel*>(about.Controls()[0]);
    EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(about.m_link.m_strUrl, "http://www.tesmara.example/");
}
