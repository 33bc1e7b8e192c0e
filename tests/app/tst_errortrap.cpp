#include "app/appshell.h"
#include "app/errortrap.h"
#include "support/testsupport.h"

#include <QTest>

class TestErrorTrap : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup() { mEnv.reset(); }

    void messageIsComposedExactly();
    void failedStepIsReportedAndNextStepRuns();
    void failedConditionRunsGuardedSteps();
    void everyFailureGivesItsOwnBox();
    void untrappedFailureIsShownWithItsPlace();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestErrorTrap::messageIsComposedExactly()
{
    const ErrorTrap trap("Form2", "Form_Load");
    QCOMPARE(trap.location(), QStringLiteral("in Kestrine2021/08/31.Form2.Form_Load "));
    QCOMPARE(ErrorTrap::composeMessage("Type mismatch", trap.location(), 104),
             QStringLiteral("Type mismatch\r\nin Kestrine2021/08/31.Form2.Form_Load at line 104"
                            "\r\rPlease email screenshot of this message to ")
                     + AppShell::SupportAddress);
    // An empty description still starts with the line break.
    QVERIFY(ErrorTrap::composeMessage("", trap.location(), 0)
                    .startsWith("\r\nin Kestrine2021/08/31.Form2.Form_Load at line 0\r\r"));
    QVERIFY(!AppShell::SupportAddress.endsWith('.'));
}

void TestErrorTrap::failedStepIsReportedAndNextStepRuns()
{
    ErrorTrap trap("Form1", "Form_Load");
    QStringList ran;
    int value = 5;
    trap(100, [&] {
        ran << "100";
        throw RuntimeError(Errors::TypeMismatch);
    });
    trap(102, [&] {
        value = 7;
        ran << "102";
    });
    trap(104, [&] {
        throw RuntimeError(Errors::Overflow);
        value = 9; // never reached: the failed step leaves the value as it was
    });
    QCOMPARE(ran, QStringList({"100", "102"}));
    QCOMPARE(value, 7);
    const QList<ShownMessage> &shown = mEnv->dialogs.messages;
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].title, QStringLiteral("Application Error"));
    QCOMPARE(shown[0].icon, BoxIcon::Warning);
    QCOMPARE(shown[0].text, errorReport("Type mismatch", "Form1", "Form_Load", 100));
    QCOMPARE(shown[1].text, errorReport("Overflow", "Form1", "Form_Load", 104));
}

void TestErrorTrap::failedConditionRunsGuardedSteps()
{
    ErrorTrap trap("Form1", "Form_Load");
    QVERIFY(trap.when(100, [] { return true; }));
    QVERIFY(!trap.when(100, [] { return false; }));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
    QVERIFY(trap.when(106, []() -> bool { throw RuntimeError(Errors::TypeMismatch); }));
    QCOMPARE(mEnv->dialogs.errorTexts(),
             QStringList{errorReport("Type mismatch", "Form1", "Form_Load", 106)});
}

void TestErrorTrap::everyFailureGivesItsOwnBox()
{
    for (int run = 0; run < 3; ++run) {
        ErrorTrap trap("Form2", "Timer2_Timer");
        trap(100, [] { throw RuntimeError("Refused"); });
    }
    QCOMPARE(mEnv->dialogs.errorTexts().size(), 3);
}

void TestErrorTrap::untrappedFailureIsShownWithItsPlace()
{
    bool after = false;
    runUntrapped("Form1.Text1_Change", [] { throw RuntimeError("Disk full"); });
    after = true;
    QVERIFY(after);
    QCOMPARE(mEnv->dialogs.messages.size(), 1);
    QCOMPARE(mEnv->dialogs.messages[0].text, QStringLiteral("Disk full\r\nin Form1.Text1_Change"));
    QCOMPARE(mEnv->dialogs.messages[0].icon, BoxIcon::Warning);
}

QTEST_MAIN(TestErrorTrap)
#include "tst_errortrap.moc"
