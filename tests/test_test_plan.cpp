// The plan reader: a good plan comes back whole with its defaults, a bad one
// with every mistake at its line, and the plan document keeps up with the
// table of step kinds.
#include "TestPlan.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Two lines of plan header: a step text given to it starts on line 3.
QByteArray withHeader(const char* steps) {
    return QByteArray("name = \"p\"\nversion = \"1\"\n") + steps;
}

QList<int> headerLines(const QByteArray& text) {
    QList<int> lines;
    const QList<QByteArray> rows = text.split('\n');
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].trimmed() == "[[steps]]")
            lines << i + 1;
    return lines;
}

QString problemsText(const PlanParse& parse) {
    QStringList lines;
    for (const PlanProblem& problem : parse.problems)
        lines << problem.Text(QStringLiteral("plan.toml"));
    return lines.join(QLatin1Char('\n'));
}

// One step of every kind, in the order of StepKinds().
const char* EveryKind = R"(name = "Every kind"
version = "2.1"
description = "one step of each kind"

[[steps]]
kind = "identify"
expect_part = "RX712*"
expect_multiturn = true
[[steps]]
kind = "power"
[[steps]]
kind = "spi"
clock = 5
[[steps]]
kind = "config"
position_filter = 6
[[steps]]
kind = "zero"
[[steps]]
kind = "preset-mt"
turns = -5
[[steps]]
kind = "store"
[[steps]]
kind = "power-cycle-verify"
[[steps]]
kind = "read"
name = "resting shaft"
timeout_s = 2.5
repeat = 3
on_failure = "continue"
limits.error_count = { high = 0 }
limits.position_spread_deg = { low = -1, high = 1.5, marginal = 0.25 }
[[steps]]
kind = "signal"
[[steps]]
kind = "noise"
[[steps]]
kind = "errormap"
[[steps]]
kind = "calibrate"
arc = 90
[[steps]]
kind = "diag"
[[steps]]
kind = "record"
[[steps]]
kind = "prompt"
text = "Label on?"
)";

const PlanStep& stepOf(const TestPlan& plan, StepKind kind) {
    for (const PlanStep& step : plan.steps)
        if (step.kind == kind)
            return step;
    return plan.steps.first();
}

QString parameterTypeWord(ParameterType type) {
    switch (type) {
    case ParameterType::Integer:
        return QStringLiteral("integer");
    case ParameterType::Number:
        return QStringLiteral("number");
    case ParameterType::Boolean:
        return QStringLiteral("true/false");
    case ParameterType::Text:
        return QStringLiteral("text");
    }
    return {};
}

QString numberWord(double value) {
    return value == qint64(value) ? QString::number(qint64(value)) : QString::number(value);
}

// The document's table rows under one heading: first cell (without its
// backticks) -> cells.
using Rows = QMap<QString, QStringList>;

Rows rowsOfSection(const QString& document, const QString& heading) {
    Rows rows;
    const qsizetype start = document.indexOf(QLatin1Char('\n') + heading + QLatin1Char('\n'));
    if (start < 0)
        return rows;
    qsizetype end = document.indexOf(QStringLiteral("\n#"), start + heading.size() + 2);
    const QString section = document.mid(start, end < 0 ? -1 : end - start);
    static const QRegularExpression row(QStringLiteral("^\\| `([^`]+)` \\|(.*)\\|$"),
                                        QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(section); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QStringList cells = match.captured(2).split(QLatin1Char('|'));
        for (QString& cell : cells)
            cell = cell.trimmed();
        rows.insert(match.captured(1), cells);
    }
    return rows;
}

} // namespace

class TestTestPlan : public QObject {
    Q_OBJECT

private slots:
    void everyKindParsesInOrderWithItsLines() {
        const PlanParse parse = ParsePlan(EveryKind, QStringLiteral("every.toml"));
        QVERIFY2(parse.Ok(), qPrintable(problemsText(parse)));
        const TestPlan& plan = parse.plan;
        QCOMPARE(plan.fileName, QStringLiteral("every.toml"));
        QCOMPARE(plan.name, QStringLiteral("Every kind"));
        QCOMPARE(plan.version, QStringLiteral("2.1"));
        QCOMPARE(plan.description, QStringLiteral("one step of each kind"));
        QCOMPARE(plan.steps.size(), StepKinds().size());
        const QList<int> lines = headerLines(EveryKind);
        for (int i = 0; i < plan.steps.size(); ++i) {
            QCOMPARE(plan.steps[i].kind, StepKinds()[i].kind);
            QCOMPARE(plan.steps[i].line, lines[i]);
        }
    }

