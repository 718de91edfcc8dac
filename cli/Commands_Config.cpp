// config (get, set, dump, restore, verify), zero, preset-mt, store and
// factory-reset.
#include "AdapterWorkflows.h"
#include "BlockingWorkflows.h"
#include "Commands.h"
#include "ConfigFile.h"
#include "Configuration.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "Session.h"
#include "SettingsMap.h"
#include "TypedNumber.h"
#include "WholeFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <optional>

namespace {

using Settings = SettingsMap;

bool readSettings(CommandContext& c, Settings& settings) {
    return ReadSettingsMap(c.front, settings);
}

QJsonObject settingsJson(const Settings& settings) {
    QJsonObject object;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        object.insert(it.key(), double(it.value()));
    return object;
}

QStringList settingsText(const Settings& settings) {
    QStringList lines;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        lines << QStringLiteral("%1 = %2").arg(it.key()).arg(it.value());
    return lines;
}

// What a write left in the encoder.
QString writtenState(const QStringList& written) {
    return written.isEmpty() ? QStringLiteral("nothing written")
                             : QStringLiteral("settings written but not stored");
}

QJsonObject differencesJson(const Settings& expected, const Settings& actual) {
    QJsonObject object;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (actual.value(it.key(), -1) != it.value())
            object.insert(it.key(),
                          QJsonObject{{"expected", double(it.value())},
                                      {"actual", actual.contains(it.key())
                                                     ? QJsonValue(double(actual.value(it.key())))
                                                     : QJsonValue()}});
    return object;
}

// KEY=VALUE pairs, all checked before anything is sent: false with the
// first problem.
bool parseAssignments(const QStringList& arguments, Settings& values, QString& problem) {
    for (const QString& argument : arguments) {
        const QString key = argument.section(QLatin1Char('='), 0, 0);
        const QString text = argument.section(QLatin1Char('='), 1);
        const TypedNumber number = ParseTypedNumber(text);
        if (!SettingOf(key) || !argument.contains(QLatin1Char('='))) {
            problem = QStringLiteral("unknown setting \"%1\" (position_offset, position_filter, "
                                     "multiturn_error_arc)")
                          .arg(key);
            return false;
        }
        if (number.kind != TypedNumber::Number || number.value < 0 ||
            number.value > SettingMaximum(key)) {
            problem = QStringLiteral("%1 takes a whole number from 0 to %2, not \"%3\"")
                          .arg(key)
                          .arg(SettingMaximum(key))
                          .arg(text);
            return false;
        }
        values.insert(key, number.value);
    }
    return true;
}

// The settings the connected encoder lacks: 0, or the exit status after
// naming them (nothing has been written then).
int refuseMissingSettings(const Settings& values, int status) {
    const QStringList missing = SettingsTheEncoderLacks(values);
    if (missing.isEmpty())
        return ExitDone;
    return Fail(status, QStringLiteral("this encoder has no %1; nothing was written")
                            .arg(missing.join(QStringLiteral(", "))));
}

// Writes the settings in turn: 0, or the exit status at the first the
// encoder refuses or when the user stops it.
int writeSettings(CommandContext& c, const Settings& values, QStringList& written) {
    QString problem;
    if (WriteSettingsMap(c.front, values, written, problem))
        return ExitDone;
    return problem.isEmpty() ? ExitInterrupted : Fail(ExitEncoder, problem);
}

// The settings file of restore or verify, read and checked whole: 0, or the
// exit status after a message (nothing has been sent then). It is read once
// before the port is opened and again after the connect.
int readConfigFile(const CliRequest& request, const QString& path, ConfigFile& config) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(ExitFile, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QString problem;
    if (!ParseConfigFile(file.readAll(), config, problem))
        return Fail(ExitFile, QStringLiteral("%1: %2; nothing was sent").arg(path, problem));
    if (config.encoderType == 0 && !request.IsSet("other-encoder"))
        return Fail(ExitFile, QStringLiteral("%1 does not say which encoder type and register map "
                                             "its settings belong to (it was dumped before q714 "
                                             "wrote them); nothing was sent. --other-encoder "
                                             "takes it all the same")
                                  .arg(path));
    return ExitDone;
}

// Settings of another kind of encoder are refused unless --other-encoder.
int refuseOtherKind(const CliRequest& request, const QString& path, const ConfigFile& config) {
    const QString map = RegisterMapName(EncoderType);
    if (request.IsSet("other-encoder") ||
        (config.encoderType == EncoderType && config.registerMap == map))
        return ExitDone;
    return Fail(ExitFile, QStringLiteral("%1 holds the settings of a type %2 encoder with the %3 "
                                         "register map, this one is type %4 with %5; nothing "
                                         "was written. --other-encoder takes them all the same")
                              .arg(path)
                              .arg(config.encoderType)
                              .arg(config.registerMap)
                              .arg(EncoderType)
                              .arg(map));
}

// The file's settings to restore or verify on the connected encoder: 0, or
// the exit status after a message (nothing has been written then).
int loadConfigFile(CommandContext& c, const QString& path, Settings& expected) {
    ConfigFile config;
    if (const int status = readConfigFile(c.request, path, config))
        return status;
    if (const int status = refuseOtherKind(c.request, path, config))
        return status;
    expected = config.transferable;
    if (!c.request.IsSet("include-unit"))
        return ExitDone;
    const QString serial = QString::fromLatin1(EncoderSignature.SerialNumber);
    if (config.encoderSerial != serial)
        return Fail(ExitEncoder, QStringLiteral("%1 holds the unit settings of encoder %2, this "
                                                "is %3; nothing was written")
                                     .arg(path, config.encoderSerial, serial));
    for (auto it = config.unit.cbegin(); it != config.unit.cend(); ++it)
        expected.insert(it.key(), it.value());
    return ExitDone;
}

int compareWithEncoder(CommandContext& c, const Settings& expected, const QString& state,
                       QJsonObject fields) {
    Settings actual;
    readSettings(c, actual);
    const QStringList differing = SettingDifferences(expected, actual);
    fields.insert(QStringLiteral("expected"), settingsJson(expected));
    fields.insert(QStringLiteral("settings"), settingsJson(actual));
    fields.insert(QStringLiteral("differences"), differencesJson(expected, actual));
    fields.insert(QStringLiteral("match"), differing.isEmpty());
    fields.insert(QStringLiteral("state"), state);
    QStringList text =
        differing.isEmpty() ? QStringList{QStringLiteral("every setting matches")} : differing;
    c.out.Result(ResultOf(c, fields), text);
    return differing.isEmpty() ? ExitDone : ExitCheckFailed;
}

int interruptedAt(CommandContext& c, const QString& state) {
    c.out.Result(ResultOf(c, {{"state", state}, {"complete", false}}), {state});
    return Fail(ExitInterrupted, QStringLiteral("interrupted: ") + state);
}

int configGet(CommandContext& c) {
    Settings settings;
    const bool complete = readSettings(c, settings);
    c.out.Result(ResultOf(c, {{"settings", settingsJson(settings)}}), settingsText(settings));
    return complete ? ExitDone : Fail(ExitEncoder, QStringLiteral("a setting could not be read"));
}

int configSet(CommandContext& c) {
    Settings values;
    QString problem;
    if (!parseAssignments(c.request.arguments.mid(1), values, problem))
        return Fail(ExitUsage, problem);
    if (const int status = refuseMissingSettings(values, ExitUsage))
        return status;
    QStringList written;
    const int status = writeSettings(c, values, written);
    const QString state = writtenState(written);
    c.out.Result(ResultOf(c, {{"written", QJsonArray::fromStringList(written)},
                              {"state", state},
                              {"complete", status == ExitDone}}),
                 {state + QStringLiteral(" (q714 store keeps them over a power cycle)")});
    return status == ExitInterrupted ? Fail(status, QStringLiteral("interrupted: ") + state)
                                     : status;
}

int configDump(CommandContext& c) {
    Settings settings;
    if (!readSettings(c, settings))
        return Fail(ExitEncoder, QStringLiteral("a setting could not be read"));
    const QByteArray document = QJsonDocument(ConfigDocument(settings)).toJson();
    const QString path = c.request.arguments.value(1);
    if (path.isEmpty() || path == QLatin1String("-")) { // the file is the output
        c.out.Document(document);
        return ExitDone;
    }
    QString problem;
    if (!WriteWholeFile(path, document, problem))
        return Fail(ExitFile, QStringLiteral("cannot write %1: %2").arg(path, problem));
    c.out.Result(ResultOf(c, {{"file", path}, {"settings", settingsJson(settings)}}),
                 {QStringLiteral("settings saved in ") + path});
    return ExitDone;
}

int configRestore(CommandContext& c) {
    const QString path = c.request.arguments.value(1);
    if (path.isEmpty())
        return Fail(ExitUsage, QStringLiteral("config restore needs FILE"));
    Settings expected;
    if (const int status = loadConfigFile(c, path, expected))
        return status;
    if (const int status = refuseMissingSettings(expected, ExitUsage))
        return status;
    if (!Confirm(c, QStringLiteral("Write and store the settings of %1 in the encoder?").arg(path)))
        return ExitUsage;
    if (Interrupted())
        return interruptedAt(c, writtenState({}));
    QStringList written;
    const int writeStatus = writeSettings(c, expected, written);
    if (writeStatus == ExitInterrupted || (writeStatus == ExitDone && Interrupted()))
        return interruptedAt(c, writtenState(written));
    if (writeStatus != ExitDone)
        return writeStatus;
    if (!StoreSettings(StoreCommand::SaveToNvram, c.front))
        return Fail(ExitEncoder, QStringLiteral("settings written but not stored"));
    if (Interrupted())
        return interruptedAt(c, QStringLiteral("settings stored, not yet verified"));
    // Only what the encoder brings back from its NVRAM counts.
    if (PowerOffEncoder().LinkBroken() || PowerOnEncoder(c.session.Voltage(), c.front).LinkBroken())
        return Fail(ExitLink, QStringLiteral("the link broke while the supply was cycled; the "
                                             "settings are stored, not verified"));
    if (const int status = c.session.ConnectEncoder())
        return status;
    return compareWithEncoder(c, expected, QStringLiteral("settings stored and read back"),
                              {{"file", path}, {"written", QJsonArray::fromStringList(written)}});
}

int configVerify(CommandContext& c) {
    const QString path = c.request.arguments.value(1);
    if (path.isEmpty())
        return Fail(ExitUsage, QStringLiteral("config verify needs FILE"));
    Settings expected;
    if (const int status = loadConfigFile(c, path, expected))
        return status;
    return compareWithEncoder(c, expected, QStringLiteral("compared"), {{"file", path}});
}

} // namespace

