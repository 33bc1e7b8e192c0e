// The hand cursor file: the directory entry and hot-spot bytes of a .cur file
// and the image behind them.
#include "fuzzsupport.h"

#include "app/appshell.h"
#include "app/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QPixmap>

namespace {

QString gPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::startApplication();
    gPath = QDir(Fuzz::scratchFolder(QStringLiteral("cursor")))
                    .filePath(QStringLiteral("HAND-M.CUR"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile out(gPath);
        const QByteArray content = Fuzz::bytes(data, size);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || out.write(content) != content.size())
            Fuzz::fail("the cursor file can be written", gPath);
    }
    try {
        const QCursor cursor = AppShell::loadCursorFile(gPath);
        const QPixmap pixmap = cursor.pixmap();
        const QPoint hot = cursor.hotSpot();
        FUZZ_CHECK(!pixmap.isNull(), QString());
        FUZZ_CHECK(hot.x() >= 0 && hot.y() >= 0 && hot.x() < pixmap.width()
                           && hot.y() < pixmap.height(),
                   QStringLiteral("%1,%2 in %3x%4")
                           .arg(hot.x())
                           .arg(hot.y())
                           .arg(pixmap.width())
                           .arg(pixmap.height()));
    } catch (const RuntimeError &error) {
        FUZZ_CHECK(error.description() == QLatin1String("Invalid picture"), error.description());
    }
    return 0;
}
