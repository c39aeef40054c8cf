#include "app/UserMessage.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace {

std::function<void(const QString&)>& Observer() {
    static std::function<void(const QString&)> observer;
    return observer;
}

// True when an observer took the text instead of the user.
bool TellObserverOrLog(const QString& text) {
    if (Observer()) {
        Observer()(text);
        return true;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(text));
    return false;
}

} // namespace

void ShowUserMessage(QWidget* parent, const QString& text) {
    if (!TellObserverOrLog(text))
        QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
}

bool AskUser(QWidget* parent, const QString& question, const QString& acceptText) {
    if (TellObserverOrLog(question))
        return false;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), question,
                    QMessageBox::NoButton, parent);
    QPushButton* accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == accept;
}

void SetUserMessageObserver(std::function<void(const QString&)> observer) {
    Observer() = std::move(observer);
}
