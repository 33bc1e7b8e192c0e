#pragma once

#include <QString>

// The per-user store of named text values. Every read goes to the store and
// every write reaches the disk before save() returns: nothing is cached, so a
// value written by another window or process is seen by the next read. Key
// names compare without regard to case.
namespace Settings {

inline const QString Organization = QStringLiteral("Halvex");
inline const QString Section = QStringLiteral("Vantorel Briskane Tallow Marquee Edition");

namespace Key {
inline const QString Text1 = QStringLiteral("Text1");
inline const QString Combo1 = QStringLiteral("Combo1");
inline const QString Check1 = QStringLiteral("Check1");
inline const QString Check4 = QStringLiteral("Check4");
inline const QString FontName = QStringLiteral("FontName");
inline const QString FontBold = QStringLiteral("FontBold");
inline const QString FontItalic = QStringLiteral("FontItalic");
inline const QString FontSize = QStringLiteral("FontSize");
inline const QString FontStrikeThru = QStringLiteral("FontStrikeThru");
inline const QString FontUnderLine = QStringLiteral("FontUnderLine");
inline const QString FontColor = QStringLiteral("Font Color");
inline const QString BackgroundColor = QStringLiteral("Background Color");
} // namespace Key

// The stored text, or defaultValue when the key is absent.
QString get(const QString &key, const QString &defaultValue);

// Creates or overwrites the value. A write that does not reach the disk
// throws RuntimeError naming the file and the cause; the file on disk keeps
// its previous content. A file that is not a readable settings file is never
// written, nor is a value that is not valid text (a lone UTF-16 surrogate).
// A lock left beside the file by a writer that has ended is removed; a live
// writer's lock is waited for, five seconds at most.
void save(const QString &key, const QString &value);

// The file (or registry branch) behind the store, for messages and tests.
QString location();

} // namespace Settings
