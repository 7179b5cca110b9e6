#pragma once

#include "filelist/FolderListing.h"
#include "filelist/SourceFileList.h"

#include <QWidget>
#include <functional>

class FlexGrid;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class UserPrompts;

// Ends the program at once, from wherever it is called: also from inside a yield of a running
// operation, whose remaining steps then never run. Nothing is written on the way out.
[[noreturn]] void EndProgram();

// The main window. Its controls are public, as other parts of the program read and set them by
// name; each also carries its name as the Qt object name.
class frmStep1 : public QWidget {
    Q_OBJECT
public:
    // `prompts` answers every message box and dialog; `endProgram` is what closing the window does.
    explicit frmStep1(UserPrompts& prompts, std::function<void()> endProgram = EndProgram,
                      QWidget* parent = nullptr);
    ~frmStep1() override;

    // Shows the window centred on the screen.
    void ShowCentred();

    // Source file list.
    void AddFileToList(const QString& path);
    void ClearFileList();

    // Handlers.
    void Form_Initialize();
    void Form_Load();
    void Form_Unload(int& cancel);
    void cmdAdd_Click();
    void CmdAddFolder_Click();
    void cmdClear1_Click();
    void cmdEnd_Click();

    UserPrompts& prompts() { return m_prompts; }

    // What the add-folder button reads folders through (the file system unless set).
    void setFolderListing(FolderListingFactory listing) { m_listing = std::move(listing); }

    static const QString kWindowTitle;
    static const QString kExitQuestion;

    QWidget* Shape2 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblCopyright = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* CmdAddFolder = nullptr;
    QPushButton* cmdClear1 = nullptr;
    QLabel* lblCount1 = nullptr;
    FlexGrid* grdFiles1 = nullptr;
    QGroupBox* FrameConversion = nullptr;
    QLabel* LblCurrentDBX = nullptr;
    QLabel* LblProgessCurrent = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* CmdExtractDBX = nullptr;
    QWidget* Shape1 = nullptr;
    QWidget* Picture3 = nullptr;
    QPushButton* cmdEnd = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();

    UserPrompts& m_prompts;
    std::function<void()> m_endProgram;
    std::unique_ptr<SourceFileList> m_fileList;
    FolderListingFactory m_listing = DiskFolderListing;
};
