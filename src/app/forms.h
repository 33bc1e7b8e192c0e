#pragma once

#include <functional>

class Form;

// The registry of the three windows. A window is built and its Form_Load run
// at the first touch; unload destroys it, and the next touch builds a fresh
// one. endProgram stops every timer, hides every window and leaves the event
// loop; no handler of any window runs after it.
//
// The registry knows windows only as Form: the layer that defines a window
// says how it is made (registerWindow) and offers the typed accessor
// (Forms::form1() in options/form1.h, and so on).
namespace Forms {

enum class Window { Options, Display, Colours };

// How the window is made; it must return a new, not yet loaded window.
void registerWindow(Window window, std::function<Form *()> make);

// The window, built and loaded at the first touch; nullptr once the program
// ends or when no maker is registered.
Form *form(Window window);
// The loaded instance or nullptr, without loading one.
Form *loaded(Window window);

// Runs the window's query-unload and unload handlers, then destroys it.
void unload(Form *form);

void endProgram();
bool ending();

// What endProgram does last; the default leaves the application's event loop.
void setQuitHandler(std::function<void()> handler);

// Destroys every window at once without running handlers (program exit, tests).
void destroyAll();

} // namespace Forms
