// The test stand-in for the user behaves like a real modal box where the program can tell: the
// event loop runs while a box is open. And an exception that leaves an event handler fails the
// test that let it through.
#include "support/ScriptedUserInteraction.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

TEST(ScriptedBox, AnswersFromInsideAnEventLoopOfItsOwn)
{
    ScriptedUserInteraction ui;
    int ticks = 0;
    ui.everySecond.push_back([&] { ++ticks; });
    // Work that waited for the loop: a zero timer, and a window that closes and deletes itself.
    bool timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    auto* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<QWidget> closing(window);
    bool closedWhileOpen = false;
    ui.whileOpen.push_back([&] { closedWhileOpen = window->close(); });
    ui.answers.push_back(MessageAnswer::No);

    const MessageAnswer answer
        = ui.showMessage(nullptr, "Sure?", "Query Information", MessageButtons::YesNo, MessageIcon::Question);

    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_TRUE(timerFired);
    EXPECT_TRUE(closedWhileOpen);
    EXPECT_TRUE(closing.isNull()) << "the deferred delete ran inside the box";
    EXPECT_EQ(ticks, 1);

    // Every box and dialog runs the loop; the action was for the first box only.
    ui.askSaveFileName(nullptr, {});
    ui.askOpenFileName(nullptr, {});
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(ui.whileOpen.empty());
}

void ShowABoxWhoseOwnerGoesAway()
{
    ScriptedUserInteraction ui;
    auto* owner = new QWidget;
    owner->setAttribute(Qt::WA_DeleteOnClose);
    ui.whileOpen.push_back([owner] { owner->close(); });
    ui.showMessage(owner, "Failed", "Error Information", MessageButtons::Ok, MessageIcon::Error);
}

TEST(ScriptedBox, FailsTheTestWhenItsOwnerIsDestroyedWhileItIsOpen)
{
    EXPECT_NONFATAL_FAILURE(ShowABoxWhoseOwnerGoesAway(), "owner was destroyed while the box was open");
}

class ThrowingObject final : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw std::runtime_error("disk full");
        return QObject::event(event);
    }
};

void SendToAThrowingHandler()
{
    ThrowingObject target;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&target, &event);
}

TEST(TestApplication, FailsTheTestWhenAnExceptionReachesTheEventLoop)
{
    EXPECT_NONFATAL_FAILURE(SendToAThrowingHandler(), "An exception reached the event loop: disk full");
}

} // namespace