    void stepKeysAreReadAndDefaulted() {
        const TestPlan plan = ParsePlan(EveryKind, QStringLiteral("every.toml")).plan;
        const PlanStep& read = stepOf(plan, StepKind::Read);
        QCOMPARE(read.name, QStringLiteral("resting shaft"));
        QCOMPARE(read.timeoutS, 2.5);
        QCOMPARE(read.repeat, 3);
        QCOMPARE(read.onFailure, OnFailure::Continue);
        const PlanStep& store = stepOf(plan, StepKind::Store);
        QCOMPARE(store.name, QStringLiteral("store"));
        QCOMPARE(store.timeoutS, 0.0);
        QCOMPARE(store.repeat, 1);
        QCOMPARE(store.onFailure, OnFailure::Stop);
        QVERIFY(store.limits.isEmpty());
        QCOMPARE(stepOf(plan, StepKind::PresetMt).name, QStringLiteral("preset-mt"));
    }

    void limitsAreRead() {
        const PlanStep read = stepOf(ParsePlan(EveryKind, {}).plan, StepKind::Read);
        QCOMPARE(read.limits.keys(),
                 (QList<Measure>{Measure::PositionSpreadDeg, Measure::ErrorCount}));
        const Limits errors = read.limits.value(Measure::ErrorCount);
        QVERIFY(!errors.low);
        QCOMPARE(errors.high, std::optional<double>(0));
        QCOMPARE(errors.marginal, 0.0);
        const Limits spread = read.limits.value(Measure::PositionSpreadDeg);
        QCOMPARE(spread.low, std::optional<double>(-1));
        QCOMPARE(spread.high, std::optional<double>(1.5));
        QCOMPARE(spread.marginal, 0.25);
    }

    void parametersAreConvertedAndDefaultsFilledIn() {
        const TestPlan plan = ParsePlan(EveryKind, {}).plan;
        const PlanStep& read = stepOf(plan, StepKind::Read);
        QCOMPARE(read.parameters.value(QStringLiteral("count")).typeId(), QMetaType::LongLong);
        QCOMPARE(read.Integer("count"), qint64(100));
        QCOMPARE(read.Integer("interval_ms"), qint64(0));
        const PlanStep& power = stepOf(plan, StepKind::Power);
        QCOMPARE(power.Boolean("on"), true);
        QCOMPARE(power.parameters.value(QStringLiteral("volt")).typeId(), QMetaType::Double);
        QCOMPARE(power.Number("volt"), 5.0);
        const PlanStep& calibrate = stepOf(plan, StepKind::Calibrate);
        QCOMPARE(calibrate.parameters.value(QStringLiteral("arc")).typeId(), QMetaType::LongLong);
        QCOMPARE(calibrate.Integer("arc"), qint64(90));
        QVERIFY(!calibrate.Has("timeout"));
        QCOMPARE(stepOf(plan, StepKind::PresetMt).Integer("turns"), qint64(-5));
        QCOMPARE(stepOf(plan, StepKind::Spi).Integer("clock"), qint64(5));
        QCOMPARE(stepOf(plan, StepKind::Prompt).Text("text"), QStringLiteral("Label on?"));
        // Optional keys without a default stay absent.
        const PlanStep& identify = stepOf(plan, StepKind::Identify);
        QCOMPARE(identify.parameters.keys(),
                 (QStringList{QStringLiteral("expect_multiturn"), QStringLiteral("expect_part")}));
        QCOMPARE(identify.Text("expect_part"), QStringLiteral("RX712*"));
        QCOMPARE(stepOf(plan, StepKind::Config).parameters.keys(),
                 QStringList{QStringLiteral("position_filter")});
    }

