// Finding the adapter (the initTimer search) and the communication log.
#include "AdapterWorkflows.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"
#include "Widgets.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTabWidget>
#include <QTimer>

namespace {
const QString SearchingText = QStringLiteral("Searching for interface...");
constexpr int RepeatedSearchIntervalMs = 1000;
} // namespace

// A search processes window events while it probes; a workflow run there
// may ask for a new search. That one waits for the timer's next tick after
// this search: a search never runs inside a search.
void TMainForm::initTimerTimer() {
    if (searchRunning) {
        initTimer->start();
        return;
    }
    const QScopedValueRollback<bool> running(searchRunning, true);
    initTimer->stop();
    ForgetConnectedEncoder(); // whatever answers next may be another encoder
    CloseCOMPort();
    lblInterfaceVer->clear();
    // Over repeated failed searches the label blinks: empty, then the text.
    lblComPort->setText(lblComPort->text().isEmpty() ? SearchingText : QString());
    lblComPort->repaint();

    const AdapterSearchResult search = SearchForAdapter([] { QCoreApplication::processEvents(); });
    COMPorts.clear();
    COMPortList.clear();
    for (const AdapterCandidate& candidate : search.candidates) {
        COMPorts << candidate.portName;
        COMPortList << candidate.location;
    }

    HideHourglass();
    EnableAdapterControls(search.found >= 0);
    if (search.found < 0) {
        initTimer->setInterval(RepeatedSearchIntervalMs);
        initTimer->start();
        return;
    }
    ShowAdapter(search.adapter);
}

void TMainForm::EnableAdapterControls(bool enabled) {
    Page->setEnabled(enabled);
    btnConnectEncoder->setEnabled(enabled);
    btnPowerON->setEnabled(enabled);
    btnPowerOFF->setEnabled(enabled);
}

void TMainForm::ShowAdapter(const AdapterIdentity& adapter) {
    Page->setCurrentIndex(0);
    Q714VerzijaFW = adapter.firmwareVersion;
    SerijskaQ714 = adapter.serialNumber;
    Q714RevizijaFW = adapter.revision;
    Q714Version = adapter.IdentityText();
    lblComPort->setText(adapter.portName + QStringLiteral("  [") +
                        QString::fromLatin1(SerijskaQ714) + QStringLiteral("]"));
    lblInterfaceVer->setText(QString::fromLatin1(Q714Version) + QStringLiteral(".") +
                             QString::number(Q714RevizijaFW));
}

// A search already pending is not postponed: a workflow that retries faster
// than the timer's interval would otherwise keep the port from ever being
// reopened.
void TMainForm::RestartAdapterSearch() {
    if (!initTimer->isActive())
        initTimer->start();
}

// Reading needs a Connect again: the labels show their start texts, and
// nothing read from the encoder before is shown as if it were current.
void TMainForm::ForgetConnectedEncoder() {
    EncoderConnected = false;
    cbReadEncConstantly->setChecked(false);
    btnReadEncoder->setEnabled(false);
    cbReadEncConstantly->setEnabled(false);
    ShownPosition.Pending = false;
    for (auto it = EncoderStartTexts.cbegin(); it != EncoderStartTexts.cend(); ++it) {
        pendingTexts.remove(it.key());
        it.key()->setText(it.value());
    }
    for (QWidget* lamp : {static_cast<QWidget*>(pnlEncErr), static_cast<QWidget*>(pnlEncWarn),
                          static_cast<QWidget*>(pnlCRC)}) {
        pendingColours.remove(lamp);
        SetPanelColor(lamp, LampOffColour);
    }
}

void TMainForm::cbLogCommsClick() {
    CommLogEnabled = cbLogComms->isChecked();
    CommLogText.clear();
    Memo1->setVisible(true);
    if (CommLogEnabled)
        ClearMemo();
    if (CommLogEnabled)
        tmrCommDebug->start();
    else
        tmrCommDebug->stop();
}

void TMainForm::tmrCommDebugTimer() {
    MoveCommLogToMemo();
}

void TMainForm::MoveCommLogToMemo() {
    if (!CommLogEnabled)
        return;
    MemoAppendVerbatim(CommLogText);
    CommLogText.clear();
}
