#include "TestPlan.h"

#include "RecordExport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <optional>
#include <toml++/toml.h>

// A plan is read in two passes: toml++ turns the text into a tree (a syntax
// error ends it there), then every key of the tree is checked against the
// keys a plan and its step kinds have. A mistake is noted and checking goes
// on, so one reading names every mistake. toml++ keeps a table's keys in
// alphabetical order, so the problems are put into file order at the end.

namespace {

constexpr qint64 MaxPlanBytes = 1024 * 1024;
constexpr double MaxTimeoutS = 86400;
constexpr int MaxRepeat = 1000;
// The noise measurement reads the signal level on every this many readings.
constexpr qint64 NoiseSamplesPerSignalLevel = 100;

const QStringList TopLevelKeys = {"name", "version", "description", "steps"};
const QStringList StepKeys = {"kind", "name", "timeout_s", "repeat", "on_failure", "limits"};
const QStringList LimitKeys = {"low", "high", "marginal"};

QString fromToml(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A number as the plan gives it: whole numbers without exponent, others
// with every digit they need to read back the same (1199.999, not 1200).
QString numberText(double value) {
    return std::isfinite(value) ? NumberText(value) : QString::number(value);
}

// A key or value of the plan as a message shows it: in quotes, a control
// character (a NUL, an escape) written as \uXXXX rather than sent to the
// terminal.
QString quoted(const QString& text) {
    QString shown;
    for (const QChar c : text)
        shown += c.category() == QChar::Other_Control
                     ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                     : QString(c);
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

QString joined(const QStringList& words) {
    return words.join(QStringLiteral(", "));
}

QString typeOf(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string:
        return QStringLiteral("a string");
    case toml::node_type::integer:
        return QStringLiteral("an integer");
    case toml::node_type::floating_point:
        return QStringLiteral("a number with a fraction");
    case toml::node_type::boolean:
        return QStringLiteral("true or false");
    case toml::node_type::table:
        return QStringLiteral("a table");
    case toml::node_type::array:
        return QStringLiteral("an array");
    default:
        return QStringLiteral("a date or time");
    }
}

QString valueText(const toml::node& node) {
    if (const auto* text = node.as_string())
        return quoted(fromToml(text->get()));
    if (const auto* integer = node.as_integer())
        return QString::number(integer->get());
    if (const auto* number = node.as_floating_point())
        return numberText(number->get());
    if (const auto* boolean = node.as_boolean())
        return boolean->get() ? QStringLiteral("true") : QStringLiteral("false");
    return typeOf(node);
}

QStringList kindNames() {
    QStringList names;
    for (const StepKindEntry& entry : StepKinds())
        names << QLatin1String(entry.name);
    return names;
}

QStringList parameterNames(const StepKindEntry& entry) {
    QStringList names;
    for (const ParameterEntry& parameter : entry.parameters)
        names << QLatin1String(parameter.key);
    return names;
}

QStringList measurementNames(const StepKindEntry& entry) {
    QStringList names;
    for (const MeasurementEntry& measurement : entry.measurements)
        names << QLatin1String(measurement.name);
    return names;
}

// Notes problems, each with where it is and the step it belongs to.
class Problems {
public:
    void SetStep(int index) {
        prefix = index > 0 ? QStringLiteral("step %1: ").arg(index) : QString();
    }
    void At(const toml::source_region& where, const QString& message) {
        list.append({static_cast<int>(where.begin.line), static_cast<int>(where.begin.column),
                     prefix + message});
    }
    void Whole(const QString& message) { list.append({0, 0, prefix + message}); }
    void WrongType(const toml::node& value, const QString& key, const QString& wanted) {
        At(value.source(),
           QStringLiteral("%1 must be %2, not %3").arg(quoted(key), wanted, typeOf(value)));
    }
    QList<PlanProblem> InFileOrder() const {
        QList<PlanProblem> sorted = list;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return a.line != b.line ? a.line < b.line : a.column < b.column;
        });
        return sorted;
    }

private:
    QList<PlanProblem> list;
    QString prefix;
};

