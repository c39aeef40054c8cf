#include "app/UserMessage.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

std::function<void(const QString&)>& Observer() {
    static std::function<void(const QString&)> observer;
    return observer;
}

} // namespace

void ShowUserMessage(QWidget* parent, const QString& text) {
    if (Observer()) {
        Observer()(text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(text));
    QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
}

void SetUserMessageObserver(std::function<void(const QString&)> observer) {
    Observer() = std::move(observer);
}
