// The Configuration tab: the encoder's stored settings (position offset,
// position filter, multi-turn error arc, multi-turn preset), saving them to
// the encoder's NVRAM, the factory reset and "Set zero here"; and the
// tab-change handler that refreshes the Configuration and Self-Calibration
// tabs from the encoder.
#include "Configuration.h"
#include "EditNumbers.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "TypedNumber.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

const QString NoStatus = QStringLiteral("...");

void refreshConfigurationPage(TMainForm& form) {
    const EncoderSettings settings = ReadEncoderSettings(form.Front());
    if (settings.positionOffset)
        form.edPosOffset->setText(QString::number(*settings.positionOffset));
    if (settings.positionFilter)
        form.edFilterPosVal->setText(QString::number(*settings.positionFilter));
    if (settings.multiturnErrorArc)
        form.edMTerrArc->setText(QString::number(*settings.multiturnErrorArc));
}

void writeSetting(TMainForm& form, EncoderSetting setting, const QLineEdit* edit) {
    if (const std::optional<quint32> value = SettingValueOf(setting, edit->text(), form.Front()))
        WriteEncoderSetting(setting, *value, form.Front());
}

// Save to NVRAM and Factory Reset: the read cycle pauses meanwhile.
void storeSettings(TMainForm& form, StoreCommand command) {
    form.EnableConstReading = false;
    StoreSettings(command, form.Front(), [&form] { form.PageChange(); });
    form.EnableConstReading = true;
}

} // namespace

void TMainForm::ConnectConfigurationHandlers() {
    connect(Page, &QTabWidget::currentChanged, this, &TMainForm::PageChange);
    connect(btnWriteZero, &QPushButton::clicked, this, &TMainForm::btnWriteZeroClick);
    connect(btnWriteFilter, &QPushButton::clicked, this, &TMainForm::btnWriteFilterClick);
    connect(btnMTerrArcWrite, &QPushButton::clicked, this, &TMainForm::btnMTerrArcWriteClick);
    connect(btnApplyMT, &QPushButton::clicked, this, &TMainForm::btnApplyMTClick);
    connect(btnSaveFlash, &QPushButton::clicked, this, &TMainForm::btnSaveFlashClick);
    connect(btnFactoryReset, &QPushButton::clicked, this, &TMainForm::btnFactoryResetClick);
    connect(btnUlvaxSetZero, &QPushButton::clicked, this, &TMainForm::btnUlvaxSetZeroClick);
}

// Refreshes the fields of the tab now showing, when it is the Configuration
// or the Self-Calibration tab.
void TMainForm::PageChange() {
    if (Page->currentWidget() == tabConfig)
        refreshConfigurationPage(*this);
    else if (Page->currentWidget() == tabSelfCal)
        RefreshSelfCalibrationPage();
}

void TMainForm::btnWriteZeroClick() {
    writeSetting(*this, EncoderSetting::PositionOffset, edPosOffset);
}

// The new filter takes effect in the encoder after a power cycle.
void TMainForm::btnWriteFilterClick() {
    writeSetting(*this, EncoderSetting::PositionFilter, edFilterPosVal);
}

void TMainForm::btnMTerrArcWriteClick() {
    writeSetting(*this, EncoderSetting::MultiturnErrorArc, edMTerrArc);
}

void TMainForm::btnApplyMTClick() {
    if (const std::optional<quint16> turns = MultiturnPresetOf(edMultiturnPreset->text(), Front()))
        PresetMultiturn(*turns, Front());
}

void TMainForm::btnSaveFlashClick() {
    storeSettings(*this, StoreCommand::SaveToNvram);
}

void TMainForm::btnFactoryResetClick() {
    storeSettings(*this, StoreCommand::FactoryReset);
}

// The read cycle pauses until the zero is set.
void TMainForm::btnUlvaxSetZeroClick() {
    EnableConstReading = false;
    lblUlvaxZeroStatus->setText(NoStatus);
    lblUlvaxZeroStatus->repaint();
    SetZeroHooks hooks;
    hooks.refreshSettings = [this]() -> ZeroReference {
        PageChange();
        const TypedNumber typed = ParseTypedNumber(edPosOffset->text());
        if (typed.NumberOrBlank())
            return {typed.ValueOr(0), {}};
        return {std::nullopt, InvalidSettingText(SettingName(EncoderSetting::PositionOffset),
                                                 edPosOffset->text())};
    };
    hooks.takeReading = [this] {
        btnReadEncoderClick();
        return LastReadingOk;
    };
    hooks.store = [this] { btnSaveFlashClick(); };
    hooks.status = [this](const QString& text) { lblUlvaxZeroStatus->setText(text); };
    hooks.newOffset = [this](qint64 offset) { edPosOffset->setText(QString::number(offset)); };
    hooks.presetSetToZero = [this] { edMultiturnPreset->setText(QStringLiteral("0")); };
    SetZeroHere(Front(), hooks);
    EnableConstReading = true;
}
