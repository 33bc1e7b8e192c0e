#include "app/runtimeerror.h"
#include "app/settings.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <unistd.h>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup() { mEnv.reset(); }

    void absentKeyGivesDefault();
    void writeIsOnDiskAtOnce();
    void keysIgnoreCase();
    void valueWrittenOutsideIsSeen();
    void textKeepsCommasAndBlanks();
    void garbageFileIsNeverOverwritten();
    void unwritableFolderReportsAndKeepsValues();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestSettings::absentKeyGivesDefault()
{
    QCOMPARE(Settings::get(Settings::Key::Combo1, "1"), QStringLiteral("1"));
    QCOMPARE(Settings::get(Settings::Key::Combo1, "0"), QStringLiteral("0"));
    QVERIFY(!QFile::exists(mEnv->storeFile()));
}

void TestSettings::writeIsOnDiskAtOnce()
{
    Settings::save(Settings::Key::Text1, "MSFT");
    QVERIFY(mEnv->storeFile().endsWith("/Halvex/Vantorel Briskane Tallow Marquee Edition.conf"));
    QCOMPARE(mEnv->stored("Text1"), QStringLiteral("MSFT"));
    Settings::save(Settings::Key::FontColor, "16777215");
    QCOMPARE(mEnv->stored("Font Color"), QStringLiteral("16777215"));
    QCOMPARE(Settings::get(Settings::Key::FontColor, "0"), QStringLiteral("16777215"));
}

void TestSettings::keysIgnoreCase()
{
    Settings::save("FontStrikethru", "True");
    Settings::save("FontStrikeThru", "False");
    Settings::save("FONTSTRIKETHRU", "True");
    QCOMPARE(mEnv->storeText().count("=", Qt::CaseInsensitive), 1);
    QCOMPARE(mEnv->stored("FontStrikethru"), QStringLiteral("True"));
    QCOMPARE(Settings::get("FontStrikeThru", "x"), QStringLiteral("True"));
    QCOMPARE(Settings::get("fontstrikethru", "x"), QStringLiteral("True"));
}

void TestSettings::valueWrittenOutsideIsSeen()
{
    Settings::save(Settings::Key::Text1, "AAPL");
    QCOMPARE(Settings::get(Settings::Key::Text1, ""), QStringLiteral("AAPL"));
    // Another process rewrites the file; the next read must see it.
    QFile file(mEnv->storeFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nText1=IBM\nCombo1=1\n");
    file.close();
    QCOMPARE(Settings::get(Settings::Key::Text1, ""), QStringLiteral("IBM"));
    QCOMPARE(Settings::get(Settings::Key::Combo1, "0"), QStringLiteral("1"));
}

void TestSettings::textKeepsCommasAndBlanks()
{
    for (const QString &text : {QStringLiteral("A,B"), QStringLiteral("  "),
                                QStringLiteral("@Variant(x)"), QStringLiteral("a=b;c")}) {
        Settings::save(Settings::Key::Text1, text);
        QCOMPARE(Settings::get(Settings::Key::Text1, "?"), text);
    }
    Settings::save(Settings::Key::Text1, "");
    QCOMPARE(Settings::get(Settings::Key::Text1, "?"), QString());
}

void TestSettings::garbageFileIsNeverOverwritten()
{
    QDir().mkpath(QFileInfo(mEnv->storeFile()).path());
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131 + 7) % 256));
    garbage.append("\n[General]\nText1=KEEP\n");
    {
        QFile file(mEnv->storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    // Reading never fails; a write either lands with the old content intact
    // or is refused with a message, and never truncates the file.
    const QString read = Settings::get(Settings::Key::Combo1, "0");
    QVERIFY(!read.isNull());
    bool refused = false;
    try {
        Settings::save(Settings::Key::Combo1, "1");
    } catch (const RuntimeError &error) {
        refused = true;
        QVERIFY(error.description().contains(mEnv->storeFile()));
    }
    QFile file(mEnv->storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    if (refused)
        QCOMPARE(after, garbage);
    else
        QCOMPARE(Settings::get(Settings::Key::Combo1, "0"), QStringLiteral("1"));
}

void TestSettings::unwritableFolderReportsAndKeepsValues()
{
    if (geteuid() == 0) {
        // Root writes through read-only permissions: run this one function
        // again as an unprivileged user, who meets the refusal.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QStringLiteral("setpriv"),
                    {"--reuid=65534", "--regid=65534", "--clear-groups",
                     QCoreApplication::applicationFilePath(),
                     "unwritableFolderReportsAndKeepsValues"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        return;
    }
    Settings::save(Settings::Key::Text1, "KEEP");
    Settings::save(Settings::Key::Combo1, "1");
    const QString folder = QFileInfo(mEnv->storeFile()).path();
    QFile::setPermissions(mEnv->storeFile(), QFile::ReadOwner);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    QString description;
    try {
        Settings::save(Settings::Key::Text1, "LOST");
    } catch (const RuntimeError &error) {
        description = error.description();
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(mEnv->storeFile(), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY2(description.contains("could not be saved"), qPrintable(description));
    QVERIFY(description.contains(mEnv->storeFile()));
    QCOMPARE(Settings::get(Settings::Key::Text1, ""), QStringLiteral("KEEP"));
    QCOMPARE(Settings::get(Settings::Key::Combo1, ""), QStringLiteral("1"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