int CheckConfig(const CliRequest& request) {
    const QString action = request.arguments.value(0);
    Settings values;
    QString problem;
    if (action == QLatin1String("set") &&
        !parseAssignments(request.arguments.mid(1), values, problem))
        return Fail(ExitUsage, problem);
    ConfigFile config;
    if (action == QLatin1String("restore") || action == QLatin1String("verify"))
        return readConfigFile(request, request.arguments.value(1), config);
    return ExitDone;
}

int RunConfig(CommandContext& c) {
    const QString action = c.request.arguments.value(0);
    if (action == QLatin1String("get"))
        return configGet(c);
    if (action == QLatin1String("set"))
        return configSet(c);
    if (action == QLatin1String("dump"))
        return configDump(c);
    if (action == QLatin1String("restore"))
        return configRestore(c);
    if (action == QLatin1String("verify"))
        return configVerify(c);
    return Fail(ExitUsage, QStringLiteral("config takes get, set, dump, restore or verify"));
}

int RunZero(CommandContext& c) {
    if (!Confirm(c, QStringLiteral("Make the current position the encoder's zero and store it?")))
        return ExitUsage;
    const ZeroRun run = SetZeroAndVerify(c.front);
    const SetZeroResult& zero = run.zero;
    if (!zero.done)
        return Fail(ExitEncoder, QStringLiteral("nothing was written"));
    const bool verified = run.verified;
    c.out.Result(
        ResultOf(c, {{"previous_offset", double(zero.previousOffset)},
                     {"singleturn", double(zero.singleturn)},
                     {"new_offset", double(zero.newOffset)},
                     {"verified", verified}}),
        {QStringLiteral("zero offset %1 -> %2").arg(zero.previousOffset).arg(zero.newOffset)});
    return verified ? ExitDone
                    : Fail(ExitEncoder, QStringLiteral("the encoder does not hold the new offset"));
}

