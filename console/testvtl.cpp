#include "testvtl.h"
#include "ui_testvtl.h"

#include "constants.h"
#include "drivejob.h"
#include "resultcodes.h"
#include "utils.h"
#include "waitloop.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QTextCursor>
#include <QTimer>

const QStringList TestVtl::cbxOptions = {QStringLiteral("Restore"), QStringLiteral("Backup"), QStringLiteral("Clone"),
                                         QStringLiteral("Deploy"), QStringLiteral("Analyze"), QStringLiteral("Show Table")};
const QString TestVtl::ENGINE = QStringLiteral("vaultine");
const QString TestVtl::ABORT_COMMAND = QStringLiteral("touch /tmp/abort-vtl");
const QString TestVtl::REGRESSION_LOG = QStringLiteral("/var/log/regression.log");
const QString TestVtl::LOG_COPY_ROOT = QStringLiteral("/mnt/smb/DEBUG/");

static const QString RECOVERY_LOG = QStringLiteral("/var/log/recovery.log");
static const QString DEBUG_LOG = QStringLiteral("/var/log/vtl_debug.log");
static const QString SOUND_SCRIPT = QStringLiteral("/test/play-snd.sh");
static const QString IMAGE_FOLDER = QStringLiteral("/mnt/smb/");
static const int START_WAIT_MS = 30000;
static const int COMMAND_WAIT_MS = 30000;
static const int TAB_LOGS = 1;
static const int TAB_OUTPUT = 2;

static const QString BENCH_JOB = QStringLiteral("The engine test bench");

TestVtl::TestVtl(QWidget *parent) : QWidget(parent), ui(new Ui::TestVtl)
{
    ui->setupUi(this);
    ui->cbxSelectMode->addItems(cbxOptions);
    ui->cbxSelectMode->setCurrentIndex(0);
    imageDir.setPath(ui->leDirName->text());
    UpdateDirectory();

    taskFile = RCV_TASK_FILE;
    statusFile = RCV_STATUS_FILE;
    watchedFiles = QStringList{RCV_TASK_FILE, RCV_STATUS_FILE, RECOVERY_LOG, DEBUG_LOG};
    watchTimer = new QTimer(this);
    connect(watchTimer, &QTimer::timeout, this, &TestVtl::OnTimerTimeout);
    watchTimer->start(500);

    engineProcess = Utils::CreateWatchedProcess(this);
    connect(engineProcess, &QProcess::readyReadStandardError, this, &TestVtl::OnErrorDataAvailable);
    connect(engineProcess, &QProcess::readyReadStandardOutput, this, &TestVtl::OnDataAvailable);
    connect(engineProcess, &QProcess::errorOccurred, this, &TestVtl::OnErrorOccurred);
    connect(engineProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &TestVtl::OnFinished);
    connect(engineProcess, &QProcess::started, this, &TestVtl::OnStarted);
}

TestVtl::~TestVtl()
{
    if (runWait)
        runWait->Finish();
    releaseDrive();
    // The process object goes after the form: nothing it reports may reach the panes then.
    engineProcess->disconnect(this);
    delete ui;
}

// ---- helpers ---------------------------------------------------------------------------------

QString TestVtl::ExecuteCmd(const QString &command)
{
    return Utils::ExecuteShell(command, COMMAND_WAIT_MS).join('\n');
}

void TestVtl::LogDebug(const QString &text)
{
    ui->pteOutput->appendPlainText(text);
}

void TestVtl::WriteToFile(const QString &path, const QString &text, bool append)
{
    Utils::WriteFile(path, (text + "\n").toUtf8(), append);
}

void TestVtl::LogPrep(const QString &text)
{
    WriteToFile(taskFile, text, false);
    WriteToFile(statusFile, text, false);
}

QString TestVtl::GetFileContents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray content = file.readAll();
    const int zero = content.indexOf('\0');
    if (zero >= 0)
        content.truncate(zero);
    return QString::fromUtf8(content);
}

