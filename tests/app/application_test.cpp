#include "application.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace
{

// Throws out of its event handler at a user event: a std::exception, or an int when empty.
class Thrower : public QObject
{
public:
    explicit Thrower(std::string message)
        : m_message(std::move(message))
    {
    }
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (m_message.empty())
            throw 42;
        throw std::runtime_error(m_message);
    }

private:
    std::string m_message;
};

TEST(Application, ShowsAnExceptionFromAHandlerAndTheLoopGoesOn)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Port table damaged", "Port table damaged"},
        {"<b>x</b>", "<b>x</b>"},
        {"", "An unknown exception was raised."},
    };
    for (const auto &[message, shown] : cases) {
        SCOPED_TRACE(shown);
        // Closes the error box from inside its own event loop, noting what it showed.
        std::vector<std::string> boxes;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&boxes] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                const bool plain = box->textFormat() == Qt::PlainText;
                const bool critical = box->icon() == QMessageBox::Critical;
                const bool okOnly = box->standardButtons() == QMessageBox::Ok;
                boxes.push_back(box->windowTitle().toStdString() + "|" + box->text().toStdString()
                                + (plain && critical && okOnly ? "" : "|wrong look"));
                box->done(QMessageBox::Ok);
            }
        });
        closer.start(5);

        QEventLoop loop;
        bool loopWentOn = false;
        Thrower thrower(message);
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        // Posted after the throwing event, so it runs only once that has been handled.
        QTimer::singleShot(0, &loop, [&] {
            loopWentOn = true;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit); // only against a hang
        loop.exec();

        EXPECT_TRUE(loopWentOn);
        EXPECT_EQ(boxes, std::vector<std::string>{"TALVO KT4500 Reader Config|" + shown});
    }
}

} // namespace
