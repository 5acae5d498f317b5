// fltk_bare.cpp - the yardstick of the wizard's start-up benchmark: a minimal FLTK window of the wizard's
// size, shown, drawn once and left, timed the same way as the wizard's first page.

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/x.H>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main()
{
    Fl_Double_Window window(360, 293, "Bare");
    window.end();
    window.show();
    Fl::flush();
    XSync(fl_display, False);
    _exit(0); // as the wizard's front end leaves: nothing after the first draw is timed
}
