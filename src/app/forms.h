#pragma once

#include <functional>

class Form;
class Form1;
class Form2;
class Form3;

// The registry of the three windows. A window is built and its Form_Load run
// at the first touch; unload destroys it, and the next touch builds a fresh
// one. endProgram stops every timer, hides every window and leaves the event
// loop; no handler of any window runs after it.
namespace Forms {

Form1 *form1();
Form2 *form2();
Form3 *form3();

// The loaded instance or nullptr, without loading one.
Form1 *loadedForm1();
Form2 *loadedForm2();
Form3 *loadedForm3();

// Runs the window's query-unload and unload handlers, then destroys it.
void unload(Form *form);

void endProgram();
bool ending();

// What endProgram does last; the default leaves the application's event loop.
void setQuitHandler(std::function<void()> handler);

// Destroys every window at once without running handlers (program exit, tests).
void destroyAll();

} // namespace Forms
