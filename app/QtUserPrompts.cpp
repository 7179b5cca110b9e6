#include "QtUserPrompts.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QMessageBox>
#include <QPushButton>

namespace {

// A message box that, when it offers no Cancel, can only be answered by one of its buttons: Esc,
// Alt+F4 and the title bar's close button do nothing, as with Windows' own Yes/No boxes.
class AnswerOnlyBox : public QMessageBox {
public:
    AnswerOnlyBox(QWidget* owner, bool dismissable)
        : QMessageBox(owner)
        , m_dismissable(dismissable)
    {
        connect(this, &QMessageBox::buttonClicked, this, [this] { m_answered = true; });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!m_dismissable && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (!m_dismissable && !m_answered) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

private:
    bool m_dismissable;
    bool m_answered = false;
};

// A file-open dialog that returns the names in its name box as they stand, in that order, whether
// the files exist or not: the import reports a missing file itself, naming it. (Qt's own dialog
// refuses missing names and returns a pick in the order of its file view.) Folders are still
// opened, not picked.
class NamesAsTypedDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    const QStringList& picked() const { return m_picked; }

    void accept() override
    {
        const QStringList files = typedFiles();
        if (files.isEmpty())
            return;
        for (const QString& file : files) {
            if (QFileInfo(file).isDir()) {
                QFileDialog::accept();
                return;
            }
        }
        m_picked = files;
        QDialog::accept();
    }

private:
    // The name box holds one name, or several as "a" "b"; a name is taken relative to the folder
    // shown unless it is a full path.
    QStringList typedFiles() const
    {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString text = edit ? edit->text() : QString();
        if (text.trimmed().isEmpty())
            return selectedFiles();
        QStringList names;
        if (text.trimmed().startsWith(QLatin1Char('"'))) {
            static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
            for (const QRegularExpressionMatch& m : quoted.globalMatch(text))
                if (!m.captured(1).isEmpty())
                    names << m.captured(1);
        } else {
            names << text;
        }
        QStringList files;
        for (const QString& name : names)
            files << (QFileInfo(name).isAbsolute() ? name : directory().absoluteFilePath(name));
        return files;
    }

    QStringList m_picked;
};

}  // namespace

int QtUserPrompts::MsgBox(const QString& prompt, int style, const QString& title)
{
    return MsgBoxWithDetails(prompt, style, title, QString());
}

int QtUserPrompts::MsgBoxWithDetails(const QString& prompt, int style, const QString& title, const QString& details)
{
    const int buttons = style & 0x0F;
    const int icon = style & 0xF0;
    const int defaultIndex = (style & 0x300) >> 8;
    const bool yesNo = buttons == MsgBoxStyle::YesNo;

    AnswerOnlyBox box(m_owner, !yesNo);
    box.setWindowTitle(title.isEmpty() ? kApplicationTitle : title);
    QString text = prompt;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    if (!details.isEmpty())
        box.setDetailedText(details);
    switch (icon) {
    case MsgBoxStyle::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgBoxStyle::Question: box.setIcon(QMessageBox::Question); break;
    case MsgBoxStyle::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgBoxStyle::Information: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }

    QList<QPushButton*> order;
    if (yesNo) {
        order << box.addButton(QMessageBox::Yes) << box.addButton(QMessageBox::No);
        box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    } else {
        order << box.addButton(QMessageBox::Ok);
        box.setEscapeButton(order.front());
    }
    box.setDefaultButton(order.value(defaultIndex, order.front()));

    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes: return MsgBoxResult::Yes;
    case QMessageBox::No: return MsgBoxResult::No;
    default: return MsgBoxResult::Ok;
    }
}

QString QtUserPrompts::QtNameFilter(const QString& filter)
{
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    QString patterns = filter.mid(bar + 1);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return filter.left(bar) + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

OpenDialogResult QtUserPrompts::ShowOpen(const QString& filter, int maxFiles)
{
    NamesAsTypedDialog dialog(m_owner);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already lists its patterns; Qt's own copy of them stays hidden.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(QtNameFilter(filter));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList selected = dialog.picked();
    if (selected.size() > maxFiles)
        return {{}, kDialogBufferTooSmall, QStringLiteral("The selection holds more files than one pick may return.")};
    OpenDialogResult result;
    for (const QString& file : selected)
        result.files << QDir::toNativeSeparators(file);
    return result;
}

QString QtUserPrompts::BrowseForFolder(const QString& title)
{
    QFileDialog dialog(m_owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString folder = dialog.selectedFiles().value(0);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return QDir::toNativeSeparators(QDir::cleanPath(folder));
}
