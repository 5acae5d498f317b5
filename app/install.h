// install.h - the installer application: its main operation, the pages it offers and the installation steps.
#pragma once

int InstallMain(void);
