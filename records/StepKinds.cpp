// The step kinds a plan may use: their own keys and their measurements.
#include "TestPlan.h"

namespace {

using P = ParameterType;
using M = Measure;

ParameterEntry optionalKey(const char* key, P type, double minimum, double maximum,
                           const char* meaning) {
    return {key, type, minimum, maximum, QVariant(), false, meaning};
}

ParameterEntry keyWithDefault(const char* key, P type, double minimum, double maximum,
                              const QVariant& value, const char* meaning) {
    return {key, type, minimum, maximum, value, false, meaning};
}

ParameterEntry requiredKey(const char* key, P type, double minimum, double maximum,
                           const char* meaning) {
    return {key, type, minimum, maximum, QVariant(), true, meaning};
}

const QList<StepKindEntry> Kinds = {
    {StepKind::Identify,
     "identify",
     "Connect (switching the supply on when needed) and check the encoder's identity.",
     {optionalKey("expect_type", P::Integer, 1, 7, "the encoder type (1 to 7)"),
      optionalKey("expect_part", P::Text, 0, 0, "the part number; * stands for any characters"),
      optionalKey("expect_resolution_bits", P::Integer, 1, 32, "single-turn bits"),
      optionalKey("expect_multiturn", P::Boolean, 0, 0, "a multi-turn encoder")},
     {{M::ResolutionBits, "resolution_bits", "bit", "single-turn resolution"}}},
    {StepKind::Power,
     "power",
     "Switch the encoder's supply on or off.",
     {keyWithDefault("on", P::Boolean, 0, 0, true, "on (true) or off (false)"),
      keyWithDefault("volt", P::Number, 3.3, 5, 5.0, "supply voltage: 3.3 or 5")},
     {{M::SupplyCurrentMa, "supply_current_ma", "mA",
       "the supply current the adapter reports once on"}}},
    {StepKind::Spi,
     "spi",
     "Set the SPI clock and the NCS-SCK delay.",
     {requiredKey("clock", P::Integer, 1, 8, "1 = 94 kHz ... 5 = 1.5 MHz ... 8 = 12 MHz"),
      optionalKey("ncs_delay_us", P::Integer, 1, 900, "delay from chip select to clock")},
     {}},
    {StepKind::Config,
     "config",
     "Write settings (not stored: a store step keeps them).",
     {optionalKey("position_offset", P::Integer, 0, 2147483647.0, "counts"),
      optionalKey("position_filter", P::Integer, 0, 2147483647.0, "filter setting (factory 4)"),
      optionalKey("multiturn_error_arc", P::Integer, 0, 255, "degrees")},
     {}},
    {StepKind::Zero,
     "zero",
     "Make the current position the zero, store it and preset the turns to 0.",
     {},
     {{M::NewOffset, "new_offset", "counts", "the position offset written"}}},
    {StepKind::PresetMt,
     "preset-mt",
     "Preset the turn count.",
     {keyWithDefault("turns", P::Integer, -32768, 65535, qint64(0), "the turn count")},
     {}},
    {StepKind::Store, "store", "Store the settings in the NVRAM.", {}, {}},
    {StepKind::PowerCycleVerify,
     "power-cycle-verify",
     "Switch the supply off and on, reconnect, and compare every setting this run wrote "
     "with what the encoder holds now.",
     {keyWithDefault("off_ms", P::Integer, 50, 60000, qint64(500), "how long the supply is off")},
     {{M::SettingsDiffering, "settings_differing", "",
       "settings that differ from what the run wrote"},
      {M::PositionChangeDeg, "position_change_deg", "deg",
       "position after the power cycle minus before"}}},
    {StepKind::Read,
     "read",
     "Read the position repeatedly.",
     {keyWithDefault("count", P::Integer, 1, 1000000, qint64(100), "readings"),
      keyWithDefault("interval_ms", P::Integer, 0, 60000, qint64(0), "pause between readings")},
     {{M::PositionDeg, "position_deg", "deg", "mean position"},
      {M::PositionSpreadDeg, "position_spread_deg", "deg", "largest minus smallest position"},
      {M::ErrorCount, "error_count", "", "readings with the error bit"},
      {M::WarningCount, "warning_count", "", "readings with the warning bit"},
      {M::CrcErrorCount, "crc_error_count", "", "readings whose CRC did not match"}}},
    {StepKind::Signal,
     "signal",
     "Read signal level, air gap and temperatures.",
     {keyWithDefault("count", P::Integer, 1, 100000, qint64(10), "readings to average")},
     {{M::SignalLevel, "signal_level", "", "mean signal level"},
      {M::AirGapUm, "air_gap_um", "um", "mean air gap"},
      {M::TemperatureC, "temperature_c", "°C", "mean sensor temperature"},
      {M::ThermistorC, "thermistor_c", "°C", "mean thermistor temperature (when it reads one)"}}},
    {StepKind::Noise,
     "noise",
     "Position noise of a resting shaft.",
     {keyWithDefault("samples", P::Integer, 2, 10000000, qint64(5000), "readings")},
     {{M::SpreadCounts, "spread_counts", "counts", "largest minus smallest reading"},
      {M::SixSigmaCounts, "six_sigma_counts", "counts", "six standard deviations"},
      {M::SignalLevelAverage, "signal_level_average", "", "mean signal level"}}},
    {StepKind::ErrorMap,
     "errormap",
     "Read the error map (attached as CSV).",
     {},
     {{M::CorrectionMin, "correction_min", "", "smallest correction"},
      {M::CorrectionMax, "correction_max", "", "largest correction"},
      {M::CorrectionSpan, "correction_span", "", "largest minus smallest correction"}}},
    {StepKind::Calibrate,
     "calibrate",
     "Run the self-calibration; it fails unless the encoder reports success.",
     {optionalKey("arc", P::Integer, 10, 360,
                  "partial arc in whole degrees (default: the encoder's)"),
      optionalKey("timeout", P::Integer, 1, 40,
                  "the calibration's own time-out in whole seconds (default: the encoder's)")},
     {{M::SelfCalStatus, "status", "", "the self-calibration status register"}}},
    {StepKind::Diag,
     "diag",
     "Read the diagnostics counters (firmware 4).",
     {},
     {{M::PowerCycles, "power_cycles", "", "power cycles"},
      {M::OperatingMinutes, "operating_minutes", "min", "operating time"},
      {M::TemperatureMinC, "temperature_min_c", "°C", "lowest temperature seen"},
      {M::TemperatureMaxC, "temperature_max_c", "°C", "highest temperature seen"},
      {M::SafetyMarginRt, "safety_margin_rt", "", "decoding safety margin RT"},
      {M::SafetyMarginPer, "safety_margin_per", "", "decoding safety margin PER"}}},
    {StepKind::Record,
     "record",
     "Record readings with the debug record (attached as CSV).",
     {keyWithDefault("count", P::Integer, 1, 10000000, qint64(1000), "readings")},
     {{M::FailedReadouts, "failed_readouts", "", "readings without their debug record"}}},
    {StepKind::Prompt,
     "prompt",
     "Ask the operator (a terminal only; unattended it is an error).",
     {requiredKey("text", P::Text, 0, 0, "what to ask; the operator answers pass or fail")},
     {}},
};

} // namespace

const QList<StepKindEntry>& StepKinds() {
    return Kinds;
}

const StepKindEntry* FindStepKind(const QString& name) {
    for (const StepKindEntry& entry : Kinds)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

const MeasurementEntry* FindMeasurement(StepKind kind, Measure measure) {
    for (const MeasurementEntry& entry : EntryOf(kind).measurements)
        if (entry.measure == measure)
            return &entry;
    return nullptr;
}

const MeasurementEntry* FindMeasurement(StepKind kind, const QString& name) {
    for (const MeasurementEntry& entry : EntryOf(kind).measurements)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

const StepKindEntry& EntryOf(StepKind kind) {
    for (const StepKindEntry& entry : Kinds)
        if (entry.kind == kind)
            return entry;
    return Kinds.first();
}
