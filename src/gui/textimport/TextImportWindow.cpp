#include "textimport/TextImportWindow.h"

#include "platform/Error.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace talvesk::textimport {

TextImportWindow::TextImportWindow(const Design &design, TextImport &import, platform::Desktop &desktop, QWidget *parent)
    : platform::BusyDialog(parent), design_(design), import_(import), desktop_(desktop)
{
    setObjectName(design.objectName);
    setWindowTitle(design.caption);

    auto *frame = new QGroupBox(design.frameCaption, this);
    frame->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(frame);
    grid->addWidget(platform::namedLabel(frame, "Label1", design.fileLabel), 0, 0);
    cur_file = platform::namedLabel(frame, "cur_file", QString());
    cur_file->setMinimumWidth(300);
    grid->addWidget(cur_file, 0, 1, 1, 3);
    grid->addWidget(platform::namedLabel(frame, "Label2", design.appliedLabel), 1, 0);
    lblsuccess = platform::namedLabel(frame, "lblsuccess", QStringLiteral("0"));
    grid->addWidget(lblsuccess, 1, 1);
    grid->addWidget(platform::namedLabel(frame, "Label3", design.abnormalLabel), 1, 2);
    lblfail = platform::namedLabel(frame, "lblfail", QStringLiteral("0"));
    grid->addWidget(lblfail, 1, 3);
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(1, 90);

    Command1 = platform::namedButton(this, "Command1", QStringLiteral("開啟檔案"));
    Command2 = platform::namedButton(this, "Command2", QStringLiteral("讀入檔案"));
    Command3 = platform::namedButton(this, "Command3", QStringLiteral("離開"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *b : {Command1, Command2, Command3})
        buttons->addWidget(b);
    buttons->addStretch();
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 16, 18, 16);
    outer->addWidget(frame);
    outer->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &TextImportWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &TextImportWindow::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &TextImportWindow::Command3_Click);

    Command2->setEnabled(false);
    setFixedSize(480, 200);
    move(platform::placementFor(desktop_.screenSize(), size()));
}

void TextImportWindow::message(const QString &text, platform::Icon icon)
{
    desktop_.showMessage(this, {text, design_.caption, icon});
}

void TextImportWindow::Command1_Click()
{
    if (busy())
        return;
    const auto chosen = desktop_.chooseFile(this, {design_.filter, QStringLiteral("C:\\"), QString()});
    if (!chosen) {
        message(QStringLiteral("沒有選取任何檔案!"), platform::Icon::Information);
        return;
    }
    if (design_.refuseBlankName && QFileInfo(*chosen).fileName().trimmed().isEmpty()) {
        message(QStringLiteral("請選取Talvesk銷帳檔案  !"), platform::Icon::Information);
        return;
    }
    cur_file->setText(chosen->trimmed());
    Command2->setEnabled(true);
}

void TextImportWindow::Command2_Click()
{
    if (busy())
        return;
    setBusy(true);
    desktop_.setPointer(platform::Pointer::Hourglass);
    for (QPushButton *b : {Command1, Command2, Command3})
        b->setEnabled(false);

    QElapsedTimer sinceShown;
    bool handled = false;
    TextImportCounts last;
    auto show = [this](const TextImportCounts &c) {
        lblsuccess->setText(QString::number(c.applied));
        lblfail->setText(QString::number(c.abnormal));
    };
    TextImportObserver observer;
    observer.stopped = [&](const TextImportCounts &stored) {
        // The labels say what is really stored, not what was done before a failed commit.
        if (handled)
            last = stored;
    };
    observer.lineDone = [&](const TextImportCounts &counts) {
        handled = true;
        last = counts;
        if (!sinceShown.isValid() || sinceShown.elapsed() >= 30) {
            show(counts);
            sinceShown.start();
        }
        desktop_.processPendingEvents();
    };
    try {
        const TextImportCounts counts = import_.run(cur_file->text(), observer);
        if (handled)
            show(counts);
        desktop_.setPointer(platform::Pointer::Default);
        message(counts.abnormal > 0 || counts.logWritten ? kReadDoneWithErrors : kReadDone, platform::Icon::Information);
        Command2->setEnabled(true);
        Command3->setEnabled(true);
    } catch (const platform::Error &error) {
        if (handled)
            show(last);
        desktop_.setPointer(platform::Pointer::Default);
        // The fixed text first; the reason (with how many records are stored) under it.
        desktop_.showMessage(this, {textImportFailureText(error.number()), design_.caption, platform::Icon::Critical,
                                    platform::Buttons::Ok, error.description()});
        for (QPushButton *b : {Command1, Command2, Command3})
            b->setEnabled(true);
    }
    setBusy(false);
}

void TextImportWindow::Command3_Click()
{
    if (!busy())
        reject();
}


} // namespace talvesk::textimport
