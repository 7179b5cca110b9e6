// varnel-importer.exe: the importer's window on Windows, with the system's own controls (no
// toolkit). The window is the dialog resource IDD_FRMSTEP1 (MainWindow.rc); the list of files is a
// list view standing in for the Qt window's grid. What the buttons do is shared with the Qt window
// (filelist/WindowFlows.h, over the core's folder walk and import run), as is every text it shows
// (import/WindowTexts.h); this file only asks, shows and lists the Windows way. Everything runs on
// the one window thread; the folder add and the import let the window's messages through between
// files, as the Qt window does.
#include <windows.h>

#include <commctrl.h>
#include <cderr.h>
#include <commdlg.h>
#include <shobjidl.h>

#include "resource.h"

#include "filelist/FolderListing.h"
#include "filelist/PickedFiles.h"
#include "filelist/SourceFileList.h"
#include "filelist/WindowFlows.h"
#include "import/ImportRun.h"
#include "import/WindowTexts.h"
#include "messaging/Session.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Geometry in twips (1/1440 inch), relative to the client area, as the Qt window lays it out.
struct Placement {
    int id;
    int left, top, width, height;
};

constexpr Placement kPlacements[] = {
    {IDC_CMDADD, 240, 960, 2775, 375},
    {IDC_CMDCLEAR1, 6600, 960, 1335, 375},
    {IDC_CMDADDFOLDER, 3240, 960, 2175, 375},
    {IDC_GRDFILES1, 240, 1800, 7695, 1575},
    {IDC_LBLCOUNT1, 270, 1560, 7695, 255},
    {IDC_CMDEXTRACTDBX, 2880, 5520, 2415, 435},
    {IDC_PICTURE3, 240, 6240, 7695, 495},
    {IDC_CMDEND, 240 + 6360, 6240, 1335, 375},  // on the panel Picture3
    {IDC_LBLTITLE, 240, 120, 6255, 375},
    {IDC_LBLCOPYRIGHT, 240, 480, 6135, 255},
    {IDC_FRAMECONVERSION, 240, 3480, 7695, 1815},
    // Inside the frame, which lies at (240, 3480).
    {IDC_PROGRESSBAR1, 240 + 1800, 3480 + 1320, 5775, 255},
    {IDC_LBLPROGESSCURRENT, 240 + 1800, 3480 + 600, 5775, 255},
    {IDC_LBLCURRENTDBX, 240 + 120, 3480 + 240, 7455, 255},
    {IDC_LABEL1, 240 + 120, 3480 + 1320, 1695, 255},
    {IDC_PROGRESSBAR2, 240 + 1800, 3480 + 960, 5775, 255},
    {IDC_LABEL2, 240 + 120, 3480 + 960, 1695, 255},
};
constexpr int kClientWidthTwips = 8145;
constexpr int kClientHeightTwips = 6750;
// The header and footer bands, drawn beneath the controls that lie on them.
constexpr RECT kHeaderBandTwips{-120, 0, -120 + 8415, 855};
constexpr RECT kFooterBandTwips{0, 6120, 8415, 6120 + 855};
// Column width at start (the list gives it its own width when the first file goes in).
constexpr int kStartColWidthTwips = 50000;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kLightGrey = RGB(192, 192, 192);
constexpr COLORREF kMidGrey = RGB(128, 128, 128);
constexpr COLORREF kPaleYellow = RGB(255, 255, 191);
constexpr COLORREF kNavy = RGB(0, 0, 128);

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
const wchar_t* W(const Text& text) { return W(text.c_str()); }
Text FromW(const wchar_t* text) { return Text(reinterpret_cast<const char16_t*>(text)); }

