// The Windows platform code, run under Wine (or on Windows) in a private Wine
// prefix: the registry store, the keep-awake calls, the hide word's letters by
// virtual-key code and the single instance.
#include "app/settings.h"
#include "app/singleinstance.h"
#include "display/keepawake.h"
#include "display/keepawake_win32.h"
#include "display/latinkey.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>

#include <windows.h>

#include <string>

namespace {

const wchar_t *const StorePath = L"Software\\VB and VBA Program Settings\\Halvex\\"
                                 L"Vantorel Briskane Tallow Marquee Edition";

// The value as the Windows API reads it, or "<absent>".
QString registryValue(const QString &name)
{
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer);
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, StorePath,
                                        reinterpret_cast<const wchar_t *>(name.utf16()),
                                        RRF_RT_REG_SZ, nullptr, buffer, &size);
    return status == ERROR_SUCCESS ? QString::fromWCharArray(buffer) : QStringLiteral("<absent>");
}

void setRegistryValue(const QString &name, const QString &value)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, StorePath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                             &key, nullptr),
             ERROR_SUCCESS);
    const std::wstring text = value.toStdWString();
    const LSTATUS status = RegSetValueExW(key, reinterpret_cast<const wchar_t *>(name.utf16()), 0,
                                          REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                          DWORD((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    QCOMPARE(status, ERROR_SUCCESS);
}

// Counts the Shift presses and releases that reach it.
class KeyCounter : public QWidget
{
public:
    int presses = 0;
    int releases = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Shift)
            ++presses;
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Shift)
            ++releases;
    }
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void storeIsTheRegistryBranchOfClassicSettings();
    void storeReadsWhatOthersWrite();
    void rightShiftHasAByteScanCode();
    void keepAwakeShiftReachesTheFocusedWindow();
    void hideLettersComeFromTheVirtualKey_data();
    void hideLettersComeFromTheVirtualKey();
    void secondInstanceDefersToTheFirst();
};

void TestWindows::storeIsTheRegistryBranchOfClassicSettings()
{
    QVERIFY(Settings::location().contains(QStringLiteral("VB and VBA Program Settings")));
    QCOMPARE(Settings::get(QStringLiteral("Text1"), QStringLiteral("GOOG")),
             QStringLiteral("GOOG"));

    Settings::save(QStringLiteral("Text1"), QStringLiteral("MSFT"));
    Settings::save(QStringLiteral("Font Color"), QStringLiteral("-2147483633"));
    QCOMPARE(registryValue(QStringLiteral("Text1")), QStringLiteral("MSFT"));
    QCOMPARE(registryValue(QStringLiteral("Font Color")), QStringLiteral("-2147483633"));

    // The dialog writes FontStrikethru, the display reads FontStrikeThru.
    Settings::save(QStringLiteral("FontStrikethru"), QStringLiteral("True"));
    QCOMPARE(Settings::get(QStringLiteral("FontStrikeThru"), QStringLiteral("False")),
             QStringLiteral("True"));
    Settings::save(QStringLiteral("FONTSTRIKETHRU"), QStringLiteral("False"));
    QCOMPARE(registryValue(QStringLiteral("FontStrikeThru")), QStringLiteral("False"));
}

void TestWindows::storeReadsWhatOthersWrite()
{
    // An earlier installation's value, or one written while the program runs.
    setRegistryValue(QStringLiteral("Combo1"), QStringLiteral("1"));
    QCOMPARE(Settings::get(QStringLiteral("combo1"), QStringLiteral("0")), QStringLiteral("1"));
    setRegistryValue(QStringLiteral("Combo1"), QStringLiteral("0"));
    QCOMPARE(Settings::get(QStringLiteral("Combo1"), QStringLiteral("1")), QStringLiteral("0"));
}

void TestWindows::rightShiftHasAByteScanCode()
{
    const std::uint32_t scanCode = Win32KeepAwake::rightShiftScanCode();
    QVERIFY2(scanCode > 0 && scanCode <= 0xFF, qPrintable(QString::number(scanCode)));
    QCOMPARE(rightShiftKeyCode(scanCode), std::uint8_t(scanCode));
}

void TestWindows::keepAwakeShiftReachesTheFocusedWindow()
{
    KeyCounter window;
    window.resize(200, 100);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    KeepAwake &keepAwake = KeepAwake::production();
    keepAwake.pressRightShift();
    keepAwake.releaseRightShift();
    keepAwake.resetIdleTimer();
    QTRY_COMPARE(window.presses, 1);
    QTRY_COMPARE(window.releases, 1);
}

void TestWindows::hideLettersComeFromTheVirtualKey_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<quint32>("virtualKey");
    QTest::addColumn<int>("letter");
    // The Cyrillic layout's key "р" is the H key: its virtual-key code is 'H'.
    QTest::newRow("Latin h") << int(Qt::Key_H) << quint32('H') << int(Qt::Key_H);
    QTest::newRow("Cyrillic er on the H key") << 0x440 << quint32('H') << int(Qt::Key_H);
    QTest::newRow("Greek epsilon on the E key") << 0x3B5 << quint32('E') << int(Qt::Key_E);
    QTest::newRow("digit") << int(Qt::Key_1) << quint32('1') << 0;
    QTest::newRow("right Shift") << int(Qt::Key_Shift) << quint32(VK_RSHIFT) << 0;
}

void TestWindows::hideLettersComeFromTheVirtualKey()
{
    QFETCH(int, qtKey);
    QFETCH(quint32, virtualKey);
    QFETCH(int, letter);
    const QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier, 0, virtualKey, 0);
    QCOMPARE(latinLetterOfKey(&event), letter);
}

void TestWindows::secondInstanceDefersToTheFirst()
{
    SingleInstance first;
    QVERIFY(first.start());
    SingleInstance second;
    QVERIFY(!second.start());
}

int main(int argc, char **argv)
{
    // Never the user's own store: refuse to run outside a private prefix
    // unless asked to.
    if (!qEnvironmentVariableIsSet("WINEPREFIX")
        && !qEnvironmentVariableIsSet("TALLOW_TEST_REAL_REGISTRY")) {
        std::fputs("tst_windows writes the per-user registry; run it under Wine with a private "
                   "WINEPREFIX, or set TALLOW_TEST_REAL_REGISTRY on a test machine\n",
                   stderr);
        return 77;
    }
    QApplication app(argc, argv);
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windows.moc"
