#include "app/DataExchange.h"

#include "app/UserMessage.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <limits>

bool ParseUnsigned(const QString& text, unsigned& value) {
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return false;
    uint64_t number = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c.unicode() - u'0');
        if (number > std::numeric_limits<unsigned>::max())
            return false;
    }
    value = static_cast<unsigned>(number);
    return true;
}

void CDataExchange::Text(QLineEdit* edit, unsigned& value) {
    if (m_failed)
        return;
    m_lastEdit = edit;
    if (!m_bSaveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    unsigned parsed = 0;
    if (!ParseUnsigned(edit->text(), parsed)) {
        Fail(QStringLiteral("Enter a positive integer."));
        return;
    }
    value = parsed;
}

void CDataExchange::Text(QLineEdit* edit, std::u16string& value) {
    if (m_failed)
        return;
    m_lastEdit = edit;
    if (m_bSaveAndValidate) {
        value = edit->text().toStdU16String();
        return;
    }
    edit->setText(QString::fromStdU16String(value));
    // A long path shows from its beginning, the caret in front of it.
    edit->home(false);
}

void CDataExchange::Check(QAbstractButton* box, int32_t& value) {
    if (m_failed)
        return;
    m_lastEdit = nullptr;
    if (m_bSaveAndValidate)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void CDataExchange::MinMaxUInt(unsigned value, unsigned minimum, unsigned maximum) {
    if (m_failed || !m_bSaveAndValidate)
        return;
    if (value < minimum || value > maximum)
        Fail(QStringLiteral("Enter an integer between %1 and %2.").arg(minimum).arg(maximum));
}

void CDataExchange::Fail(const QString& message) {
    m_failed = true;
    ShowUserMessage(&m_dialog, message);
    // The user lands on the rejected entry, all of it selected for retyping.
    if (m_lastEdit) {
        m_lastEdit->setFocus();
        m_lastEdit->selectAll();
    }
}
