#pragma once

#include "app/QvHyperLink.h"

#include <QDialog>
#include <vector>

// The about box: the program icon, the product name and version, and the
// maker's link. Enter, Esc and its Close button end it.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    int DoModal() { return exec(); }

    // The template's controls in template order.
    const std::vector<QWidget*>& Controls() const { return m_controls; }

    CQvHyperLink m_link;

private:
    void OnInitDialog();

    std::vector<QWidget*> m_controls;
};