    void badPlan_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("words"); // the message names them
        const auto row = [](const char* name, const QByteArray& text, int line, int column,
                            const QStringList& words) {
            QTest::newRow(name) << text << line << column << words;
        };
        const auto step = [](const char* keys) {
            return withHeader((QByteArray("[[steps]]\n") + keys).constData());
        };
        // The TOML itself.
        row("TOML syntax", step("kind = \"read\"\ncount = \n"), 5, 9, {"TOML syntax"});
        row("not UTF-8", QByteArray("name = \"\xff\"\n"), 1, 8, {"TOML syntax"});
        // The plan's own keys.
        row("unknown key at top level",
            "name = \"p\"\nversion = \"1\"\nauthor = \"x\"\n[[steps]]\nkind = \"store\"\n", 3, 1,
            {"unknown key", "\"author\""});
        row("missing name", "version = \"1\"\n[[steps]]\nkind = \"store\"\n", 0, 0, {"\"name\""});
        row("empty name", "name = \" \"\nversion = \"1\"\n[[steps]]\nkind = \"store\"\n", 1, 8,
            {"\"name\"", "empty"});
        row("missing version", "name = \"p\"\n[[steps]]\nkind = \"store\"\n", 0, 0,
            {"\"version\""});
        row("version a number", "name = \"p\"\nversion = 1.0\n[[steps]]\nkind = \"store\"\n", 2, 11,
            {"\"version\"", "quote"});
        row("description a number", withHeader("description = 3\n[[steps]]\nkind = \"store\"\n"), 3,
            15, {"\"description\"", "a string"});
        row("no steps", withHeader(""), 0, 0, {"at least one step"});
        row("steps empty", withHeader("steps = []\n"), 3, 9, {"at least one step"});
        row("steps a table", withHeader("[steps]\nkind = \"store\"\n"), 3, 1,
            {"\"steps\"", "array of tables"});
        row("step not a table", withHeader("steps = [1]\n"), 3, 10, {"step 1:", "a table"});
        // A NUL character, which no record store keeps, in any text of a plan:
        // refused at its line, and shown as \u0000 rather than sent to the
        // terminal.
        row("NUL in the name",
            "name = \"p\\u0000\"\nversion = \"1\"\n[[steps]]\nkind = \"store\"\n", 1, 8,
            {"\"name\"", "NUL"});
        row("NUL in the version",
            "name = \"p\"\nversion = \"1\\u0000\"\n[[steps]]\nkind = \"store\"\n", 2, 11,
            {"\"version\"", "NUL"});
        row("NUL in the description",
            withHeader("description = \"\\u0000\"\n[[steps]]\nkind = \"store\"\n"), 3, 15,
            {"\"description\"", "NUL"});
        row("NUL in a step's name", step("kind = \"store\"\nname = \"a\\u0000b\"\n"), 5, 8,
            {"step 1:", "\"name\"", "NUL"});
        row("NUL in the kind", step("kind = \"read\\u0000\"\n"), 4, 8, {"\"kind\"", "NUL"});
        row("NUL in on_failure", step("kind = \"store\"\non_failure = \"stop\\u0000\"\n"), 5, 14,
            {"\"on_failure\"", "NUL"});
        row("NUL in a prompt's text", step("kind = \"prompt\"\ntext = \"Label on?\\u0000\"\n"), 5,
            8, {"\"text\"", "NUL"});
        row("NUL in an expected part", step("kind = \"identify\"\nexpect_part = \"RX\\u0000*\"\n"),
            5, 15, {"\"expect_part\"", "NUL"});
        row("NUL in a key", step("kind = \"store\"\n\"na\\u0000me\" = \"x\"\n"), 5, 1,
            {"unknown key", "\"na\\u0000me\""});
        row("NUL in a measurement's name",
            step("kind = \"read\"\nlimits.\"error_count\\u0000\" = { high = 0 }\n"), 5, 8,
            {"unknown measurement", "\"error_count\\u0000\""});
        // Keys of every step.
        row("missing kind", step("name = \"x\"\n"), 3, 1, {"missing \"kind\"", "identify"});
        row("kind a number", step("kind = 3\n"), 4, 8, {"\"kind\"", "a string"});
        row("unknown kind names the known ones", step("kind = \"reed\"\ncount = 5\n"), 4, 8,
            {"unknown kind", "\"reed\"", "read", "power-cycle-verify", "prompt"});
        row("unknown key in a step", step("kind = \"read\"\ncuont = 5\n"), 5, 1,
            {"step 1:", "unknown key", "\"cuont\"", "count"});
        row("step name empty", step("kind = \"store\"\nname = \"\"\n"), 5, 8,
            {"\"name\"", "empty"});
        row("repeat 0", step("kind = \"store\"\nrepeat = 0\n"), 5, 10, {"\"repeat\"", "1 to 1000"});
        row("repeat a float", step("kind = \"store\"\nrepeat = 2.0\n"), 5, 10,
            {"\"repeat\"", "whole number"});
        row("timeout_s 0", step("kind = \"store\"\ntimeout_s = 0\n"), 5, 13,
            {"\"timeout_s\"", "more than 0"});
        row("timeout_s above a day", step("kind = \"store\"\ntimeout_s = 86400.5\n"), 5, 13,
            {"\"timeout_s\"", "86400"});
        row("timeout_s infinite", step("kind = \"store\"\ntimeout_s = inf\n"), 5, 13,
            {"\"timeout_s\"", "finite"});
        row("on_failure retry", step("kind = \"store\"\non_failure = \"retry\"\n"), 5, 14,
            {"\"on_failure\"", "\"retry\"", "\"continue\""});
        // Limits.
        row("unknown measurement names the kind's",
            step("kind = \"read\"\nlimits.position = { high = 1 }\n"), 5, 8,
            {"unknown measurement", "\"position\"", "position_deg", "crc_error_count"});
        row("measurement of a kind without any",
            step("kind = \"store\"\nlimits.done = { high = 1 }\n"), 5, 8,
            {"\"done\"", "no measurements"});
        row("limits the wrong way round",
            step("kind = \"read\"\nlimits.error_count = { low = 5, high = 1 }\n"), 5, 8,
            {"limits.error_count", "wrong way round"});
        row("marginal too wide",
            step("kind = \"signal\"\nlimits.signal_level = { low = 0, high = 10, marginal = 6 }\n"),
            5, 56, {"limits.signal_level.marginal", "too wide"});
        row("marginal negative",
            step("kind = \"signal\"\nlimits.air_gap_um = { high = 400, marginal = -1 }\n"), 5, 46,
            {"limits.air_gap_um.marginal", "0 or more"});
        // A number in a message is the one the plan gives, every digit of it.
        row("limits the wrong way round by a hair",
            step("kind = \"signal\"\nlimits.signal_level = { low = 1199.99999999, high = "
                 "1199.9999999 }\n"),
            5, 8, {"low 1199.99999999 ", "high 1199.9999999)"});
        row("marginal too wide by a hair",
            step("kind = \"signal\"\nlimits.signal_level = { low = 0, high = "
                 "0.30000000000000004, marginal = 0.2 }\n"),
            5, 73, {"0.2 is too wide", "high 0.30000000000000004"});
        row("limit without low or high",
            step("kind = \"read\"\nlimits.error_count = { marginal = 1 }\n"), 5, 8,
            {"limits.error_count", "\"low\", \"high\""});
        row("limit not a table", step("kind = \"read\"\nlimits.error_count = 0\n"), 5, 22,
            {"limits.error_count", "a table"});
        row("limits not a table", step("kind = \"read\"\nlimits = 0\n"), 5, 10,
            {"\"limits\"", "a table"});
        row("unknown key in a limit",
            step("kind = \"read\"\nlimits.error_count = { high = 0, hihg = 1 }\n"), 5, 34,
            {"\"hihg\"", "limits.error_count"});
        // The kinds' own keys.
        row("string for integer", step("kind = \"read\"\ncount = \"100\"\n"), 5, 9,
            {"\"count\"", "an integer", "a string"});
        row("float for integer", step("kind = \"read\"\ncount = 2.5\n"), 5, 9,
            {"\"count\"", "whole number", "2.5"});
        row("whole float for integer", step("kind = \"noise\"\nsamples = 100.0\n"), 5, 11,
            {"\"samples\"", "whole number"});
        row("bool for number", step("kind = \"power\"\nvolt = true\n"), 5, 8,
            {"\"volt\"", "a number", "true or false"});
        row("string for boolean", step("kind = \"identify\"\nexpect_multiturn = \"yes\"\n"), 5, 20,
            {"\"expect_multiturn\"", "true or false"});
        row("date for text", step("kind = \"identify\"\nexpect_part = 1979-05-27\n"), 5, 15,
            {"\"expect_part\"", "a string", "date"});
        row("below range", step("kind = \"read\"\ncount = 0\n"), 5, 9,
            {"\"count\"", "1 to 1000000", "not 0"});
        row("above range", step("kind = \"config\"\nmultiturn_error_arc = 256\n"), 5, 23,
            {"\"multiturn_error_arc\"", "0 to 255"});
        // The encoder calibrates over whole degrees for 1 to 40 s: nothing it
        // would round or cut passes.
        row("arc below range", step("kind = \"calibrate\"\narc = 9\n"), 5, 7,
            {"\"arc\"", "10 to 360"});
        row("arc with a fraction", step("kind = \"calibrate\"\narc = 90.5\n"), 5, 7,
            {"\"arc\"", "whole number"});
        row("calibration time-out above 40 s", step("kind = \"calibrate\"\ntimeout = 41\n"), 5, 11,
            {"\"timeout\"", "1 to 40"});
        row("signal level average of too few samples",
            step("kind = \"noise\"\nsamples = 99\nlimits.signal_level_average = { low = 10 }\n"), 5,
            11, {"\"signal_level_average\"", "at least 100"});
        row("volt 4", step("kind = \"power\"\nvolt = 4\n"), 5, 8, {"\"volt\"", "3.3 or 5"});
        row("missing required key", step("kind = \"spi\"\nncs_delay_us = 10\n"), 3, 1,
            {"missing \"clock\"", "spi"});
        row("missing prompt text", step("kind = \"prompt\"\n"), 3, 1, {"missing \"text\""});
        row("empty prompt text", step("kind = \"prompt\"\ntext = \"  \"\n"), 5, 8,
            {"\"text\"", "empty"});
        row("config without a setting", step("kind = \"config\"\nname = \"nothing\"\n"), 3, 1,
            {"config", "at least one setting", "position_filter"});
    }

    void badPlan() {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QStringList, words);
        const PlanParse parse = ParsePlan(text, QStringLiteral("plan.toml"));
        QVERIFY(!parse.Ok());
        QVERIFY2(parse.problems.size() == 1, qPrintable(problemsText(parse)));
        const PlanProblem& problem = parse.problems.first();
        QCOMPARE(problem.line, line);
        QCOMPARE(problem.column, column);
        for (const QString& word : words)
            QVERIFY2(problem.message.contains(word), qPrintable(problem.message + " / " + word));
    }

    void everyMistakeIsReportedInFileOrder() {
        // toml++ keeps keys alphabetically; the problems still come in the
        // order of the file.
        const QByteArray text = "name = \"\"\n"      // 1
                                "version = 2\n"      // 2
                                "colour = \"red\"\n" // 3
                                "[[steps]]\n"        // 4
                                "kind = \"read\"\n"  // 5
                                "repeat = 0\n"       // 6
                                "count = 0\n"        // 7
                                "[[steps]]\n"        // 8
                                "kind = \"spi\"\n"   // 9
                                "[[steps]]\n"        // 10
                                "kind = \"nope\"\n"  // 11
                                "[[steps]]\n"        // 12
                                "kind = \"read\"\n"  // 13
                                "zeta = 1\n"         // 14
                                "alpha = 1\n";       // 15
        const PlanParse parse = ParsePlan(text, QStringLiteral("plan.toml"));
        QList<int> lines;
        for (const PlanProblem& problem : parse.problems)
            lines << problem.line;
        QCOMPARE(lines, (QList<int>{1, 2, 3, 6, 7, 8, 11, 14, 15}));
        QVERIFY(parse.problems[3].message.startsWith(QStringLiteral("step 1: \"repeat\"")));
        QVERIFY(parse.problems[5].message.startsWith(QStringLiteral("step 2: missing \"clock\"")));
        QVERIFY(parse.problems[7].message.contains(QStringLiteral("\"zeta\"")));
        QCOMPARE(parse.plan.steps.size(), 4);
    }

    void problemText_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::newRow("line and column") << 12 << 3 << "plan.toml:12:3: wrong";
        QTest::newRow("line only") << 12 << 0 << "plan.toml:12: wrong";
        QTest::newRow("the whole file") << 0 << 0 << "plan.toml: wrong";
    }

    void problemText() {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, text);
        const PlanProblem problem{line, column, QStringLiteral("wrong")};
        QCOMPARE(problem.Text(QStringLiteral("plan.toml")), text);
    }

    void sha256IsOfTheFileBytes() {
        // The SHA-256 test vector of "abc": kept even for text that is no plan.
        QCOMPARE(
            ParsePlan("abc", {}).plan.sha256,
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        const QByteArray plan = withHeader("[[steps]]\nkind = \"store\"\n");
        const QString sha = ParsePlan(plan, {}).plan.sha256;
        QCOMPARE(sha.size(), 64);
        QCOMPARE(ParsePlan(plan + "# a comment\n", {}).plan.sha256 == sha, false);
    }

    void readPlanFileReadsTheFile() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("plan.toml"));
        const QByteArray text = withHeader("[[steps]]\nkind = \"store\"\n");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        const PlanParse parse = ReadPlanFile(path);
        QVERIFY2(parse.Ok(), qPrintable(problemsText(parse)));
        QCOMPARE(parse.plan.fileName, path);
        QCOMPARE(parse.plan.sha256, ParsePlan(text, {}).plan.sha256);
    }

    void unreadableFileIsOneProblem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.toml"
                                 << "cannot read";
        QTest::newRow("a folder") << ""
                                  << "folder";
        QTest::newRow("too large") << "large.toml"
                                   << "larger than";
    }

    void unreadableFileIsOneProblem() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        const QString path = name.isEmpty() ? folder.path() : folder.filePath(name);
        if (name == QLatin1String("large.toml")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(1024 * 1024 + 1, '#'));
        }
        const PlanParse parse = ReadPlanFile(path);
        QCOMPARE(parse.problems.size(), 1);
        QCOMPARE(parse.problems.first().line, 0);
        QVERIFY2(parse.problems.first().message.contains(reason),
                 qPrintable(parse.problems.first().message));
        QCOMPARE(parse.plan.fileName, path);
    }

    void examplePlanParses() {
        const PlanParse parse = ReadPlanFile(QStringLiteral(Q714_EXAMPLE_PLAN));
        QVERIFY2(parse.Ok(), qPrintable(problemsText(parse)));
        QList<StepKind> kinds;
        for (const PlanStep& step : parse.plan.steps)
            kinds << step.kind;
        const QList<StepKind> expected = {
            StepKind::Identify, StepKind::Config, StepKind::Store, StepKind::PowerCycleVerify,
            StepKind::Read,     StepKind::Signal, StepKind::Noise, StepKind::ErrorMap};
        QCOMPARE(kinds, expected);
        const PlanStep& identify = parse.plan.steps.first();
        QVERIFY(identify.Text("expect_part").contains(QLatin1Char('*')));
        QCOMPARE(identify.Integer("expect_type"), qint64(2));
        QCOMPARE(identify.Integer("expect_resolution_bits"), qint64(17));
        QVERIFY(parse.plan.steps[5].limits.value(Measure::AirGapUm).marginal > 0);
    }

    void stepKindTableIsConsistent() {
        QStringList names;
        for (const StepKindEntry& entry : StepKinds()) {
            names << QLatin1String(entry.name);
            QCOMPARE(FindStepKind(QLatin1String(entry.name)), &entry);
            QCOMPARE(EntryOf(entry.kind).name, entry.name);
            QStringList keys;
            for (const ParameterEntry& parameter : entry.parameters) {
                keys << QLatin1String(parameter.key);
                const QVariant value = parameter.defaultValue;
                if (!value.isValid())
                    continue;
                QVERIFY2(!parameter.required, parameter.key);
                const bool numeric = parameter.type == ParameterType::Integer ||
                                     parameter.type == ParameterType::Number;
                if (numeric)
                    QVERIFY2(value.toDouble() >= parameter.minimum &&
                                 value.toDouble() <= parameter.maximum,
                             parameter.key);
            }
            QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), keys.size());
        }
        QCOMPARE(QSet<QString>(names.cbegin(), names.cend()).size(), names.size());
        QVERIFY(!FindStepKind(QStringLiteral("Read")));
    }

    void documentNamesEveryKindKeyAndMeasurement() {
        QFile file(QStringLiteral(Q714_PLANS_DOC));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString document = QString::fromUtf8(file.readAll());
        const Rows plan = rowsOfSection(document, QStringLiteral("## The plan"));
        for (const char* key : {"name", "version", "description", "steps"})
            QVERIFY2(plan.contains(QLatin1String(key)), key);
        const Rows common = rowsOfSection(document, QStringLiteral("## Keys of every step"));
        for (const char* key : {"kind", "name", "timeout_s", "repeat", "on_failure", "limits"})
            QVERIFY2(common.contains(QLatin1String(key)), key);
        const Rows limits =
            rowsOfSection(document, QStringLiteral("### Limits and the marginal band"));
        for (const char* key : {"low", "high", "marginal"})
            QVERIFY2(limits.contains(QLatin1String(key)), key);
        for (const char* outcome : {"`PASS`", "`FAIL`", "`ERROR`", "`ABORTED`"})
            QVERIFY2(document.contains(QLatin1String(outcome)), outcome);
        for (const StepKindEntry& entry : StepKinds())
            checkKindSection(document, entry);
    }

