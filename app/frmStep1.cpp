#include "frmStep1.h"

#include "filelist/FlexGrid.h"
#include "filelist/QtText.h"
#include "filelist/Twips.h"
#include "filelist/UserPrompts.h"
#include "filelist/WindowFlows.h"

#include "messaging/Session.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <cstdio>
#include <cstdlib>

const QString frmStep1::kWindowTitle = QString::fromUtf16(texts::kWindowTitle);
const QString frmStep1::kExitQuestion = QString::fromUtf16(texts::kExitQuestion);

void EndProgram()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

namespace {

constexpr int kClientWidthTwips = 8145;
constexpr int kClientHeightTwips = 6750;

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kLightGrey(192, 192, 192);
const QColor kMidGrey(128, 128, 128);

// A filled rectangle with a one-pixel outline, drawn beneath whatever lies on it.
class RectangleShape : public QWidget {
public:
    RectangleShape(QWidget* parent, QColor fill, QColor outline)
        : QWidget(parent)
        , m_fill(fill)
        , m_outline(outline)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), m_fill);
        p.setPen(m_outline);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    QColor m_fill;
    QColor m_outline;
};

QFont BodyFont()
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSizeF(8.25);
    f.setWeight(QFont::Normal);
    return f;
}

QFont TitleFont()
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSizeF(14.25);
    f.setWeight(QFont::Bold);
    return f;
}

void SetColours(QWidget* w, const QColor& background, const QColor& text)
{
    QPalette pal = w->palette();
    if (background.isValid()) {
        pal.setColor(QPalette::Window, background);
        w->setAutoFillBackground(true);
    }
    if (text.isValid())
        pal.setColor(QPalette::WindowText, text);
    w->setPalette(pal);
}

template <typename W>
W* Place(W* w, const char* name, int left, int top, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(TwipsRect(left, top, width, height));
    return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char16_t* caption, int l, int t, int w, int h)
{
    auto* label = Place(new QLabel(QString::fromUtf16(caption), parent), name, l, t, w, h);
    label->setTextFormat(Qt::PlainText);
    label->setFont(BodyFont());
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char16_t* caption, int l, int t, int w, int h)
{
    auto* button = Place(new QPushButton(QString::fromUtf16(caption), parent), name, l, t, w, h);
    button->setFont(BodyFont());
    button->setAutoDefault(false);
    return button;
}