// Every text of a plan is read here. A NUL character is refused: a record
// store cannot keep one (PostgreSQL's text has none), and a run must never
// find that out after it has measured.
std::optional<QString> textOf(const toml::node& value, const QString& key, Problems& problems) {
    const auto* string = value.as_string();
    if (!string) {
        problems.WrongType(value, key, QStringLiteral("a string"));
        return std::nullopt;
    }
    const QString text = fromToml(string->get());
    if (text.contains(QChar(0))) {
        problems.At(value.source(), QStringLiteral("%1 holds a NUL character (\\u0000), which "
                                                   "a record store cannot keep")
                                        .arg(quoted(key)));
        return std::nullopt;
    }
    return text;
}

std::optional<QString> nonEmptyTextOf(const toml::node& value, const QString& key,
                                      Problems& problems) {
    const std::optional<QString> text = textOf(value, key, problems);
    if (text && text->trimmed().isEmpty()) {
        problems.At(value.source(), QStringLiteral("%1 must not be empty").arg(quoted(key)));
        return std::nullopt;
    }
    return text;
}

std::optional<qint64> integerOf(const toml::node& value, const QString& key, Problems& problems) {
    if (const auto* integer = value.as_integer())
        return integer->get();
    if (value.is_floating_point())
        problems.At(value.source(), QStringLiteral("%1 must be a whole number (an integer), not %2")
                                        .arg(quoted(key), valueText(value)));
    else
        problems.WrongType(value, key, QStringLiteral("an integer"));
    return std::nullopt;
}

std::optional<double> numberOf(const toml::node& value, const QString& key, Problems& problems) {
    std::optional<double> number;
    if (const auto* integer = value.as_integer())
        number = static_cast<double>(integer->get());
    else if (const auto* floating = value.as_floating_point())
        number = floating->get();
    if (!number) {
        problems.WrongType(value, key, QStringLiteral("a number"));
    } else if (!std::isfinite(*number)) {
        problems.At(value.source(), QStringLiteral("%1 must be a finite number").arg(quoted(key)));
        number.reset();
    }
    return number;
}

std::optional<bool> booleanOf(const toml::node& value, const QString& key, Problems& problems) {
    if (const auto* boolean = value.as_boolean())
        return boolean->get();
    problems.WrongType(value, key, QStringLiteral("true or false"));
    return std::nullopt;
}

bool inRange(double number, double minimum, double maximum, const toml::node& value,
             const QString& key, Problems& problems) {
    if (number >= minimum && number <= maximum)
        return true;
    problems.At(value.source(),
                QStringLiteral("%1 must be from %2 to %3, not %4")
                    .arg(quoted(key), numberText(minimum), numberText(maximum), valueText(value)));
    return false;
}

// -- the keys of every step --

void readTimeout(const toml::node& value, PlanStep& step, Problems& problems) {
    const std::optional<double> seconds = numberOf(value, QStringLiteral("timeout_s"), problems);
    if (!seconds)
        return;
    if (*seconds > 0 && *seconds <= MaxTimeoutS)
        step.timeoutS = *seconds;
    else
        problems.At(value.source(), QStringLiteral("\"timeout_s\" must be more than 0 and at most "
                                                   "%1 seconds, not %2")
                                        .arg(numberText(MaxTimeoutS), valueText(value)));
}

void readRepeat(const toml::node& value, PlanStep& step, Problems& problems) {
    const QString key = QStringLiteral("repeat");
    const std::optional<qint64> repeat = integerOf(value, key, problems);
    if (repeat && inRange(double(*repeat), 1, MaxRepeat, value, key, problems))
        step.repeat = static_cast<int>(*repeat);
}

