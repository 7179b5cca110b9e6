#pragma once

// Identifiers of the main window's dialog resource and its controls, for MainWindow.rc and the
// program alike. The controls are numbered in tab order.
#define IDD_FRMSTEP1 100

#define IDC_CMDADD 1000
#define IDC_CMDCLEAR1 1001
#define IDC_CMDADDFOLDER 1002
#define IDC_GRDFILES1 1003
#define IDC_LBLCOUNT1 1004
#define IDC_CMDEXTRACTDBX 1005
#define IDC_PICTURE3 1006
#define IDC_CMDEND 1007
#define IDC_LBLTITLE 1008
#define IDC_LBLCOPYRIGHT 1009
#define IDC_FRAMECONVERSION 1010
#define IDC_PROGRESSBAR1 1011
#define IDC_LBLPROGESSCURRENT 1012
#define IDC_LBLCURRENTDBX 1013
#define IDC_LABEL1 1014
#define IDC_PROGRESSBAR2 1015
#define IDC_LABEL2 1016
