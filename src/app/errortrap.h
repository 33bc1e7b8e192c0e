#pragma once

#include "app/runtimeerror.h"

#include <QString>

#include <functional>
#include <utility>

class QWidget;

// The error trap of one run of an operation. Each numbered step runs through
// it; a RuntimeError inside a step is reported in the common error box and the
// operation goes on with its next step.
class ErrorTrap
{
public:
    // Takes a report instead of a box: the failure's description and the
    // report's whole text. Used where no one is there to answer a box.
    using Redirect = std::function<void(const QString &description, const QString &text)>;

    ErrorTrap(QString window, QString operation, Redirect redirect = {});

    // Runs one step; a failure is reported with `step` and swallowed.
    template<typename Step>
    void operator()(int step, Step &&action)
    {
        try {
            std::forward<Step>(action)();
        } catch (const RuntimeError &error) {
            report(step, error.description());
        }
    }

    // Evaluates a condition step. A failure while testing is reported and
    // counts as true, so the steps the condition guards run next.
    template<typename Test>
    bool when(int step, Test &&test)
    {
        try {
            return std::forward<Test>(test)();
        } catch (const RuntimeError &error) {
            report(step, error.description());
            return true;
        }
    }

    void report(int step, const QString &description) const;

    // A box of the operation that is not an error report (no icon, the
    // application's title); with a redirect it goes there as well.
    void message(QWidget *parent, const QString &text) const;

    // "in Kestrine2021/08/31.Form2.Form_Activate "
    QString location() const;

    static QString composeMessage(const QString &description, const QString &location, int step);

private:
    QString mWindow;
    QString mOperation;
    Redirect mRedirect;
};

// Handlers without a trap of their own run through this: a failure neither
// crashes nor ends the program; it is shown with where it happened.
void reportUntrapped(const char *where, const QString &description);

template<typename Handler>
void runUntrapped(const char *where, Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const RuntimeError &error) {
        reportUntrapped(where, error.description());
    }
}
