#pragma once

#include <QApplication>
#include <QString>

namespace kt::app
{

// The application title: the name the desktop shows for the running program, and the title
// of the error box.
inline constexpr char kApplicationTitle[] = "TALVO KT4500 Reader Config";

// The application object. An exception that escapes an event handler is shown in the
// standard error box and the event loop goes on.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// The standard error box: titled with the application title, the error symbol, the message
// as plain text, one OK button. Returns when it has been closed.
void showErrorBox(const QString &message);

// The message of the exception being handled; call it only inside a catch block.
QString currentExceptionMessage();

} // namespace kt::app