void readOnFailure(const toml::node& value, PlanStep& step, Problems& problems) {
    const std::optional<QString> text = textOf(value, QStringLiteral("on_failure"), problems);
    if (!text)
        return;
    if (*text == QLatin1String("stop"))
        step.onFailure = OnFailure::Stop;
    else if (*text == QLatin1String("continue"))
        step.onFailure = OnFailure::Continue;
    else
        problems.At(value.source(),
                    QStringLiteral("\"on_failure\" must be \"stop\" or \"continue\", not %1")
                        .arg(valueText(value)));
}

// -- limits --

std::optional<double> limitNumber(const toml::table& table, const char* key, const QString& path,
                                  Problems& problems) {
    const toml::node* value = table.get(key);
    if (!value)
        return std::nullopt;
    return numberOf(*value, path + QLatin1Char('.') + QLatin1String(key), problems);
}

void checkLimitKeys(const toml::table& table, const QString& path, Problems& problems) {
    for (auto&& [key, value] : table)
        if (!LimitKeys.contains(fromToml(key.str())))
            problems.At(key.source(), QStringLiteral("unknown key %1 in %2 (a limit has low, "
                                                     "high and marginal)")
                                          .arg(quoted(fromToml(key.str())), quoted(path)));
}

bool checkMarginal(const Limits& limits, const toml::table& table, const QString& path,
                   Problems& problems) {
    const toml::node* value = table.get("marginal");
    if (!value)
        return true;
    const QString key = quoted(path + QStringLiteral(".marginal"));
    if (limits.marginal < 0) {
        problems.At(value->source(),
                    QStringLiteral("%1 must be 0 or more, not %2").arg(key, valueText(*value)));
        return false;
    }
    if (limits.low && limits.high && 2 * limits.marginal > *limits.high - *limits.low) {
        problems.At(value->source(),
                    QStringLiteral("%1 %2 is too wide: twice it must fit between low %3 and "
                                   "high %4")
                        .arg(key, numberText(limits.marginal), numberText(*limits.low),
                             numberText(*limits.high)));
        return false;
    }
    return true;
}

std::optional<Limits> readLimit(const toml::key& name, const toml::node& value,
                                Problems& problems) {
    const QString path = QStringLiteral("limits.") + fromToml(name.str());
    const toml::table* table = value.as_table();
    if (!table) {
        problems.At(value.source(), QStringLiteral("%1 must be a table such as { low = 1, high = "
                                                   "2, marginal = 0.1 }, not %2")
                                        .arg(quoted(path), typeOf(value)));
        return std::nullopt;
    }
    checkLimitKeys(*table, path, problems);
    Limits limits;
    limits.low = limitNumber(*table, "low", path, problems);
    limits.high = limitNumber(*table, "high", path, problems);
    const std::optional<double> marginal = limitNumber(*table, "marginal", path, problems);
    limits.marginal = marginal.value_or(0);
    if (!table->contains("low") && !table->contains("high")) {
        problems.At(name.source(),
                    QStringLiteral("%1 needs \"low\", \"high\" or both").arg(quoted(path)));
        return std::nullopt;
    }
    if (limits.low && limits.high && *limits.low > *limits.high) {
        problems.At(name.source(),
                    QStringLiteral("%1: limits the wrong way round (low %2 is "
                                   "above high %3)")
                        .arg(quoted(path), numberText(*limits.low), numberText(*limits.high)));
        return std::nullopt;
    }
    if (!checkMarginal(limits, *table, path, problems) || !limits.Any())
        return std::nullopt;
    return limits;
}

QString measurementsOf(const StepKindEntry& entry) {
    const QString kind = QLatin1String(entry.name);
    if (entry.measurements.isEmpty())
        return QStringLiteral("a %1 step has no measurements").arg(kind);
    return QStringLiteral("a %1 step has %2").arg(kind, joined(measurementNames(entry)));
}

