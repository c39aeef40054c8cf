#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message the program puts in front of the user goes through here: a
// warning box with an OK button, titled with the program's name. The text also
// goes to the standard error, so a session's log keeps why a recording failed.
void ShowUserMessage(QWidget* parent, const QString& text);

// Asks before something that cannot be undone: a question box with a button named
// acceptText and Cancel, Cancel the default and the answer to Esc. True only for
// acceptText. With an observer set, the observer hears the question and the
// answer is Cancel.
bool AskUser(QWidget* parent, const QString& question, const QString& acceptText);

// While set, messages and questions go to observer instead of a box (for automated runs);
// an empty function restores the boxes.
void SetUserMessageObserver(std::function<void(const QString&)> observer);
