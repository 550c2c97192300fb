#pragma once

// Names of the program's own resources.
#define IDI_MAINICON   L"MAINICON"
#define IDI_TRAY_DARK  L"TRAYDARK"
#define IDI_TRAY_LIGHT L"TRAYLIGHT"
#define IDI_TRAY_COLOR L"TRAYCOLOR"
