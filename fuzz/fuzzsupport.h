#pragma once

#include "app/seams.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared pieces of the fuzz targets that drive the program's own code.
namespace Fuzz {

// Creates the process's QApplication once, on the offscreen platform.
void startApplication();

// A folder for files the runs write, removed when the process ends: in
// memory (/dev/shm) where there is one, since every save syncs to disk.
QString scratchFolder(const QString &name);

// The fuzzer's bytes as a QByteArray (a copy: the fuzzer owns its buffer).
QByteArray bytes(const std::uint8_t *data, std::size_t size);

// Reports a broken property with the input's context and aborts, which the
// fuzzer records as a finding together with the input.
[[noreturn]] void fail(const char *property, const QString &detail = {});

// Answers every modal request at once, counting the message boxes.
class SilentDialogs final : public Dialogs
{
public:
    void message(QWidget *, const QString &text, const QString &, BoxIcon) override;
    void chooseFont(QWidget *, FontChoice &) override;
    void chooseColor(QWidget *, std::uint32_t &) override;

    QStringList messages;
};

class FixedClock final : public Clock
{
public:
    QDateTime now() const override;
};

} // namespace Fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            Fuzz::fail(#condition, detail);                                                        \
    } while (false)
