#pragma once

#include <QString>
#include <cstdint>
#include <string>

class QAbstractButton;
class QLineEdit;
class QWidget;

// Moves values between a dialog's controls and its members. Reading validates:
// the first rejected entry shows its message, takes the focus back to its
// control, and every exchange after it is skipped.
class CDataExchange {
public:
    CDataExchange(QWidget& dialog, bool saveAndValidate)
        : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate) {}

    bool SaveAndValidate() const { return m_bSaveAndValidate; }
    bool Failed() const { return m_failed; }

    // An unsigned decimal number; text that is not one is rejected and leaves value.
    void Text(QLineEdit* edit, unsigned& value);
    void Text(QLineEdit* edit, std::u16string& value);
    void Check(QAbstractButton* box, int32_t& value);
    // Range check of the value exchanged last, on reading only.
    void MinMaxUInt(unsigned value, unsigned minimum, unsigned maximum);

private:
    void Fail(const QString& message);

    QWidget& m_dialog;
    bool m_bSaveAndValidate;
    bool m_failed = false;
    QLineEdit* m_lastEdit = nullptr;
};

// Parses text the way the exchange reads an unsigned number: blanks around one
// run of decimal digits that fits 32 bits. False for anything else.
bool ParseUnsigned(const QString& text, unsigned& value);
