// The conversions of stored setting texts: whatever text a hand-edited store
// holds, each conversion gives a value or one of its two failures, and the
// value agrees with the number the text spells.
#include "fuzzsupport.h"

#include "app/conversions.h"
#include "app/runtimeerror.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// The text as UTF-8, UTF-16 or Latin-1, chosen by the first byte, so that every
// UTF-16 code unit can reach the conversions.
QString textOf(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    const QByteArray rest = Fuzz::bytes(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        return QString::fromUtf8(rest);
    case 1:
        return QString(reinterpret_cast<const QChar *>(rest.constData()), rest.size() / 2);
    default:
        return QString::fromLatin1(rest);
    }
}

template<typename Convert>
std::optional<qint64> attempt(const QString &text, Convert convert)
{
    try {
        return convert(text);
    } catch (const RuntimeError &error) {
        FUZZ_CHECK(error.description() == Errors::TypeMismatch
                           || error.description() == Errors::Overflow,
                   error.description());
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::startApplication();
    // Where the machine has a locale that writes decimals with a comma, the
    // process runs in it, as a German user's would: stored texts must read the
    // same there.
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            std::fprintf(stderr, "INFO: numbers in the %s locale\n", name);
            break;
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = textOf(data, size);
    const auto int16 = attempt(text, Convert::toInt16);
    const auto int32 = attempt(text, Convert::toInt32);
    const auto color = attempt(text, [](const QString &t) { return qint64(Convert::toColor(t)); });

    if (int16)
        FUZZ_CHECK(int32 && *int32 == *int16, text);
    FUZZ_CHECK(color.has_value() == int32.has_value(), text);
    if (int32) {
        FUZZ_CHECK(std::uint32_t(*color) == std::uint32_t(*int32), text);
        // The accepted text is a decimal number whatever the process locale:
        // the value is that number rounded half to even. A number too small
        // for a double reads as zero.
        QByteArray digits = text.trimmed().toLatin1();
        if (digits.startsWith('+'))
            digits.remove(0, 1);
        double spelled = 0;
        const auto [end, error] = std::from_chars(digits.cbegin(), digits.cend(), spelled);
        FUZZ_CHECK(end == digits.cend(), text);
        FUZZ_CHECK(error == std::errc() ? std::nearbyint(spelled) == double(*int32) : *int32 == 0,
                   text);
    }

    // Every finite single a window writes back reads as a number again.
    if (size >= 4) {
        float value;
        std::memcpy(&value, data + size - 4, sizeof value);
        if (std::isfinite(value)) {
            const QString written = Convert::fromSingle(value);
            try {
                Convert::toInt32(written);
            } catch (const RuntimeError &error) {
                FUZZ_CHECK(error.description() == Errors::Overflow, written);
            }
        }
    }
    return 0;
}