QProgressBar* MakeBar(QWidget* parent, const char* name, int l, int t, int w, int h)
{
    auto* bar = Place(new QProgressBar(parent), name, l, t, w, h);
    bar->setOrientation(Qt::Horizontal);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

// fonts-wine installs Tahoma beside Wine rather than where fontconfig looks, so the faces are
// registered with the application before the first control asks for them.
void RegisterTahoma()
{
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
        return;
    const QString dir = QStringLiteral(VARNEL_TAHOMA_DIR);
    for (const char* face : {"tahoma.ttf", "tahomabd.ttf"})
        QFontDatabase::addApplicationFont(dir + QLatin1Char('/') + QLatin1String(face));
}

// The application icon, from the images the program carries as Qt resources.
QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/varnel-importer-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace

// The grid and its count label, as the list's rules (filelist/SourceFileList.h) use them.
class frmStep1::Grid : public FileGrid {
public:
    Grid(FlexGrid& grid, QLabel& count)
        : m_grid(grid)
        , m_count(count)
    {
    }
    int Rows() override { return m_grid.Rows(); }
    void setRows(int rows) override { m_grid.setRows(rows); }
    void setCols(int cols) override { m_grid.setCols(cols); }
    void setRow(int row) override { m_grid.setRow(row); }
    void setCol(int col) override { m_grid.setCol(col); }
    Text CellText() override { return ToText(m_grid.Text()); }
    void setCellText(const Text& text) override { m_grid.setText(ToQString(text)); }
    void Clear() override { m_grid.Clear(); }
    void setColWidth(int col, int twips) override { m_grid.setColWidth(col, twips); }
    void setCountCaption(const Text& caption) override { m_count.setText(ToQString(caption)); }

private:
    FlexGrid& m_grid;
    QLabel& m_count;
};

// What the shared flows behind the buttons (filelist/WindowFlows.h) ask of this window.
class frmStep1::Side : public WindowSide {
public:
    Side(frmStep1& window, SourceFileList& list)
        : m_window(window)
        , m_list(list)
    {
    }

    int MsgBox(const Text& prompt, int style, const Text& title) override
    {
        return m_window.m_prompts.MsgBox(ToQString(prompt), style, ToQString(title));
    }

    int MsgBoxWithDetails(const Text& prompt, int style, const Text& title, const Text& details) override
    {
        return m_window.m_prompts.MsgBoxWithDetails(ToQString(prompt), style, ToQString(title), ToQString(details));
    }

    OpenResult ShowOpen(const Text& filter, int maxFiles) override
    {
        const OpenDialogResult picked = m_window.m_prompts.ShowOpen(ToQString(filter), maxFiles);
        OpenResult result;
        for (const QString& file : picked.files)
            result.files.push_back(ToText(file));
        result.error = picked.error;
        result.description = ToText(picked.description);
        return result;
    }

    Text BrowseForFolder(const Text& title) override
    {
        return ToText(m_window.m_prompts.BrowseForFolder(ToQString(title)));
    }

    void AddFileToList(const Text& path) override { m_list.AddFileToList(path); }
    void ClearFileList() override { m_list.ClearFileList(); }
    int Rows() override { return m_window.grdFiles1->Rows(); }

    Text RowText(int row) override
    {
        m_window.grdFiles1->setRow(row);
        m_window.grdFiles1->setCol(0);
        return ToText(m_window.grdFiles1->Text());
    }

    void SetImportEnabled(bool enabled) override { m_window.CmdExtractDBX->setEnabled(enabled); }

    void SetBusy(bool busy) override
    {
        if (busy)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    }

    void Yield() override { QCoreApplication::processEvents(); }

    void ResetProgressRanges() override
    {
        m_window.ProgressBar1->setRange(0, 100);
        m_window.ProgressBar2->setRange(0, 100);
    }

    void ShowCurrentRow(int row) override
    {
        m_window.grdFiles1->setRow(row);
        m_window.grdFiles1->setCol(0);
    }

    void ShowFileDone(const Text& frameCaption, const Text& folderCaption, int percent) override
    {
        m_window.FrameConversion->setTitle(ToQString(frameCaption));
        m_window.LblCurrentDBX->setText(ToQString(folderCaption));
        m_window.ProgressBar1->setValue(percent);
    }

private:
    frmStep1& m_window;
    SourceFileList& m_list;
};

frmStep1::frmStep1(UserPrompts& prompts, std::function<void()> endProgram, QWidget* parent)
    : QWidget(parent)
    , m_prompts(prompts)
    , m_endProgram(std::move(endProgram))
{
    Form_Initialize();
    createControls();
    m_grid = std::make_unique<Grid>(*grdFiles1, *lblCount1);
    m_fileList = std::make_unique<SourceFileList>(*m_grid);
    m_side = std::make_unique<Side>(*this, *m_fileList);
    Form_Load();
}

frmStep1::~frmStep1() = default;

void frmStep1::createControls()
{
    setObjectName(QStringLiteral("frmStep1"));
    setWindowTitle(kWindowTitle);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
    setWindowIcon(ApplicationIcon());

    // Header band. Created first so that the labels on it stack above it.
    Shape2 = Place(new RectangleShape(this, kWhite, kMidGrey), "Shape2", -120, 0, 8415, 855);
    lblTitle = MakeLabel(this, "lblTitle", texts::kProductTitle, 240, 120, 6255, 375);
    lblTitle->setFont(TitleFont());
    SetColours(lblTitle, kWhite, kBlack);
    lblCopyright = MakeLabel(this, "lblCopyright", texts::kCopyright, 240, 480, 6135, 255);
    SetColours(lblCopyright, kWhite, kBlack);

    // Source files.
    cmdAdd = MakeButton(this, "cmdAdd", texts::kAddFilesButton, 240, 960, 2775, 375);
    CmdAddFolder = MakeButton(this, "CmdAddFolder", texts::kAddFolderButton, 3240, 960, 2175, 375);
    cmdClear1 = MakeButton(this, "cmdClear1", texts::kClearButton, 6600, 960, 1335, 375);
    lblCount1 = MakeLabel(this, "lblCount1", texts::kNoFilesCount, 270, 1560, 7695, 255);
    grdFiles1 = Place(new FlexGrid(this), "grdFiles1", 240, 1800, 7695, 1575);
    grdFiles1->setFont(BodyFont());

    // Progress.
    FrameConversion = Place(new QGroupBox(QString::fromUtf16(texts::kDetailsFrame), this), "FrameConversion", 240, 3480, 7695, 1815);
    FrameConversion->setFont(BodyFont());
    // A classic frame: the caption sits in the top edge, whose line runs through the caption's middle,
    // so that the controls placed 16 pixels down lie inside it.
    FrameConversion->setStyleSheet(QStringLiteral(
        "QGroupBox#FrameConversion { border: 1px solid palette(mid); border-radius: 0px; margin-top: 6px; }"
        "QGroupBox#FrameConversion::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0px 2px; }"));
    LblCurrentDBX = MakeLabel(FrameConversion, "LblCurrentDBX", texts::kImportingLabel, 120, 240, 7455, 255);
    LblProgessCurrent = MakeLabel(FrameConversion, "LblProgessCurrent", texts::kCalendarsCounter, 1800, 600, 5775, 255);
    SetColours(LblProgessCurrent, QColor(), kBlack);
    Label2 = MakeLabel(FrameConversion, "Label2", texts::kCurrentFileProgress, 120, 960, 1695, 255);
    ProgressBar2 = MakeBar(FrameConversion, "ProgressBar2", 1800, 960, 5775, 255);
    Label1 = MakeLabel(FrameConversion, "Label1", texts::kOverallProgress, 120, 1320, 1695, 255);
    ProgressBar1 = MakeBar(FrameConversion, "ProgressBar1", 1800, 1320, 5775, 255);
    CmdExtractDBX = MakeButton(this, "CmdExtractDBX", texts::kImportButton, 2880, 5520, 2415, 435);
    CmdExtractDBX->setEnabled(false);

    // Footer band with the exit button on its panel.
    Shape1 = Place(new RectangleShape(this, kWhite, kLightGrey), "Shape1", 0, 6120, 8415, 855);
    Picture3 = Place(new QWidget(this), "Picture3", 240, 6240, 7695, 495);
    SetColours(Picture3, kWhite, QColor());
    cmdEnd = MakeButton(Picture3, "cmdEnd", texts::kExitButton, 6360, 0, 1335, 375);

    // Focus order; labels, the frame, the bars and the panel take no focus, and a disabled import
    // button drops out of the cycle by itself.
    setTabOrder(cmdAdd, cmdClear1);
    setTabOrder(cmdClear1, CmdAddFolder);
    setTabOrder(CmdAddFolder, grdFiles1);
    setTabOrder(grdFiles1, CmdExtractDBX);
    setTabOrder(CmdExtractDBX, cmdEnd);
    cmdAdd->setFocus();

    connect(cmdAdd, &QPushButton::clicked, this, &frmStep1::cmdAdd_Click);
    connect(CmdAddFolder, &QPushButton::clicked, this, &frmStep1::CmdAddFolder_Click);
    connect(cmdClear1, &QPushButton::clicked, this, &frmStep1::cmdClear1_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &frmStep1::cmdEnd_Click);
    connect(CmdExtractDBX, &QPushButton::clicked, this, &frmStep1::CmdExtractDBX_Click);
}

void frmStep1::ShowCentred()
{
    const QScreen* where = screen();
    if (where)
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), where->availableGeometry()));
    show();
}

