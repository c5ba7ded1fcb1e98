// Start-up: the exception display and the message boxes.
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "AppInfo.h"
#include "AppTestSupport.h"

using apptest::WindowTest;

TEST(ExceptionDisplayText, AppendsAPeriodOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("abc")), QStringLiteral("abc."));
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("abc.")), QStringLiteral("abc."));
    EXPECT_EQ(ExceptionDisplayText(QString()), QString());
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("done!")), QStringLiteral("done!"));  // '!' < '.'
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("a-")), QStringLiteral("a-"));         // '-' < '.'
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("a/")), QStringLiteral("a/."));        // '/' > '.'
    EXPECT_EQ(ExceptionDisplayText(QStringLiteral("失敗しました。")), QStringLiteral("失敗しました。."));
}

TEST(InnermostMessage, FollowsNestedExceptionsToTheCause)
{
    try {
        try {
            throw std::runtime_error("cause");
        } catch (...) {
            std::throw_with_nested(std::runtime_error("outer"));
        }
    } catch (const std::exception& e) {
        EXPECT_EQ(InnermostMessage(e), QStringLiteral("cause"));
    }
    EXPECT_EQ(InnermostMessage(std::runtime_error("plain")), QStringLiteral("plain"));
}

// A widget whose handler throws, to reach the application's notify.
class ThrowingButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    std::function<void()> thrower;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) thrower();
        return QPushButton::event(e);
    }
};

class ExceptionDisplay : public WindowTest {};

TEST_F(ExceptionDisplay, EscapingExceptionIsShownAndTheLoopGoesOn)
{
    ThrowingButton button;
    button.thrower = [] { throw std::runtime_error("abc"); };
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&button, &event);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(boxes[0].title, QStringLiteral("マーロウィン"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("abc."));

    // A non-standard exception gives an empty box; then events keep flowing.
    button.thrower = [] { throw 42; };
    QCoreApplication::sendEvent(&button, &event);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, QString());

    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST_F(ExceptionDisplay, ThrownFromAQueuedCallInTheLoop)
{
    QTimer::singleShot(0, [] { throw std::runtime_error("Ende."); });
    QTimer::singleShot(5, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 7);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Ende."));
}

// The real boxes, closed by a timer: title, icon and the single OK button.
TEST(MessageBoxes, TitlesIconsAndOneOkButton)
{
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
        int buttons;
        bool modal;
        QWidget* parent;
    };
    QWidget owner;
    owner.show();
    for (bool error : {true, false}) {
        Seen seen{};
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size()),
                    box->isModal(), box->parentWidget()};
            box->button(QMessageBox::Ok)->click();
        });
        if (error) {
            ShowErrorMessage(QString(), &owner);
        } else {
            ShowInfoMessage(QStringLiteral("処理は正常に終了しました。"), &owner);
        }
        EXPECT_EQ(seen.title, error ? QStringLiteral("エラー") : QStringLiteral("情報"));
        EXPECT_EQ(seen.text, error ? QString() : QStringLiteral("処理は正常に終了しました。"));
        EXPECT_EQ(seen.icon, error ? QMessageBox::Critical : QMessageBox::Information);
        EXPECT_EQ(seen.buttons, 1);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, &owner);
    }
}

// On X11 the toolkit appends a display name, once one is set, to every window title that
// does not already end in it: the boxes would be titled "エラー — マーロウィン" instead of "エラー".
TEST(MessageBoxes, TitlesReachTheWindowManagerWithoutASuffix)
{
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

TEST(ApplicationIcon, IsDrawnFromTheCompiledInPicture)
{
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull());
}
