#pragma once

#include "filelist/FolderListing.h"
#include "filelist/SourceFileList.h"

#include "import/PathList.h"

#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>

class FlexGrid;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class UserPrompts;
class WindowSide;
namespace messaging {
class RDOFolder;
}

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
    void CmdExtractDBX_Click();

    // The folder at a backslash path "\" + store display name + "\" + folder path, through the
    // mail client; null when no part of the path was found.
    std::shared_ptr<messaging::RDOFolder> OpenMAPIFolder(const QString& path);

    UserPrompts& prompts() { return m_prompts; }

    // What the add-folder button reads folders through (the file system unless set).
    void setFolderListing(FolderListingFactory listing) { m_listing = std::move(listing); }
    // The clock the import's time stamps come from (local time; the system clock unless set).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // True while an import runs.
    bool importRunning() const;

    // State of the last import run.
    QString saveFolder;
    QString storeDisplayName;
    PathArray folderList;
    QString lastStorePath;

    static const QString kCompletionTitle;

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
    class Side;
    void createControls();
    WindowSide& side();

    UserPrompts& m_prompts;
    std::function<void()> m_endProgram;
    class Grid;
    std::unique_ptr<Grid> m_grid;
    std::unique_ptr<SourceFileList> m_fileList;
    FolderListingFactory m_listing = DiskFolderListing;
    std::function<QDateTime()> m_clock;
    std::unique_ptr<Side> m_side;
};
