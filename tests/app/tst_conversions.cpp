#include "app/conversions.h"
#include "app/runtimeerror.h"

#include <QTest>

#include <clocale>

class TestConversions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toInt16_data();
    void toInt16();
    void toInt32_data();
    void toInt32();
    void isTrue_data();
    void isTrue();
    void fromSingle_data();
    void fromSingle();
    void toByte();
};

namespace {
// Either a value or the failure text expected from the conversion.
QString convert16(const QString &text)
{
    try {
        return QString::number(Convert::toInt16(text));
    } catch (const RuntimeError &error) {
        return error.description();
    }
}

QString convert32(const QString &text)
{
    try {
        return QString::number(Convert::toInt32(text));
    } catch (const RuntimeError &error) {
        return error.description();
    }
}
} // namespace

void TestConversions::initTestCase()
{
    // Run under a comma-decimal locale, the C library must really use it, or
    // the run proves nothing.
    const QByteArray wanted = qgetenv("LC_ALL");
    if (wanted.startsWith("de_DE")) {
        QVERIFY2(QByteArray(std::localeconv()->decimal_point) == ",",
                 "the de_DE.UTF-8 locale is missing: run scripts/ensure-packages.sh test");
    }
}

void TestConversions::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << "0"
                          << "0";
    QTest::newRow("one") << "1"
                         << "1";
    QTest::newRow("negative") << "-1"
                              << "-1";
    QTest::newRow("plus sign") << "+7"
                               << "7";
    QTest::newRow("blanks around") << " 7 "
                                   << "7";
    QTest::newRow("half down to even") << "10.5"
                                       << "10";
    QTest::newRow("half up to even") << "11.5"
                                     << "12";
    QTest::newRow("quarter") << "11.25"
                             << "11";
    QTest::newRow("negative half") << "-2.5"
                                   << "-2";
    QTest::newRow("exponent") << "1e3"
                              << "1000";
    QTest::newRow("max") << "32767"
                         << "32767";
    QTest::newRow("min") << "-32768"
                         << "-32768";
    QTest::newRow("rounds into max") << "32767.4"
                                     << "32767";
    QTest::newRow("rounds past max") << "32767.5"
                                     << "Overflow";
    QTest::newRow("above max") << "32768"
                               << "Overflow";
    QTest::newRow("below min") << "-32769"
                               << "Overflow";
    QTest::newRow("far above") << "40000"
                               << "Overflow";
    QTest::newRow("huge exponent") << "1e400"
                                   << "Overflow";
    QTest::newRow("huge negative") << "-1e400"
                                   << "Overflow";
    QTest::newRow("400 digits") << "1" + QString(400, '0') << "Overflow";
    QTest::newRow("tiny exponent") << "1e-400"
                                   << "0";
    QTest::newRow("400 decimals") << "0." + QString(399, '0') + "1"
                                  << "0";
    QTest::newRow("leading point") << ".5"
                                   << "0";
    QTest::newRow("empty") << ""
                           << "Type mismatch";
    QTest::newRow("blank") << "   "
                           << "Type mismatch";
    QTest::newRow("letters") << "abc"
                             << "Type mismatch";
    QTest::newRow("trailing letters") << "12abc"
                                      << "Type mismatch";
    QTest::newRow("comma decimal") << "1,5"
                                   << "Type mismatch";
    QTest::newRow("nan") << "nan"
                         << "Type mismatch";
    QTest::newRow("true text") << "True"
                               << "Type mismatch";
}

void TestConversions::toInt16()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(convert16(text), expected);
}

void TestConversions::toInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("white") << "16777215"
                           << "16777215";
    QTest::newRow("black") << "0"
                           << "0";
    QTest::newRow("system colour") << "-2147483633"
                                   << "-2147483633";
    QTest::newRow("max") << "2147483647"
                         << "2147483647";
    QTest::newRow("min") << "-2147483648"
                         << "-2147483648";
    QTest::newRow("beyond 32 bits") << "4294967296"
                                    << "Overflow";
    QTest::newRow("unsigned high bit") << "2147483648"
                                       << "Overflow";
    QTest::newRow("half to even") << "2.5"
                                  << "2";
    QTest::newRow("not a number") << "red"
                                  << "Type mismatch";
}

void TestConversions::toInt32()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(convert32(text), expected);
}

void TestConversions::isTrue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("True") << "True" << true;
    QTest::newRow("lower case") << "true" << false;
    QTest::newRow("upper case") << "TRUE" << false;
    QTest::newRow("one") << "1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("padded") << " True" << false;
    QTest::newRow("False") << "False" << false;
}

void TestConversions::isTrue()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Convert::isTrue(text), expected);
}

void TestConversions::fromSingle_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("integral") << 72.0f << "72";
    QTest::newRow("half") << 11.5f << "11.5";
    QTest::newRow("inexact") << 11.3f << "11.3";
    QTest::newRow("clamp") << 250.0f << "250";
    QTest::newRow("small") << 8.0f << "8";
}

void TestConversions::fromSingle()
{
    QFETCH(float, value);
    QFETCH(QString, expected);
    QCOMPARE(Convert::fromSingle(value), expected);
}

void TestConversions::toByte()
{
    QCOMPARE(Convert::toByte(0), std::uint8_t(0));
    QCOMPARE(Convert::toByte(0x36), std::uint8_t(0x36));
    QCOMPARE(Convert::toByte(255), std::uint8_t(255));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, Convert::toByte(256));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, Convert::toByte(-1));
}

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