private:
    void checkKindSection(const QString& document, const StepKindEntry& entry) {
        const QString heading = QStringLiteral("### `%1`").arg(QLatin1String(entry.name));
        QVERIFY2(document.contains(QLatin1Char('\n') + heading + QLatin1Char('\n')),
                 qPrintable(heading));
        const Rows rows = rowsOfSection(document, heading);
        for (const ParameterEntry& parameter : entry.parameters) {
            const QString where = heading + QStringLiteral(" key ") + QLatin1String(parameter.key);
            const QStringList cells = rows.value(QLatin1String(parameter.key));
            QVERIFY2(cells.size() >= 4, qPrintable(where));
            QVERIFY2(cells[0] == parameterTypeWord(parameter.type), qPrintable(where));
            if (parameter.type == ParameterType::Integer || parameter.type == ParameterType::Number)
                QVERIFY2(cells[1].contains(numberWord(parameter.minimum)) &&
                             cells[1].contains(numberWord(parameter.maximum)),
                         qPrintable(where + " range"));
            QVERIFY2(cells[2] == defaultWord(parameter), qPrintable(where + " default"));
        }
        for (const MeasurementEntry& measurement : entry.measurements) {
            const QString where =
                heading + QStringLiteral(" measurement ") + QLatin1String(measurement.name);
            const QStringList cells = rows.value(QLatin1String(measurement.name));
            QVERIFY2(!cells.isEmpty(), qPrintable(where));
            const QString unit = QString::fromUtf8(measurement.unit);
            QVERIFY2(cells[0] == (unit.isEmpty() ? QStringLiteral("—") : unit),
                     qPrintable(where + " unit"));
        }
        QCOMPARE(rows.size(), entry.parameters.size() + entry.measurements.size());
    }

    static QString defaultWord(const ParameterEntry& parameter) {
        if (parameter.required)
            return QStringLiteral("required");
        const QVariant value = parameter.defaultValue;
        if (!value.isValid())
            return QStringLiteral("—");
        if (parameter.type == ParameterType::Boolean)
            return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        return numberWord(value.toDouble());
    }
};

QTEST_GUILESS_MAIN(TestTestPlan)
#include "test_test_plan.moc"
