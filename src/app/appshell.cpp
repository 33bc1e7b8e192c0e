#include "app/appshell.h"

#include "app/colors.h"
#include "app/runtimeerror.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QtEndian>

#include <optional>

// Reads an image with the handler for FORMAT alone. By default Qt asks every
// image plugin in turn whether it reads the data, loading each of them (and
// libjpeg) into the program on the way, even for PNG, which Qt reads itself.
static QImage readImage(QIODevice *device, const char *format)
{
    QImageReader reader(device, format);
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

static QImage iconImage(const QString &name)
{
    QFile file(QStringLiteral(":/icons/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readImage(&file, "png");
}

// The icons are compiled into this static library; naming their resource
// file here makes the linker keep it in the program.
static void loadIconResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(loaded);
}

namespace {

std::optional<QString> gAppTitle;

bool isPlainControl(const QObject *object)
{
    return qobject_cast<const QRadioButton *>(object) || qobject_cast<const QCheckBox *>(object)
            || qobject_cast<const QGroupBox *>(object) || qobject_cast<const QLabel *>(object);
}

} // namespace

namespace AppShell {

QString appTitle()
{
    return gAppTitle.value_or(QCoreApplication::applicationName());
}

void SetAppTitle(const QString &productName)
{
    QString title = productName;
    do {
        // Position of the last blank counted from 1, 0 when there is none;
        // keeping "position - 1" characters is then an invalid request.
        const qsizetype position = title.lastIndexOf(QLatin1Char(' ')) + 1;
        if (position - 1 < 0)
            throw RuntimeError(Errors::InvalidProcedureCall);
        title = title.left(position - 1);
    } while (title.length() > 40);
    gAppTitle = title;
}

QString programFolder()
{
    QString folder = QCoreApplication::applicationDirPath();
    while (folder.length() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString besideProgram(const QString &relative)
{
    QString native = relative;
    native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return programFolder() + native;
}

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

QCursor loadCursorFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("File not found: '%1'").arg(path));
    const QByteArray data = file.readAll();
    // ICONDIR (reserved 0, type 2 = cursor, count) then the first entry, whose
    // planes and bit-count fields hold the hot spot of a cursor.
    const auto field
            = [&data](int offset) { return qFromLittleEndian<quint16>(data.constData() + offset); };
    if (data.size() < 22 || field(0) != 0 || field(2) != 2 || field(4) < 1)
        throw RuntimeError(QStringLiteral("Invalid picture"));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = readImage(&buffer, "cur");
    if (image.isNull())
        throw RuntimeError(QStringLiteral("Invalid picture"));
    const int hotX = qMin<int>(field(10), image.width() - 1);
    const int hotY = qMin<int>(field(12), image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

QIcon applicationIcon()
{
    loadIconResources();
    // The window manager gets every size as pixels in a window property and
    // reads them when it maps the window: the 256-pixel one alone would be
    // 256 KiB. Title bars, task bars and switchers use 16 to 128 pixels;
    // launchers and docks take the large sizes from the installed icon theme.
    //
    // The options window sets the icon twice as it loads and the other windows
    // once each: the PNGs are decoded once. Images, not pixmaps, are kept,
    // because a pixmap must not outlive the application object.
    static const QList<QImage> images = [] {
        QList<QImage> decoded;
        for (const int size : {32, 48, 128})
            decoded.append(iconImage(QStringLiteral("app-%1.png").arg(size)));
        return decoded;
    }();
    QIcon icon;
    for (const QImage &image : images)
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}

QIcon designIcon()
{
    loadIconResources();
    return QIcon(QPixmap::fromImage(iconImage(QStringLiteral("design-32.png"))));
}

void SetButtonFaceColors(QWidget *window)
{
    Colors::setBackColor(window, Colors::ButtonFace);
    const QList<QWidget *> controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (isPlainControl(control))
            Colors::setBackColor(control, Colors::ButtonFace);
    }
}

void ApplySkin(QWidget *window)
{
    const QString path = besideProgram(SkinFile);
    const QFileInfo info(path);
    // The directory listing, not FileExists: only ordinary, visible files count.
    const QStringList matches = info.dir().entryList(QStringList{info.fileName()}, QDir::Files);
    if (matches.isEmpty())
        return;
    SetButtonFaceColors(window);
    // The listing ignores case, so open the file it found: "x/O.CJS" on a
    // file system that tells the spellings apart.
    const QString found
            = matches.contains(info.fileName()) ? path : info.dir().filePath(matches.first());
    QFile skin(found);
    if (!skin.open(QIODevice::ReadOnly | QIODevice::Text))
        throw RuntimeError(
                QStringLiteral("The skin %1 cannot be read: %2").arg(found, skin.errorString()));
    qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
}

} // namespace AppShell