QString TestVtl::GetDate()
{
    return QStringLiteral("[%1] ").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
}

QString TestVtl::TypeWord(const QString &image)
{
    const QString name = QFileInfo(image).fileName();
    if (name.isEmpty() || name.endsWith('.'))
        return QStringLiteral("bin");
    return name.mid(name.lastIndexOf('.') + 1);
}

QString TestVtl::OperationLetter(const QString &field)
{
    QString letter = field.toLower();
    if (letter.startsWith('-'))
        letter.remove('-');
    return letter;
}

QString TestVtl::OperationName(const QString &letter)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("r"), QStringLiteral("Restore")}, {QStringLiteral("b"), QStringLiteral("Backup")},
        {QStringLiteral("c"), QStringLiteral("Clone")},   {QStringLiteral("d"), QStringLiteral("Deploy")},
        {QStringLiteral("a"), QStringLiteral("Analyze")}, {QStringLiteral("s"), QStringLiteral("Show")},
        {QStringLiteral("t"), QStringLiteral("Trash")},   {QStringLiteral("p"), QStringLiteral("Play Sound")}};
    return names.value(letter);
}

QString TestVtl::LogFolderName(const QString &getmacOutput)
{
    // The name becomes one folder below the share's DEBUG folder: a "/" or ".." in what getmac
    // printed must not place the copies anywhere else.
    QString name;
    for (const QChar c : getmacOutput.trimmed()) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == ':' || u == '-' || u == '_')
            name += c;
    }
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

bool TestVtl::ImageSetExists(const QString &folder, const QString &name)
{
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &file : files) {
        if (file == name || file == name + QStringLiteral(".gptb") || file.startsWith(name + QStringLiteral(".p")))
            return true;
        if (file.size() == name.size() + 4 && file.startsWith(name + QStringLiteral(".0")))
            return true;
    }
    return false;
}

