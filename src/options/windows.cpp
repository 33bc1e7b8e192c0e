#include "options/windows.h"

#include "app/forms.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/form3.h"

namespace Forms {

void registerWindows()
{
    registerWindow(Window::Options, [] { return new Form1; });
    registerWindow(Window::Display, [] { return new Form2; });
    registerWindow(Window::Colours, [] { return new Form3; });
}

} // namespace Forms
