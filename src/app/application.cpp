#include "application.h"

#include <QMessageBox>

#include <exception>

namespace kt::app
{

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // The title goes into the application name, not the display name: on X11 Qt appends a
    // display name that is set to every window title, which would change the window's caption.
    setApplicationName(QString::fromLatin1(kApplicationTitle));
    setDesktopFileName(QStringLiteral("kt4500-config"));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showErrorBox(currentExceptionMessage());
    }
    return false;
}

void showErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), message,
                    QMessageBox::Ok);
    // The message may carry text from the reader or the settings file: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString currentExceptionMessage()
{
    try {
        throw;
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("An unknown exception was raised.");
    }
}

} // namespace kt::app