void TestVtl::appendListStatus(const QString &text)
{
    // Plain text always: a list line is never read as markup.
    QTextCursor cursor(ui->teListStatus->document());
    cursor.movePosition(QTextCursor::End);
    if (!ui->teListStatus->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
}

bool TestVtl::HasRun() const
{
    return listRunning || busy || engineProcess->state() != QProcess::NotRunning;
}

bool TestVtl::takeDrive()
{
    // A run of this bench that holds the drive is still on its way: no second one beside it.
    QString refusal;
    if (holdsDrive)
        refusal = QStringLiteral("An engine run is still in progress; request ignored");
    else if (!DriveJob::Take(BENCH_JOB))
        refusal = QStringLiteral("Refused: ") + DriveJob::BusyText();
    if (!refusal.isEmpty()) {
        LogDebug(refusal);
        if (listRunning)
            appendListStatus(QStringLiteral("List not started: ") + refusal + "\n");
        return false;
    }
    holdsDrive = true;
    return true;
}

void TestVtl::releaseDrive()
{
    if (!holdsDrive)
        return;
    holdsDrive = false;
    DriveJob::Release(BENCH_JOB);
}

bool TestVtl::startRun(const QString &program, const QStringList &args)
{
    if (WaitLoop::Quitting()) {
        LogDebug(QStringLiteral("The console is quitting; request ignored"));
        return false;
    }
    // One process object serves every run: a second request while one runs is not queued.
    if (engineProcess->state() != QProcess::NotRunning) {
        LogDebug(QStringLiteral("An engine run is still in progress; request ignored"));
        return false;
    }
    // The engine writes the drive: not while the console runs another drive job. A run whose
    // question or list already holds the drive goes on with it.
    if (program == ENGINE && !holdsDrive && !takeDrive())
        return false;
    startFailed = false;
    errorPartial.clear();
    outputPartial.clear();
    Utils::StartWatchedProcess(engineProcess, program, args);
    return true;
}

void TestVtl::runEnded()
{
    // A list holds the drive from its first line to its last.
    if (!listRunning)
        releaseDrive();
    ui->buttonBox->setEnabled(true);
    if (runWait)
        runWait->Finish();
}

// ---- running the engine ----------------------------------------------------------------------

void TestVtl::SpawnProcess(const QString &program, const QStringList &args)
{
    LogDebug(program + ' ' + args.join(' '));
    if (!startRun(program, args)) {
        // What the question took goes back, never what a run still going holds.
        if (engineProcess->state() == QProcess::NotRunning)
            releaseDrive();
        ui->buttonBox->setEnabled(true);
    }
}

bool TestVtl::ExecuteAndWait(const QString &program, const QStringList &args)
{
    if (!startRun(program, args)) {
        // A refused run is a failed one, never the last run's result.
        runSucceeded = false;
        lastExitCode = ResultCode::DriveBusy;
        return false;
    }
    runSucceeded = true;
    watchTimer->start(1000);
    busy = true;
    WaitLoop wait(QEventLoop::AllEvents);
    runWait = &wait;
    const WaitLoop::Outcome outcome = wait.Wait();
    runWait = nullptr;
    busy = false;
    if (startFailed) {
        // A run that never started is a failure with a code of its own, not the last run's.
        runSucceeded = false;
        lastExitCode = ResultCode::FailedStart;
        return false;
    }
    if (outcome != WaitLoop::Done) {
        runSucceeded = false;
        lastExitCode = ResultCode::Interrupted;
    }
    return true;
}

void TestVtl::takeOutput(QString &partial, const QByteArray &bytes)
{
    QString text = partial + QString::fromUtf8(bytes);
    text.replace('\r', '\n');
    QStringList pieces = text.split('\n');
    partial = pieces.takeLast();
    for (const QString &piece : qAsConst(pieces))
        LogDebug(piece);
}

void TestVtl::OnDataAvailable()
{
    takeOutput(outputPartial, engineProcess->readAllStandardOutput());
}

void TestVtl::OnErrorDataAvailable()
{
    takeOutput(errorPartial, engineProcess->readAllStandardError());
}

void TestVtl::OnStarted()
{
    LogDebug(QStringLiteral("Process Started"));
}

void TestVtl::OnErrorOccurred(QProcess::ProcessError error)
{
    LogDebug(QStringLiteral("ERROR REPORTED %1").arg(int(error)));
    if (error == QProcess::FailedToStart) {
        // No finish follows a failed start: the run ends here.
        startFailed = true;
        runEnded();
    }
}

void TestVtl::OnFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    OnDataAvailable();
    OnErrorDataAvailable();
    // The run is over: what it printed last without a line end is a line all the same.
    if (!outputPartial.isEmpty())
        LogDebug(outputPartial);
    if (!errorPartial.isEmpty())
        LogDebug(errorPartial);
    outputPartial.clear();
    errorPartial.clear();

    LogDebug(QStringLiteral("Finished %1 %2").arg(exitCode).arg(exitStatus == QProcess::NormalExit ? 0 : 1));
    runSucceeded = exitCode == 0 && exitStatus == QProcess::NormalExit;
    busy = false;
    lastExitCode = exitCode;
    runEnded();
}

// ---- status panes ----------------------------------------------------------------------------

void TestVtl::OnTimerTimeout()
{
    for (const QString &path : qAsConst(watchedFiles))
        OnFileChanged(path);
}

