// The window's commands that talk to the device or replace the image: Start and the cmdMacro
// sequences, the service panel's single steps and port control, and loading image files.
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <map>

#include "app/main_window.h"
#include "app/update_sequence.h"
#include "image/image_file.h"

namespace rqm5 {
namespace {

const QString kCloseWhileRunningText = QStringLiteral(
    "An update is running. Closing now can leave the device unusable. Close anyway?");

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What a single-step button shows while its exchange runs.
enum class BusyKind { Disable, Hourglass };

struct SingleStep {
    QPushButton* button;
    std::function<std::int16_t(Rqm5Device&)> call;
    SequenceStep step;
    std::int16_t mode;
    const char* successText;
    BusyKind busy;
};

// The file dialog's filter, from its "description|patterns|..." form to Qt's
// "description (patterns);;..." form. Qt reads the patterns from the parentheses.
QString QtFileFilter(std::string_view filter) {
    const QStringList parts = FromView(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" would hide files without an extension outside Windows.
        if (patterns == QLatin1String("*.*")) patterns = QStringLiteral("*");
        QString description = parts[i];
        const qsizetype bracket = description.indexOf(QLatin1Char('('));
        if (bracket > 0) description = description.left(bracket).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace

void FrmMain::ConnectCommands() {
    // Text1 shows the byte address of the page or row in hand; the bar follows the pages.
    const auto showAddress = [this](std::uint32_t row) {
        Text1->setText(QString::fromStdString(UpperHex(row)) + QLatin1Char('0'));
    };
    device.SetProgress({
        .pageStarted =
            [this, showAddress](std::uint32_t row) {
                showAddress(row);
                bar->setValue(static_cast<int>(row));
            },
        .rowStarted = showAddress,
    });

    connect(cmdKemra, &QPushButton::clicked, this, &FrmMain::StartUpdate);
    for (int index = 0; index < static_cast<int>(cmdMacro.size()); ++index) {
        connect(cmdMacro[index], &QPushButton::clicked, this, [this, index] { RunMacro(index); });
    }
    connect(Command2, &QPushButton::clicked, this, &FrmMain::RunPortControl);

    using S = SequenceStep;
    const auto enterMode = [](std::int16_t mode) {
        return [mode](Rqm5Device& d) { return d.EnterMode(mode); };
    };
    const auto lineCommand = [](const char* command, std::int16_t mode) {
        return [command, mode](Rqm5Device& d) { return d.LineCommand(command, mode, 0); };
    };
    const auto writeLines = [](std::int16_t mode) {
        return [mode](Rqm5Device& d) { return d.WriteLines(mode); };
    };
    const std::vector<SingleStep> steps = {
        {Command11, enterMode(2), S::kConnect, 2, "Connected.", BusyKind::Disable},
        {Command8, &Rqm5Device::EraseBlocks, S::kErase, 2, "Erased.", BusyKind::Disable},
        {Command9, &Rqm5Device::WritePages, S::kWrite, 2, "Write OK.", BusyKind::Hourglass},
        {Command10, &Rqm5Device::EndLoader, S::kDisconnect, 2, "Disconnected.", BusyKind::Disable},
        {Command1, enterMode(0), S::kConnect, 0, "Connected.", BusyKind::Disable},
        {cmbErase, lineCommand("ERASE", 0), S::kErase, 0, "Erased.", BusyKind::Disable},
        {cmbWrite, writeLines(0), S::kWrite, 0, "Write OK.", BusyKind::Hourglass},
        {cmbEnd, lineCommand("END", 0), S::kDisconnect, 0, "Disconnected", BusyKind::Disable},
        {Command4, enterMode(1), S::kConnect, 1, "Connected.", BusyKind::Disable},
        {Command7, lineCommand("ERASE", 1), S::kErase, 1, "Erased.", BusyKind::Disable},
        {Command6, writeLines(1), S::kWrite, 1, "Write completed.", BusyKind::Hourglass},
        {Command5, lineCommand("END", 1), S::kDisconnect, 1, "Disconnected.", BusyKind::Disable},
    };
    for (const SingleStep& step : steps) {
        connect(step.button, &QPushButton::clicked, this, [this, step] {
            if (!BeginExchange()) return;
            if (step.busy == BusyKind::Disable) {
                step.button->setEnabled(false);
            } else {
                setCursor(Qt::WaitCursor);
            }
            const std::int16_t result = step.call(device);
            const bool success = result == SuccessCode(step.step, step.mode);
            ShowOutcome(success, success ? QString::fromUtf8(step.successText)
                                         : FromView(FailureText(step.step)));
            if (step.busy == BusyKind::Disable) {
                step.button->setEnabled(true);
            } else {
                unsetCursor();
            }
            EndExchange();
        });
    }

    auto* openShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    openShortcut->setObjectName(QStringLiteral("openImageShortcut"));
    connect(openShortcut, &QShortcut::activated, this, [this] {
        if (isServiceLayoutShown()) OpenImageFile();
    });
    Text3->setAcceptDrops(true);
    Text3->installEventFilter(this);
}

bool FrmMain::BeginExchange() {
    if (exchangeRunning_ || device.Busy()) return false;
    exchangeRunning_ = true;
    return true;
}

void FrmMain::EndExchange() {
    exchangeRunning_ = false;
    // The user chose to close while the exchange ran: close now that it has unwound.
    if (closeAfterExchange) QTimer::singleShot(0, this, &QWidget::close);
}

void FrmMain::ShowOutcome(bool success, const QString& text) {
    if (closeAfterExchange) return;
    if (success) {
        dialogs.ShowMessage(text, QStringLiteral("OK"), MessageIcon::None);
    } else {
        dialogs.ShowMessage(text, QStringLiteral("NG"), MessageIcon::Warning);
    }
}

void FrmMain::StartUpdate() {
    if (!BeginExchange()) return;
    cmdKemra->setEnabled(false);
    bar->setValue(bar->minimum());
    bar->setVisible(true);
    const SequenceOutcome identified = IdentifyForUpdate(device);
    if (identified.success) {
        RunMacroSequence(2);
    } else {
        ShowOutcome(false, QString::fromStdString(identified.message));
    }
    bar->setVisible(false);
    cmdKemra->setEnabled(true);
    EndExchange();
}

void FrmMain::RunMacro(int index) {
    if (index < 0 || index >= static_cast<int>(cmdMacro.size()) || !BeginExchange()) return;
    RunMacroSequence(index);
    EndExchange();
}

void FrmMain::RunMacroSequence(int index) {
    cmdMacro[index]->setEnabled(false);
    const SequenceOutcome outcome = index == 2
                                        ? RunLoaderSequence(device)
                                        : RunLineSequence(device, static_cast<std::int16_t>(index));
    ShowOutcome(outcome.success, QString::fromStdString(outcome.message));
    // After the user has closed the success box.
    if (outcome.success && index == 2 && !closeAfterExchange) {
        Text1->setText(FromView(kCompletedText));
    }
    cmdMacro[index]->setEnabled(true);
}

void FrmMain::RunPortControl() {
    if (!BeginExchange()) return;
    Command2->setEnabled(false);
    const std::int16_t result = device.PortControl();
    static const std::map<std::int16_t, QString> kPortResults = {
        {0, QStringLiteral("OK")},     {1, QStringLiteral("NG")},     {9, QStringLiteral("L出力")},
        {10, QStringLiteral("H出力")}, {11, QStringLiteral("L入力")}, {12, QStringLiteral("H入力")},
    };
    const auto known = kPortResults.find(result);
    Text2->setText(known != kPortResults.end() ? known->second : QStringLiteral("???"));
    Command2->setEnabled(true);
    EndExchange();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (!exchangeRunning_) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeAfterExchange || !dialogs.ConfirmClose(kCloseWhileRunningText)) return;
    // Give up the exchange: its wait ends, every step after it fails at once and shows nothing,
    // and EndExchange() closes the window.
    closeAfterExchange = true;
    serialPort.Abandon();
}

void FrmMain::OpenImageFile() {
    // The image is what a running exchange programs: it must not change under it.
    if (exchangeRunning_) return;
    const QString path = dialogs.AskOpenFileName(QtFileFilter(kImageFileFilter));
    if (path.isEmpty()) return;
    Text3->setText(path);
    LoadImageFileIntoImage(path);
}

bool FrmMain::HandleDropOnText3(QEvent* event) {
    if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove &&
        event->type() != QEvent::Drop) {
        return false;
    }
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    const bool hasFile = data && data->hasUrls() && !data->urls().isEmpty() &&
                         data->urls().first().isLocalFile() && !exchangeRunning_;
    if (!hasFile) {
        // Only files load; any other drop (text, nothing) is ignored.
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        // Only the first of several dropped files loads.
        const QString path = data->urls().first().toLocalFile();
        Text3->setText(path);
        LoadImageFileIntoImage(path);
    }
    return true;
}

bool FrmMain::LoadImageFileIntoImage(const QString& path) {
    if (exchangeRunning_) return false;
    setCursor(Qt::WaitCursor);
    const ImageFileLoad load = LoadImageFile(QFile::encodeName(path).toStdString(), memoryImage);
    if (!load.loaded) {
        dialogs.ShowMessage(QString::fromStdString(load.messageText),
                            QString::fromStdString(load.messageTitle), load.messageIcon);
    }
    unsetCursor();
    if (load.loaded) imageChanged();
    return load.loaded;
}

}  // namespace rqm5
