#include "MarlowinApplication.h"

#include <QIcon>
#include <QStyleOptionSlider>

#include "AppInfo.h"
#include "MainForm.h"
#include "Messagebox.h"

// The icon lives in the window library; a static library needs its resources pulled in.
static void InitResources()
{
    Q_INIT_RESOURCE(marlowin);
}

TMarlowinApplication::TMarlowinApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InitResources();
    setApplicationName(QStringLiteral("marlowin"));
    setOrganizationName(QStringLiteral("Tarvek"));
    // No display name: the toolkit would append it to every window title on X11, the message
    // boxes' "エラー" and "情報" included. The title lives in the main window's caption and the
    // exception display's.
    setDesktopFileName(QStringLiteral("marlowin"));
    setWindowIcon(QIcon(QStringLiteral(":/marlowin.svg")));
}

bool TMarlowinApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

QString InnermostMessage(const std::exception& e)
{
    try {
        std::rethrow_if_nested(e);
    } catch (const std::exception& inner) {
        return InnermostMessage(inner);
    } catch (...) {
        return {};  // nested but not a standard exception: no message to show
    }
    return QString::fromUtf8(e.what());
}

QString ExceptionDisplayText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.') {
        return message + u'.';
    }
    return message;
}

void ShowCurrentException()
{
    QString message;
    try {
        throw;
    } catch (const std::exception& e) {
        message = InnermostMessage(e);
    } catch (...) {
        // Not a standard exception: shown with an empty message.
    }
    QWidget* owner = MainForm && MainForm->isVisible() ? MainForm : QApplication::activeWindow();
    ShowMessageBox(MessageKind::Error, QString::fromUtf8(AppInfo::Title), ExceptionDisplayText(message), owner);
}

int TApplicationStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                  QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_ToolTip_WakeUpDelay:
        return 200;
    case SH_ToolTip_FallAsleepDelay:
        return 10000;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

QRect TApplicationStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                        SubControl subControl, const QWidget* widget) const
{
    QRect rect = QProxyStyle::subControlRect(control, option, subControl, widget);
    if (control == CC_Slider && subControl == SC_SliderGroove) {
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (slider && slider->orientation == Qt::Horizontal) {
            const int inset = pixelMetric(PM_SliderLength, option, widget) / 2 + 3;
            rect.adjust(inset, 0, -inset, 0);
        }
    }
    return rect;
}