void TestVtl::OnFileChanged(const QString &path)
{
    const QString content = QFile::exists(path) ? GetFileContents(path) : QString();
    QPlainTextEdit *pane = nullptr;
    QLineEdit *line = nullptr;
    if (path.contains(QLatin1String("recovery")))
        pane = ui->pteRcvLog;
    else if (path.contains(QLatin1String("vtl")))
        pane = ui->pteDebugLog;
    else if (path.contains(QLatin1String("task")))
        line = ui->leTask;
    else if (path.contains(QLatin1String("status")))
        line = ui->leStatus;

    if (pane) {
        if (content.isEmpty()) {
            pane->clear();
        } else if (content != pane->toPlainText()) {
            pane->clear();
            pane->appendPlainText(content);
        }
    } else if (line && line->text() != content) {
        line->setText(content);
    }
}

void TestVtl::UpdateDirectory()
{
    ui->pteInfo->clear();
    imageDir.setNameFilters(nameFilters);
    const QStringList entries = imageDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    ui->pteInfo->appendPlainText(entries.join('\n'));
}

// ---- single runs -----------------------------------------------------------------------------

void TestVtl::on_buttonBox_accepted()
{
    const QString mode = ui->cbxSelectMode->currentText();
    LogPrep(mode);
    if (mode == QLatin1String("Show Table")) {
        ShowCurrentPartitionTable();
        ui->buttonBox->setEnabled(true);
        return;
    }
    const QString image = ui->leFIleName->text();
    if (image.isEmpty() || image.endsWith('/')) {
        if (!ui->leTestFile->text().isEmpty())
            ProcessTestFile();
        return;
    }
    if (mode == QLatin1String("Backup"))
        BackupImage(false);
    else if (mode == QLatin1String("Clone"))
        BackupImage(true);
    else if (mode == QLatin1String("Deploy"))
        RestoreImage(true);
    else if (mode == QLatin1String("Restore"))
        RestoreImage(false);
    else if (mode == QLatin1String("Analyze"))
        AnalyzeImage();
}

void TestVtl::BackupImage(bool clone)
{
    // The run is one job from its question on.
    ui->buttonBox->setEnabled(false);
    if (!takeDrive()) {
        ui->buttonBox->setEnabled(true);
        return;
    }
    const QString image = ui->leFIleName->text();
    if (QFileInfo::exists(image)) {
        QMessageBox question(this);
        question.setText(image + QStringLiteral(" Exists"));
        question.setInformativeText(QStringLiteral("Do you want to Over Write?  Existing image will be replaced.\n") +
                                    QStringLiteral("NTFS image will %1be resized if found").arg(clone ? QString() : QStringLiteral("not ")));
        question.setStandardButtons(QMessageBox::Ok | QMessageBox::No);
        question.setDefaultButton(QMessageBox::No);
        if (question.exec() == QMessageBox::No) {
            releaseDrive();
            ui->buttonBox->setEnabled(true);
            return;
        }
    }
    SpawnProcess(ENGINE, {clone ? QStringLiteral("-c") : QStringLiteral("-b"), TypeWord(image), image});
    ui->tabWidget->setCurrentIndex(TAB_LOGS);
}

void TestVtl::RestoreImage(bool deploy)
{
    ui->buttonBox->setEnabled(false);
    const QString image = ui->leFIleName->text();
    if (!QFileInfo::exists(image) || !takeDrive()) {
        ui->buttonBox->setEnabled(true);
        return;
    }
    QMessageBox question(this);
    question.setText(QStringLiteral("Restoring Image"));
    question.setInformativeText(QStringLiteral("Do you want to restore ") + image +
                                QStringLiteral("\n Partition table will %1be reordered").arg(deploy ? QString() : QStringLiteral("not ")));
    question.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    question.setDefaultButton(QMessageBox::Yes);
    if (question.exec() == QMessageBox::No) {
        releaseDrive();
        ui->buttonBox->setEnabled(true);
        return;
    }
    SpawnProcess(ENGINE, {deploy ? QStringLiteral("-d") : QStringLiteral("-r"), TypeWord(image), image});
    ui->tabWidget->setCurrentIndex(TAB_LOGS);
}

