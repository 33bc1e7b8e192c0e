#pragma once

#include "app/seams.h"

#include <cstdint>

class QWidget;

// The platform's font and colour dialogs behind the production Dialogs: the
// common dialogs on Windows, Qt's own widget dialogs elsewhere. Each
// platform's source file implements both.
namespace PlatformDialogs {

// Modal over `parent`'s window; on OK `font` takes the choice (face, bold,
// italic, size), on Cancel it is left as it was. Strike-through and underline
// are not offered and keep their values.
void chooseFont(QWidget *parent, FontChoice &font);

// Same for a 0x00BBGGRR colour.
void chooseColor(QWidget *parent, std::uint32_t &color);

} // namespace PlatformDialogs
