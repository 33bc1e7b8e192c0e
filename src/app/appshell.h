#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>

class QWidget;

// Shared routines of the application shell: the product identity, the
// application title, files beside the program, the icon, cursor and skin.
namespace AppShell {

inline const QString ProductName = QStringLiteral("Vantorel Briskane Tallow Marquee Edition");
inline const QString ProjectTag = QStringLiteral("Kestrine2021/08/31");
inline const QString SupportAddress = QStringLiteral("support@tallow-marquee.halvex.example");

inline const QString HandCursorFile = QStringLiteral("\\HAND-M.CUR");
inline const QString SkinFile = QStringLiteral("\\x\\o.cjs");

// The line end of every composed text: the quote text, the error reports.
inline const QString CrLf = QStringLiteral("\r\n");

// The process-wide title of message boxes without a caption of their own.
QString appTitle();

// Cuts the last blank-separated word off `productName` until it is at most 40
// characters long, and makes the result the application title. A name
// without a blank throws "Invalid procedure call or argument" and leaves the
// title unchanged.
void SetAppTitle(const QString &productName = ProductName);

// The folder holding the program, without a trailing separator.
QString programFolder();
// The program folder followed by a relative text that starts with a backslash;
// backslashes become the platform's separator.
QString besideProgram(const QString &relative);

// True when the last-modified time of `path` can be read; never throws.
bool FileExists(const QString &path);

// Loads a .cur file with the hot spot its directory entry names. Throws
// "Invalid picture" when the file is not a cursor.
QCursor loadCursorFile(const QString &path);

// The program's multi-size icon and the options window's single-size design icon.
QIcon applicationIcon();
QIcon designIcon();

// Dresses `window` in the skin beside the program, when there is one: the
// window and its plain controls take the button-face colour and the skin file
// becomes the application's style sheet, so windows opened later wear it too.
void ApplySkin(QWidget *window);

// The background colouring shared by ApplySkin and SetButtonFaceColors.
void SetButtonFaceColors(QWidget *window);

} // namespace AppShell