void TestVtl::AnalyzeImage()
{
    SpawnProcess(ENGINE, {QStringLiteral("-a"), QStringLiteral("bim"), ui->leFIleName->text()});
    ui->tabWidget->setCurrentIndex(TAB_OUTPUT);
}

void TestVtl::ShowCurrentPartitionTable()
{
    // The engine shows the drive's table and ignores the name.
    SpawnProcess(ENGINE, {QStringLiteral("-s"), QStringLiteral("bim"), QStringLiteral("/tmp/part-tbl.bim")});
    ui->tabWidget->setCurrentIndex(TAB_OUTPUT);
}

// ---- list runs -------------------------------------------------------------------------------

void TestVtl::ProcessTestFile()
{
    // The whole list is one job on the drive.
    listRunning = true;
    if (!takeDrive()) {
        listRunning = false;
        return;
    }
    unitMac = ExecuteCmd(QStringLiteral("getmac")).trimmed();

    QFile regressionLog(REGRESSION_LOG);
    if (regressionLog.open(QIODevice::WriteOnly | QIODevice::Append)) {
        regressionLog.write((GetDate() + QStringLiteral(" Start processing CSV File\n")).toUtf8());
        regressionLog.flush();
    }
    const bool soundSupport = !ExecuteCmd(QStringLiteral("which play-snd.sh")).isEmpty();
    QStringList failedLines;

    QFile listFile(ui->leTestFile->text());
    if (listFile.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(listFile.readAll());
        listFile.close();
        appendListStatus(text);
        appendListStatus(QStringLiteral("Starting to process specified images\n"));
        ui->tabWidget->setCurrentIndex(TAB_LOGS);

        for (const QString &line : text.split('\n')) {
            // The program is quitting: no further line starts.
            if (WaitLoop::Quitting()) {
                appendListStatus(QStringLiteral("List stopped: the console is quitting\n"));
                break;
            }
            runListLine(line, regressionLog, soundSupport, failedLines);
        }

        const QString summary = QStringLiteral("Process complete of specified images\n") +
                                QStringLiteral("Command lines with issues") + failedLines.join('\n') + "\n";
        if (regressionLog.isOpen())
            regressionLog.write((GetDate() + QStringLiteral(" --- ") + summary + "\n").toUtf8());
    }
    if (regressionLog.isOpen()) {
        regressionLog.flush();
        regressionLog.close();
    }
    listRunning = false;
    releaseDrive();
}