int RunPresetMultiturn(CommandContext& c) {
    // The turn count's range is the command table's, checked with the
    // command line.
    qint64 turns = 0;
    if (!ParseWholeNumber(c.request.arguments.value(0), *c.request.form->number, turns))
        return Fail(ExitUsage, QStringLiteral("preset-mt takes a turn count from -32768 to 65535"));
    if (MTbits == 0)
        return Fail(ExitEncoder, QStringLiteral("a single-turn encoder counts no turns"));
    if (!Confirm(c, QStringLiteral("Preset the turn count to %1?").arg(turns)))
        return ExitUsage;
    if (!PresetMultiturn(static_cast<quint16>(turns), c.front))
        return Fail(ExitEncoder, QStringLiteral("the encoder refused the preset"));
    c.out.Result(ResultOf(c, {{"turns", double(turns)}}),
                 {QStringLiteral("turns preset to %1").arg(turns)});
    return ExitDone;
}

int RunStore(CommandContext& c) {
    if (!Confirm(c, QStringLiteral("Store the settings in the encoder's NVRAM?")))
        return ExitUsage;
    const bool stored = StoreSettings(StoreCommand::SaveToNvram, c.front);
    c.out.Result(ResultOf(c, {{"stored", stored}}),
                 {stored ? QStringLiteral("stored") : QStringLiteral("not stored")});
    return stored ? ExitDone : ExitEncoder;
}

int RunFactoryReset(CommandContext& c) {
    if (!Confirm(c, QStringLiteral("Restore the encoder's factory settings?")))
        return ExitUsage;
    const bool reset = StoreSettings(StoreCommand::FactoryReset, c.front);
    c.out.Result(ResultOf(c, {{"reset", reset}}),
                 {reset ? QStringLiteral("factory settings restored")
                        : QStringLiteral("factory reset failed")});
    return reset ? ExitDone : ExitEncoder;
}
