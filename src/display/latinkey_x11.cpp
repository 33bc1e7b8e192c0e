#include "display/latinkey.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cstring>

namespace {

// The letter keys by their place on the keyboard (XKB key names: row D is
// the top letter row), with the letters a US keyboard prints on them, as the
// virtual-key codes of other platforms name them.
struct KeyPlace
{
    const char *name;
    char letter;
};
constexpr KeyPlace LetterPlaces[]
        = {{"AD01", 'Q'}, {"AD02", 'W'}, {"AD03", 'E'}, {"AD04", 'R'}, {"AD05", 'T'}, {"AD06", 'Y'},
           {"AD07", 'U'}, {"AD08", 'I'}, {"AD09", 'O'}, {"AD10", 'P'}, {"AC01", 'A'}, {"AC02", 'S'},
           {"AC03", 'D'}, {"AC04", 'F'}, {"AC05", 'G'}, {"AC06", 'H'}, {"AC07", 'J'}, {"AC08", 'K'},
           {"AC09", 'L'}, {"AB01", 'Z'}, {"AB02", 'X'}, {"AB03", 'C'}, {"AB04", 'V'}, {"AB05", 'B'},
           {"AB06", 'N'}, {"AB07", 'M'}};

// The Latin letter one of the key's layout groups gives it, 0 for none.
int letterOfGroups(XkbDescPtr keyboard, unsigned keycode)
{
    const int groups = XkbKeyNumGroups(keyboard, keycode);
    for (int group = 0; group < groups; ++group) {
        const KeySym symbol = XkbKeySymEntry(keyboard, keycode, 0, group);
        if (symbol >= XK_a && symbol <= XK_z)
            return Qt::Key_A + int(symbol - XK_a);
        if (symbol >= XK_A && symbol <= XK_Z)
            return Qt::Key_A + int(symbol - XK_A);
    }
    return 0;
}

// The Latin letter of the key's place on the keyboard, 0 for a key that is
// not one of the letter keys.
int letterOfPlace(XkbDescPtr keyboard, unsigned keycode)
{
    if (!keyboard->names || !keyboard->names->keys)
        return 0;
    const char *name = keyboard->names->keys[keycode].name;
    for (const KeyPlace &place : LetterPlaces) {
        if (std::strncmp(name, place.name, XkbKeyNameLength) == 0)
            return Qt::Key_A + (place.letter - 'A');
    }
    return 0;
}

} // namespace

int latinLetterOfKey(const QKeyEvent *event)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    const quint32 keycode = event->nativeScanCode();
    if (!x11 || !x11->display() || keycode < 8 || keycode > 255)
        return 0;
    // Read afresh: Qt reads the X events, so Xlib's own copy of the keymap
    // would miss a layout change made while the program runs.
    XkbDescPtr keyboard = XkbGetMap(x11->display(), XkbKeySymsMask, XkbUseCoreKbd);
    if (!keyboard)
        return 0;
    int letter = 0;
    if (keycode >= keyboard->min_key_code && keycode <= keyboard->max_key_code) {
        letter = letterOfGroups(keyboard, keycode);
        // No layout gives the key a Latin letter (a Russian layout alone):
        // the letter of its place, as on a US keyboard.
        if (!letter && XkbGetNames(x11->display(), XkbKeyNamesMask, keyboard) == Success)
            letter = letterOfPlace(keyboard, keycode);
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return letter;
}