void frmStep1::Form_Initialize()
{
    // Qt's platform style already gives the controls the system's look; what must be in place
    // before the first control is built is the window's typeface.
    RegisterTahoma();
}

void frmStep1::Form_Load()
{
    grdFiles1->setColWidth(0, 50000);
}

void frmStep1::Form_Unload(int& cancel)
{
    cancel = 0;
    // An import under way ends here too: what it saved goes into its store first.
    messaging::CommitAttachedStores();
    m_endProgram();
}

void frmStep1::closeEvent(QCloseEvent* event)
{
    int cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void frmStep1::AddFileToList(const QString& path)
{
    m_fileList->AddFileToList(ToText(path));
}

void frmStep1::ClearFileList()
{
    m_fileList->ClearFileList();
}

bool frmStep1::importRunning() const { return m_side->importRunning; }

WindowSide& frmStep1::side() { return *m_side; }

void frmStep1::cmdAdd_Click() { AddPickedFiles(*m_side); }

void frmStep1::CmdAddFolder_Click() { AddFolderFiles(*m_side, m_listing); }

void frmStep1::cmdClear1_Click() { ClearListedFiles(*m_side); }

void frmStep1::cmdEnd_Click()
{
    if (m_prompts.MsgBox(kExitQuestion, MsgBoxStyle::YesNo + MsgBoxStyle::Question, kApplicationTitle)
        == MsgBoxResult::Yes)
        close();
}
