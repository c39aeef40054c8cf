#include "app/AboutDlg.h"

#include "app/Resources.h"

#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kIconSize = 32;

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent, kTemplateDialogFlags) {
    const DialogTemplate& layout = resources::AboutDialogTemplate();
    m_controls = BuildControls(*this, layout, [this](const DialogItem& item) -> QWidget* {
        if (item.id != resources::kAboutLink)
            return nullptr;
        m_link.setText(item.text);
        return &m_link;
    });
    for (size_t i = 0; i < m_controls.size(); ++i) {
        const DialogItem& item = layout.items[i];
        if (item.style & kIcon) {
            // An icon control takes the size of its icon, whatever the layout says.
            auto* picture = static_cast<QLabel*>(m_controls[i]);
            picture->setPixmap(resources::ProgramIcon().pixmap(kIconSize, kIconSize));
            picture->resize(kIconSize, kIconSize);
        }
        if (item.id == resources::kAboutCloseButton)
            connect(static_cast<QPushButton*>(m_controls[i]), &QPushButton::clicked, this,
                    &QDialog::accept);
    }
    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    resources::SetUpMakerLink(m_link);
}
