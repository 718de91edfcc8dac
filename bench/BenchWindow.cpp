#include "BenchWindow.h"

#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>

bool ConnectWindowToSimulator(TMainForm& form) {
    form.initTimerTimer();
    if (!COMPortHandle)
        return false;
    form.btnPowerONClick();
    form.btnConnectEncoderClick();
    form.seDelayBetweenReadings->setValue(0);
    form.show();
    QApplication::processEvents();
    form.ClearMemo();
    return form.btnReadEncoder->isEnabled();
}
