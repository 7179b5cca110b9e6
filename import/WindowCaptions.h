#pragma once

// The captions of the main window's controls, for the C++ texts (WindowTexts.h) and for the
// Windows dialog resource (win32/MainWindow.rc) alike: plain preprocessor, which both compilers
// read. Each takes the string prefix its reader wants: u for the C++ texts, L for the resource.
// "&" marks an access key.
#define VARNEL_WINDOW_TITLE(P) P##"Varnel vCalendar/iCalendar Importer (.vcs/.ics)"
#define VARNEL_PRODUCT_TITLE(P) P##"Varnel vCalendar/iCalendar Importer"
#define VARNEL_COPYRIGHT(P) P##"Copyright \x00A9 2026 Varnel Software. All rights reserved."
#define VARNEL_ADD_FILES_BUTTON(P) P##"Add vCalendar/iCalendar File(s)..."
#define VARNEL_ADD_FOLDER_BUTTON(P) P##"Add Folder having File(s)..."
#define VARNEL_CLEAR_BUTTON(P) P##"Clear File(s)..."
#define VARNEL_NO_FILES_COUNT(P) P##"0 files"
#define VARNEL_DETAILS_FRAME(P) P##"Details"
#define VARNEL_IMPORTING_LABEL(P) P##"Importing Calendars..."
#define VARNEL_CALENDARS_COUNTER(P) P##"Calendars 0 (of 0)"
#define VARNEL_CURRENT_FILE_PROGRESS(P) P##"Current File Progress : "
#define VARNEL_OVERALL_PROGRESS(P) P##"Overall Progress        : "
#define VARNEL_IMPORT_BUTTON(P) P##"Import &Calendars"
#define VARNEL_EXIT_BUTTON(P) P##"E&xit"