struct Window {
    HWND dialog = nullptr;
    HFONT bodyFont = nullptr;
    HFONT titleFont = nullptr;
    HBRUSH white = nullptr;
    int dpi = 96;
    bool importRunning = false;
    bool busy = false;
    // While many rows are added at once, the list is drawn only when the window's messages are let
    // through (Yield), not for every row.
    bool batch = false;
    // The list's current row, and whether the list shows it yet. Moving the list's selection costs
    // a scroll and a redraw (under wine about a second for a hundred rows), so a flow that walks
    // the rows shows the current one when the window is next shown to the user: at a Yield, before
    // a dialog, and when the button's flow ends.
    int currentRow = 0;
    bool currentShown = true;
} g;

HWND Control(int id) { return GetDlgItem(g.dialog, id); }

int Pixels(int twips) { return MulDiv(twips, g.dpi, 1440); }

void SetCaption(int id, const Text& text) { SetWindowTextW(Control(id), W(text)); }

// Ends the program at once, also from inside a yield of a running import, whose remaining steps
// then never run. What the import saved so far goes into its store first.
[[noreturn]] void EndProgram()
{
    messaging::CommitAttachedStores();
    std::fflush(nullptr);
    std::_Exit(0);
}

// Lets the window's pending messages through once: paint, input, the other buttons.
void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!IsDialogMessageW(g.dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// ---- Message boxes and dialogs -------------------------------------------------------------

int MsgBox(const Text& prompt, int style, const char16_t* title = texts::kApplicationTitle)
{
    return MessageBoxW(g.dialog, W(prompt), W(title), static_cast<UINT>(style) | MB_SETFOREGROUND);
}

// A message whose details the user can unfold ("Show Details..."): a task dialog, where the
// system has one (common controls 6); otherwise the details follow the message.
int MsgBoxWithDetails(const Text& prompt, int style, const char16_t* title, const Text& details)
{
    if (details.empty())
        return MsgBox(prompt, style, title);
    using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    const auto taskDialog = reinterpret_cast<TaskDialogIndirectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "TaskDialogIndirect")));
    if (taskDialog) {
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof config;
        config.hwndParent = g.dialog;
        config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
        config.dwCommonButtons = TDCBF_OK_BUTTON;
        config.pszWindowTitle = W(title);
        config.pszMainIcon = (style & 0xF0) == MsgBoxStyle::Critical ? TD_ERROR_ICON : TD_INFORMATION_ICON;
        config.pszContent = W(prompt);
        config.pszExpandedInformation = W(details);
        config.pszCollapsedControlText = W(texts::kShowDetails);
        config.pszExpandedControlText = W(texts::kHideDetails);
        int button = 0;
        if (SUCCEEDED(taskDialog(&config, &button, nullptr, nullptr)))
            return MsgBoxResult::Ok;
    }
    return MsgBox(prompt + u"\r\n\r\n" + details, style, title);
}

// The multi-select file-open dialog. Gives the picked files as full paths in the dialog's order,
// names typed into it as they stand; nothing on cancel. `error` is the dialog's failure, if any.
WindowSide::OpenResult ShowOpen(const Text& filterText, int maxFiles)
{
    // "description|patterns" becomes the dialog's NUL-separated pair, ended by a second NUL.
    std::u16string filter = filterText;
    for (char16_t& c : filter)
        if (c == u'|')
            c = u'\0';
    filter.push_back(u'\0');
    // Room for the most files one pick may return, each with a full path.
    std::vector<wchar_t> buffer(static_cast<size_t>(maxFiles + 1) * (MAX_PATH + 1) + 1, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g.dialog;
    ofn.lpstrFilter = W(filter);
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT;
    WindowSide::OpenResult result;
    if (!GetOpenFileNameW(&ofn)) {
        const DWORD error = CommDlgExtendedError();
        if (error == FNERR_BUFFERTOOSMALL)
            result.error = texts::kDialogBufferTooSmall;
        else if (error != 0) {
            result.error = static_cast<int>(error);
            result.description = u"The file dialog failed.";
        }
        return result;
    }
    result.files = PickedFiles(std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), buffer.size()));
    if (result.files.size() > static_cast<size_t>(maxFiles)) {
        result.files.clear();
        result.error = texts::kDialogBufferTooSmall;
    }
    return result;
}