void TestVtl::runListLine(const QString &line, QFile &regressionLog, bool soundSupport, QStringList &failedLines)
{
    auto regression = [&regressionLog](const QString &text) {
        if (regressionLog.isOpen()) {
            regressionLog.write((GetDate() + text + "\n").toUtf8());
            regressionLog.flush();
        }
    };

    // 1. Comments and short lines.
    if (line.startsWith('#'))
        return;
    QStringList fields = line.trimmed().split(',');
    if (fields.size() < 3)
        return;
    for (QString &field : fields)
        field = field.trimmed();
    const QString letter = OperationLetter(fields.at(0));
    const QString path = fields.at(2);
    const QFileInfo image(path);
    const QString fileName = image.fileName();

    // 2. Unknown operations.
    const QString name = OperationName(letter);
    if (name.isEmpty()) {
        emit PostStatusMessage(QStringLiteral("Unknown parameter first parameter %1").arg(letter));
        return;
    }
    // 3. An image that failed before: only deleting it still runs.
    if (letter != QLatin1String("t")) {
        for (const QString &failed : qAsConst(failedNames))
            if (fileName.contains(failed))
                return;
    }
    // 4. Restoring needs the set.
    if ((letter == QLatin1String("r") || letter == QLatin1String("d")) && !ImageSetExists(image.path(), fileName))
        return;

    // 5.-7. Announce the line.
    const QString label = fields.at(1).contains(QLatin1String("bim")) ? QStringLiteral("Compressed") : QStringLiteral("Binary");
    emit PostStatusMessage(QStringLiteral("%1 %2 %3").arg(name, label, path));
    regression(QStringLiteral(" --- ") + line);
    appendListStatus(name + QStringLiteral(": ") + fields.join(' '));

    // 8. Run it; a sound without sound support runs nothing and counts as started.
    bool started = true;
    if (letter == QLatin1String("p")) {
        if (soundSupport)
            started = ExecuteAndWait(SOUND_SCRIPT, QStringList());
    } else {
        started = ExecuteAndWait(ENGINE, fields);
    }
    const bool succeeded = started && runSucceeded;
    appendListStatus(QStringLiteral("%1: completed %2\n").arg(name, succeeded ? QStringLiteral("Success") : QStringLiteral("FAILURE")));

    // 10. The engine's logs of this line, on the share.
    const QString folder = LOG_COPY_ROOT + LogFolderName(unitMac);
    Utils::ExecuteShell(QStringLiteral("mkdir"), {QStringLiteral("-p"), folder}, COMMAND_WAIT_MS);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd-hhmmss"));
    // Two lines for the same image may end in the same second: each keeps copies of its own.
    QString copy = QStringLiteral("%1/%2_%3").arg(folder, fileName, stamp);
    for (int n = 1; QFile::exists(copy + QStringLiteral(".log")) || QFile::exists(copy + QStringLiteral("_vtl.log")); ++n)
        copy = QStringLiteral("%1/%2_%3-%4").arg(folder, fileName, stamp).arg(n);
    if (QFile::exists(RECOVERY_LOG))
        QFile::copy(RECOVERY_LOG, copy + QStringLiteral(".log"));
    if (QFile::exists(DEBUG_LOG))
        QFile::copy(DEBUG_LOG, copy + QStringLiteral("_vtl.log"));

    // 11. A failed line keeps the image's later lines from running.
    if (!succeeded) {
        failedNames << image.baseName();
        failedLines << line;
        regression(QStringLiteral(" --- FAILED") + QString::number(lastExitCode));
    }
}

// ---- buttons ---------------------------------------------------------------------------------

void TestVtl::on_buttonBox_clicked(QAbstractButton *button)
{
    const QDialogButtonBox::StandardButton which = ui->buttonBox->standardButton(button);
    if (which == QDialogButtonBox::Cancel) {
        ExecuteCmd(ABORT_COMMAND);
    } else if (which == QDialogButtonBox::Close) {
        if (busy)
            ExecuteCmd(ABORT_COMMAND);
        hide();
        emit CloseRequested();
    }
}

void TestVtl::on_pbSelect_clicked()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Select Image"), IMAGE_FOLDER,
                                                      QStringLiteral("Compressed (*.bim);;Binary (*.bin);;All(*)"));
    if (!file.isEmpty())
        ui->leFIleName->setText(file);
}

void TestVtl::on_pbSelectFile_clicked()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Select Image"), IMAGE_FOLDER,
                                                      QStringLiteral("Data (*.csv);;Text (*.txt);;All(*)"));
    if (!file.isEmpty())
        ui->leTestFile->setText(file);
}

void TestVtl::on_pbRunList_clicked()
{
    ProcessTestFile();
}

void TestVtl::on_leFIleName_textChanged(const QString &text)
{
    if (!text.isEmpty() && QFileInfo::exists(text))
        ExecuteAndWait(ENGINE, {QStringLiteral("-a"), QStringLiteral("bim"), text});
}

void TestVtl::on_pbFilter_clicked()
{
    const QString filter = ui->leFilter->text();
    nameFilters = filter.isEmpty() ? QStringList() : filter.split(',');
    UpdateDirectory();
}

void TestVtl::on_pbRemove_clicked()
{
    nameFilters.clear();
    UpdateDirectory();
}

void TestVtl::on_pbTestTime_clicked()
{
    emit PostStatusMessage(QDateTime::currentDateTime().toString());
}
