// Resource ids of Updater.exe: dialog templates, controls, icon, system-menu command. Read by
// the resource compiler and by the Win32 views. Image ids (129...142) and string ids
// (101...115) are those of engine/seams/firmware_images.hpp and engine/string_table.hpp.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_SYSTEM_UPDATER 102
#define IDD_RK4UPDATOR_DIALOG 103
#define IDR_MAINFRAME 128

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_MIDI_IN_LIST 1000
#define IDC_MIDI_OUT_LIST 1001
#define IDC_PROGRESS 1002
#define IDC_STATUS_TEXT 1003
#define IDC_ABOUT_TITLE 1003
#define IDC_RESCAN_DEVICE 1004
#define IDC_PICTURE 1005
#define IDC_COUNTER_TEXT 1006
#define IDC_VERSION_CHECK 1007

#define IDM_ABOUTBOX 0x0010
