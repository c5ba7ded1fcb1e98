#pragma once
#include <QApplication>
#include <QProxyStyle>
#include <QString>
#include <exception>

// The application object: title, icon, and the display of exceptions that escape a handler.
class TMarlowinApplication : public QApplication {
    Q_OBJECT
public:
    TMarlowinApplication(int& argc, char** argv);

    // An exception escaping an event handler is shown and the loop goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The exception display: the innermost message of the exception in flight, in a modal
// error box captioned with the application title. Call it from inside a catch block.
void ShowCurrentException();

// The message of the innermost nested exception of e (e's own when nothing is nested).
QString InnermostMessage(const std::exception& e);
// A message as the display shows it: a period appended unless the text is empty or
// already ends in a character whose code is at most that of ".".
QString ExceptionDisplayText(const QString& message);

// Application-wide adjustments of the platform style: tool-tips are shown after 200 ms of
// rest and hidden after 10 s; a track bar's channel runs between the thumb's two end
// positions, so that a caption placed just left of a bar stays readable.
class TApplicationStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl subControl,
                         const QWidget* widget = nullptr) const override;
};