// The folder chooser: the folder's full path, or empty text when nothing usable was chosen.
Text BrowseForFolder(const Text& title)
{
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&dialog))))
        return {};
    Text folder;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(W(title));
    if (SUCCEEDED(dialog->Show(g.dialog))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
                folder = FromW(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    if (!folder.empty() && GetFileAttributesW(W(folder)) == INVALID_FILE_ATTRIBUTES)
        return {};
    return folder;
}

// ---- The list of files: a list view standing in for the Qt window's grid ---------------------
// Its rules (an empty list is one empty row, the count label, the column width) are the shared
// SourceFileList's; ListViewGrid gives it the grid's operations over the list view.

HWND List() { return Control(IDC_GRDFILES1); }

int Rows() { return ListView_GetItemCount(List()); }

Text RowText(int row)
{
    std::vector<wchar_t> text(32768, L'\0');
    ListView_GetItemText(List(), row, 0, text.data(), static_cast<int>(text.size()));
    return FromW(text.data());
}

void InsertRow(int row, const Text& text)
{
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(W(text));
    ListView_InsertItem(List(), &item);
}

void SetRowText(int row, const Text& text) { ListView_SetItemText(List(), row, 0, const_cast<wchar_t*>(W(text))); }

// Shows the current row: selected and scrolled into view.
void SelectCurrentRow()
{
    g.currentShown = true;
    const int row = g.currentRow;
    // One row at most is selected: only that one is cleared (clearing every row is slow in a long list).
    const int selected = ListView_GetNextItem(List(), -1, LVNI_SELECTED);
    if (selected != row) {
        if (selected >= 0)
            ListView_SetItemState(List(), selected, 0, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_SetItemState(List(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    ListView_EnsureVisible(List(), row, FALSE);
}

// Makes `row` the current row; the list shows it when the window is next shown (FlushCurrentRow).
void MoveCurrentRow(int row)
{
    g.currentRow = row;
    g.currentShown = false;
}

void FlushCurrentRow()
{
    if (!g.currentShown && g.currentRow >= 0 && g.currentRow < Rows())
        SelectCurrentRow();
}

class ListViewGrid : public FileGrid {
public:
    int Rows() override { return ::Rows(); }
    void setRows(int rows) override
    {
        if (rows == 1 && ::Rows() > 1) {
            // Shrinking a long list one row at a time is slow: row 0 is kept, the rest go at once.
            const Text first = RowText(0);
            ListView_DeleteAllItems(List());
            InsertRow(0, first);
        }
        while (::Rows() > rows)
            ListView_DeleteItem(List(), ::Rows() - 1);
        while (::Rows() < rows)
            InsertRow(::Rows(), Text());
        if (g.currentRow >= rows)
            MoveCurrentRow(rows - 1);
    }
    void setCols(int) override {}  // one column, always
    void setRow(int row) override { MoveCurrentRow(row); }
    void setCol(int) override {}
    Text CellText() override { return RowText(g.currentRow); }
    void setCellText(const Text& text) override { SetRowText(g.currentRow, text); }
    void Clear() override
    {
        for (int row = 0; row < ::Rows(); ++row)
            SetRowText(row, Text());
    }
    void setColWidth(int, int twips) override { ListView_SetColumnWidth(List(), 0, Pixels(twips)); }
    void setCountCaption(const Text& caption) override { SetCaption(IDC_LBLCOUNT1, caption); }
};

SourceFileList& FileList()
{
    static ListViewGrid grid;
    static SourceFileList list(grid);
    return list;
}

// Draws the list as it now stands, with its current row, after rows were added in a batch.
void ShowBatch()
{
    FlushCurrentRow();
    SendMessageW(List(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(List(), nullptr, FALSE);
}

// Lets the window's messages through between two steps of a long operation, at most every 50 ms:
// often enough for the window to repaint and take clicks, rarely enough that a long list is not
// drawn again for every file added (which under wine costs far more than the add itself).
void Yield()
{
    static ULONGLONG last = 0;
    if (GetTickCount64() - last < 50)
        return;
    if (g.batch)
        ShowBatch();
    else
        FlushCurrentRow();
    PumpMessages();
    if (g.batch)
        SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
    last = GetTickCount64();
}

// ---- The buttons: the flows shared with the Qt window (filelist/WindowFlows.h) -----------------

class Win32Side : public WindowSide {
public:
    int MsgBox(const Text& prompt, int style, const Text& title) override
    {
        FlushCurrentRow();
        return ::MsgBox(prompt, style, title.c_str());
    }
    int MsgBoxWithDetails(const Text& prompt, int style, const Text& title, const Text& details) override
    {
        FlushCurrentRow();
        return ::MsgBoxWithDetails(prompt, style, title.c_str(), details);
    }
    OpenResult ShowOpen(const Text& filter, int maxFiles) override
    {
        FlushCurrentRow();
        return ::ShowOpen(filter, maxFiles);
    }
    Text BrowseForFolder(const Text& title) override
    {
        FlushCurrentRow();
        return ::BrowseForFolder(title);
    }

    void AddFileToList(const Text& path) override { FileList().AddFileToList(path); }
    void ClearFileList() override { FileList().ClearFileList(); }
    int Rows() override { return ::Rows(); }
    Text RowText(int row) override
    {
        MoveCurrentRow(row);
        return ::RowText(row);
    }

    void BeginAdding() override
    {
        g.batch = true;
        SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
    }
    void EndAdding() override
    {
        g.batch = false;
        ShowBatch();
    }

    void SetImportEnabled(bool enabled) override
    {
        EnableWindow(Control(IDC_CMDEXTRACTDBX), enabled ? TRUE : FALSE);
    }
    void SetBusy(bool busy) override
    {
        g.busy = busy;
        SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
    }
    void Yield() override { ::Yield(); }

    void ResetProgressRanges() override
    {
        SendMessageW(Control(IDC_PROGRESSBAR1), PBM_SETRANGE32, 0, 100);
        SendMessageW(Control(IDC_PROGRESSBAR2), PBM_SETRANGE32, 0, 100);
    }
    void ShowCurrentRow(int row) override { MoveCurrentRow(row); }
    void ShowFileDone(const Text& frameCaption, const Text& folderCaption, int percent) override
    {
        SetCaption(IDC_FRAMECONVERSION, frameCaption);
        SetCaption(IDC_LBLCURRENTDBX, folderCaption);
        SendMessageW(Control(IDC_PROGRESSBAR1), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
};

Win32Side& Side()
{
    static Win32Side side;
    return side;
}

void cmdEnd_Click()
{
    if (MsgBox(texts::kExitQuestion, MsgBoxStyle::YesNo + MsgBoxStyle::Question) == MsgBoxResult::Yes)
        SendMessageW(g.dialog, WM_CLOSE, 0, 0);
}

// ---- The window ------------------------------------------------------------------------------

HFONT Tahoma(int hundredthsOfPoint, int weight)
{
    return CreateFontW(-MulDiv(hundredthsOfPoint, g.dpi, 7200), 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

RECT PixelRect(const RECT& twips)
{
    return RECT{Pixels(twips.left), Pixels(twips.top), Pixels(twips.right), Pixels(twips.bottom)};
}

void Form_Load(HWND dialog)
{
    g.dialog = dialog;
    HDC screen = GetDC(nullptr);
    g.dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    g.bodyFont = Tahoma(825, FW_NORMAL);
    g.titleFont = Tahoma(1425, FW_BOLD);
    g.white = CreateSolidBrush(kWhite);

    for (const Placement& p : kPlacements) {
        HWND control = Control(p.id);
        MoveWindow(control, Pixels(p.left), Pixels(p.top), Pixels(p.width), Pixels(p.height), FALSE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(p.id == IDC_LBLTITLE ? g.titleFont : g.bodyFont),
                     FALSE);
    }
    // The panel lies beneath the exit button on it (the tab order, which follows the resource, is
    // not changed by this: the panel takes no focus).
    SetWindowPos(Control(IDC_PICTURE3), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The list: one column, no header, one empty row.
    HWND list = List();
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    ListView_SetBkColor(list, kWhite);  // beyond the last row
    ListView_SetTextBkColor(list, kPaleYellow);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = Pixels(kStartColWidthTwips);
    ListView_InsertColumn(list, 0, &column);
    InsertRow(0, Text());

    for (int id : {IDC_PROGRESSBAR1, IDC_PROGRESSBAR2}) {
        SendMessageW(Control(id), PBM_SETRANGE32, 0, 100);
        SendMessageW(Control(id), PBM_SETPOS, 0, 0);
    }

    // The icon: the first icon group of the program's resources.
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (auto [which, size] : {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
        const int pixels = GetSystemMetrics(size);
        HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels, pixels, LR_DEFAULTCOLOR);
        SendMessageW(dialog, WM_SETICON, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(icon));
    }

    // A fixed client area of 543 x 450 pixels (at 96 dpi), centred on the screen's work area.
    RECT frame{0, 0, Pixels(kClientWidthTwips), Pixels(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER);
}

void PaintBands(HWND dialog)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    for (auto [twips, outline] : {std::pair{kHeaderBandTwips, kMidGrey}, std::pair{kFooterBandTwips, kLightGrey}}) {
        const RECT band = PixelRect(twips);
        FillRect(dc, &band, g.white);
        HBRUSH edge = CreateSolidBrush(outline);
        FrameRect(dc, &band, edge);
        DeleteObject(edge);
    }
    EndPaint(dialog, &ps);
}

// The grid's colours: pale yellow rows, a navy current row, white beyond the last row.
LRESULT DrawListItem(NMLVCUSTOMDRAW* draw)
{
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const int row = static_cast<int>(draw->nmcd.dwItemSpec);
        if (ListView_GetItemState(List(), row, LVIS_SELECTED) & LVIS_SELECTED) {
            draw->clrTextBk = kNavy;
            draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        } else {
            draw->clrTextBk = kPaleYellow;
            draw->clrText = GetSysColor(COLOR_WINDOWTEXT);
        }
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Form_Load(dialog);
        SetFocus(Control(IDC_CMDADD));
        return FALSE;  // the focus is set
    case WM_PAINT:
        PaintBands(dialog);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == IDC_LBLTITLE || id == IDC_LBLCOPYRIGHT || id == IDC_PICTURE3) {
            SetTextColor(dc, kBlack);
            SetBkColor(dc, kWhite);
            return reinterpret_cast<INT_PTR>(g.white);
        }
        if (id == IDC_LBLPROGESSCURRENT) {
            SetTextColor(dc, kBlack);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_GRDFILES1 && header->code == NM_CUSTOMDRAW) {
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, DrawListItem(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam)));
            return TRUE;
        }
        return FALSE;
    }
    case WM_SETCURSOR:
        if (g.busy) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_CMDADD: AddPickedFiles(Side()); break;
        case IDC_CMDADDFOLDER: AddFolderFiles(Side(), DiskFolderListing); break;
        case IDC_CMDCLEAR1: ClearListedFiles(Side()); break;
        case IDC_CMDEXTRACTDBX: ImportListedFiles(Side()); break;
        case IDC_CMDEND: cmdEnd_Click(); break;
        default: break;  // Enter (IDOK) and Esc (IDCANCEL) do nothing
        }
        FlushCurrentRow();
        return TRUE;
    case WM_CLOSE:
        // Closing is never refused and asks nothing: only the exit button asks.
        EndProgram();
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    // The common controls' classes (version 6, by the manifest) before the first control exists.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_FRMSTEP1), nullptr, DialogProc, 0);
    if (!dialog) {
        MessageBoxW(nullptr, L"The window could not be created.", W(texts::kApplicationTitle), MB_ICONERROR);
        return 1;
    }
    ShowWindow(dialog, show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(dialog);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