void readLimits(const toml::node& value, const StepKindEntry* entry, PlanStep& step,
                Problems& problems) {
    const toml::table* table = value.as_table();
    if (!table) {
        problems.WrongType(value, QStringLiteral("limits"), QStringLiteral("a table"));
        return;
    }
    if (!entry)
        return; // which measurements there are depends on the kind
    for (auto&& [name, limit] : *table) {
        const QString measurement = fromToml(name.str());
        const MeasurementEntry* known = FindMeasurement(entry->kind, measurement);
        if (!known) {
            problems.At(name.source(), QStringLiteral("unknown measurement %1 (%2)")
                                           .arg(quoted(measurement), measurementsOf(*entry)));
            continue;
        }
        if (const std::optional<Limits> limits = readLimit(name, limit, problems))
            step.limits.insert(known->measure, *limits);
    }
}

// -- the kind's own keys --

std::optional<QVariant> parameterValue(const ParameterEntry& parameter, const toml::node& value,
                                       Problems& problems) {
    const QString key = QLatin1String(parameter.key);
    const double low = parameter.minimum;
    const double high = parameter.maximum;
    switch (parameter.type) {
    case ParameterType::Integer:
        if (const auto integer = integerOf(value, key, problems))
            if (inRange(double(*integer), low, high, value, key, problems))
                return QVariant::fromValue(*integer);
        return std::nullopt;
    case ParameterType::Number:
        if (const auto number = numberOf(value, key, problems))
            if (inRange(*number, low, high, value, key, problems))
                return QVariant(*number);
        return std::nullopt;
    case ParameterType::Boolean:
        if (const auto boolean = booleanOf(value, key, problems))
            return QVariant(*boolean);
        return std::nullopt;
    case ParameterType::Text:
        if (const auto text = textOf(value, key, problems))
            return QVariant(*text);
        return std::nullopt;
    }
    return std::nullopt;
}

QVariant defaultOf(const ParameterEntry& parameter) {
    switch (parameter.type) {
    case ParameterType::Integer:
        return QVariant::fromValue(parameter.defaultValue.toLongLong());
    case ParameterType::Number:
        return QVariant(parameter.defaultValue.toDouble());
    case ParameterType::Boolean:
        return QVariant(parameter.defaultValue.toBool());
    case ParameterType::Text:
        return QVariant(parameter.defaultValue.toString());
    }
    return {};
}

void readParameters(const toml::table& table, const StepKindEntry& entry, PlanStep& step,
                    Problems& problems) {
    for (const ParameterEntry& parameter : entry.parameters) {
        const QString key = QLatin1String(parameter.key);
        if (const toml::node* value = table.get(parameter.key)) {
            if (const std::optional<QVariant> converted =
                    parameterValue(parameter, *value, problems))
                step.parameters.insert(key, *converted);
        } else if (parameter.required) {
            problems.At(table.source(), QStringLiteral("missing %1 (required for a %2 step)")
                                            .arg(quoted(key), QLatin1String(entry.name)));
        } else if (parameter.defaultValue.isValid()) {
            step.parameters.insert(key, defaultOf(parameter));
        }
    }
}

// What the table of kinds cannot say: a few kinds have rules of their own.
void checkKindRules(const toml::table& table, const StepKindEntry& entry, const PlanStep& step,
                    Problems& problems) {
    if (entry.kind == StepKind::Power && step.parameters.contains(QStringLiteral("volt"))) {
        const double volt = step.Number("volt");
        if (std::fabs(volt - 3.3) > 1e-9 && std::fabs(volt - 5) > 1e-9)
            problems.At(table.get("volt")->source(),
                        QStringLiteral("\"volt\" must be 3.3 or 5, not %1").arg(numberText(volt)));
    }
    if (entry.kind == StepKind::Config) {
        const bool anySetting = std::any_of(
            entry.parameters.cbegin(), entry.parameters.cend(),
            [&](const ParameterEntry& parameter) { return table.contains(parameter.key); });
        if (!anySetting)
            problems.At(table.source(), QStringLiteral("a config step needs at least one setting "
                                                       "(%1)")
                                            .arg(joined(parameterNames(entry))));
    }
    if (entry.kind == StepKind::Noise && step.limits.contains(Measure::SignalLevelAverage) &&
        step.Integer("samples") < NoiseSamplesPerSignalLevel)
        problems.At(table.get("samples") ? table.get("samples")->source() : table.source(),
                    QStringLiteral("a limit on \"signal_level_average\" needs \"samples\" of at "
                                   "least %1: the signal level is read on every %1th reading")
                        .arg(NoiseSamplesPerSignalLevel));
    if (entry.kind == StepKind::Prompt && step.parameters.contains(QStringLiteral("text")) &&
        step.Text("text").trimmed().isEmpty())
        problems.At(table.get("text")->source(), QStringLiteral("\"text\" must not be empty"));
}

