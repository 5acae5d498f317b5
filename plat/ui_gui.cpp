// ui_gui.cpp - placeholder
#include "dlgint.h"