// -- a step --

const StepKindEntry* readKind(const toml::table& table, Problems& problems) {
    const toml::node* value = table.get("kind");
    if (!value) {
        problems.At(table.source(),
                    QStringLiteral("missing \"kind\" (one of %1)").arg(joined(kindNames())));
        return nullptr;
    }
    const std::optional<QString> name = textOf(*value, QStringLiteral("kind"), problems);
    if (!name)
        return nullptr;
    const StepKindEntry* entry = FindStepKind(*name);
    if (!entry)
        problems.At(value->source(), QStringLiteral("unknown kind %1 (known: %2)")
                                         .arg(valueText(*value), joined(kindNames())));
    return entry;
}

void checkStepKeys(const toml::table& table, const StepKindEntry* entry, Problems& problems) {
    if (!entry)
        return; // which keys belong to the step depends on its kind
    const QStringList own = parameterNames(*entry);
    for (auto&& [key, value] : table) {
        const QString name = fromToml(key.str());
        if (StepKeys.contains(name) || own.contains(name))
            continue;
        const QString ownKeys = own.isEmpty() ? QStringLiteral("none of its own")
                                              : QStringLiteral("its own: ") + joined(own);
        problems.At(key.source(),
                    QStringLiteral("unknown key %1 for a %2 step (%3; every step: "
                                   "%4)")
                        .arg(quoted(name), QLatin1String(entry->name), ownKeys, joined(StepKeys)));
    }
}

void readCommonKeys(const toml::table& table, const StepKindEntry* entry, PlanStep& step,
                    Problems& problems) {
    if (entry)
        step.name = QLatin1String(entry->name);
    if (const toml::node* value = table.get("name"))
        if (const auto name = nonEmptyTextOf(*value, QStringLiteral("name"), problems))
            step.name = *name;
    if (const toml::node* value = table.get("timeout_s"))
        readTimeout(*value, step, problems);
    if (const toml::node* value = table.get("repeat"))
        readRepeat(*value, step, problems);
    if (const toml::node* value = table.get("on_failure"))
        readOnFailure(*value, step, problems);
    if (const toml::node* value = table.get("limits"))
        readLimits(*value, entry, step, problems);
}

PlanStep readStep(const toml::table& table, Problems& problems) {
    PlanStep step;
    step.line = static_cast<int>(table.source().begin.line);
    const StepKindEntry* entry = readKind(table, problems);
    if (entry)
        step.kind = entry->kind;
    readCommonKeys(table, entry, step, problems);
    checkStepKeys(table, entry, problems);
    if (entry) {
        readParameters(table, *entry, step, problems);
        checkKindRules(table, *entry, step, problems);
    }
    return step;
}

// -- the whole plan --

void readSteps(const toml::node* value, TestPlan& plan, Problems& problems) {
    const QString needSteps = QStringLiteral("a plan needs at least one step ([[steps]])");
    if (!value) {
        problems.Whole(needSteps);
        return;
    }
    const toml::array* steps = value->as_array();
    if (!steps) {
        problems.WrongType(*value, QStringLiteral("steps"),
                           QStringLiteral("an array of tables ([[steps]])"));
        return;
    }
    if (steps->empty())
        problems.At(value->source(), needSteps);
    for (size_t i = 0; i < steps->size(); ++i) {
        const toml::node& element = *steps->get(i);
        problems.SetStep(static_cast<int>(i) + 1);
        if (const toml::table* table = element.as_table())
            plan.steps.append(readStep(*table, problems));
        else
            problems.WrongType(element, QStringLiteral("steps"), QStringLiteral("a table"));
    }
    problems.SetStep(0);
}

void readVersion(const toml::node* value, TestPlan& plan, Problems& problems) {
    if (!value) {
        problems.Whole(QStringLiteral("missing \"version\" (required), e.g. version = \"1.0\""));
    } else if (value->is_number()) {
        problems.At(value->source(), QStringLiteral("\"version\" must be a string, not a number: "
                                                    "quote it, e.g. version = \"1.0\""));
    } else if (const auto version = nonEmptyTextOf(*value, QStringLiteral("version"), problems)) {
        plan.version = *version;
    }
}

void readTopLevel(const toml::table& root, TestPlan& plan, Problems& problems) {
    for (auto&& [key, value] : root)
        if (!TopLevelKeys.contains(fromToml(key.str())))
            problems.At(key.source(), QStringLiteral("unknown key %1 (a plan has %2)")
                                          .arg(quoted(fromToml(key.str())), joined(TopLevelKeys)));
    if (const toml::node* value = root.get("name")) {
        if (const auto name = nonEmptyTextOf(*value, QStringLiteral("name"), problems))
            plan.name = *name;
    } else {
        problems.Whole(QStringLiteral("missing \"name\" (required)"));
    }
    readVersion(root.get("version"), plan, problems);
    if (const toml::node* value = root.get("description"))
        plan.description = textOf(*value, QStringLiteral("description"), problems).value_or("");
    readSteps(root.get("steps"), plan, problems);
}

PlanParse unreadable(const QString& path, const QString& reason) {
    PlanParse parse;
    parse.plan.fileName = path;
    parse.problems.append({0, 0, reason});
    return parse;
}

} // namespace

qint64 PlanStep::Integer(const char* key) const {
    return parameters.value(QLatin1String(key)).toLongLong();
}

double PlanStep::Number(const char* key) const {
    return parameters.value(QLatin1String(key)).toDouble();
}

bool PlanStep::Boolean(const char* key) const {
    return parameters.value(QLatin1String(key)).toBool();
}

QString PlanStep::Text(const char* key) const {
    return parameters.value(QLatin1String(key)).toString();
}

QString PlanProblem::Text(const QString& fileName) const {
    QString where = fileName;
    if (line > 0)
        where += QStringLiteral(":%1").arg(line);
    if (line > 0 && column > 0)
        where += QStringLiteral(":%1").arg(column);
    return where + QStringLiteral(": ") + message;
}

PlanParse ParsePlan(const QByteArray& text, const QString& fileName) {
    PlanParse parse;
    parse.plan.fileName = fileName;
    parse.plan.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    toml::table root;
    try {
        root = toml::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const toml::parse_error& error) {
        const toml::source_position where = error.source().begin;
        parse.problems.append({static_cast<int>(where.line), static_cast<int>(where.column),
                               QStringLiteral("TOML syntax: ") + fromToml(error.description())});
        return parse;
    }
    Problems problems;
    readTopLevel(root, parse.plan, problems);
    parse.problems = problems.InFileOrder();
    return parse;
}

PlanParse ReadPlanFile(const QString& path) {
    if (QFileInfo(path).isDir())
        return unreadable(path, QStringLiteral("cannot read the plan: it is a folder"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(path, QStringLiteral("cannot read the plan: ") + file.errorString());
    const QByteArray text = file.read(MaxPlanBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return unreadable(path, QStringLiteral("cannot read the plan: ") + file.errorString());
    if (text.size() > MaxPlanBytes)
        return unreadable(path, QStringLiteral("cannot read the plan: larger than %1 bytes, "
                                               "which no plan is")
                                    .arg(MaxPlanBytes));
    return ParsePlan(text, path);
}
