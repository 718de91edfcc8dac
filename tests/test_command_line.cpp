// The programs' command lines, run as separate processes: --help and
// --version work without a display; anything the program does not take is
// refused before a window opens.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program to its end with its own runtime and settings folders. With
// a display, Qt's offscreen platform stands in for one; without, no variable
// names a display at all.
Run run(const QString& program, const QStringList& arguments, bool display) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (display)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run result;
    // Generous: a program that wrongly opens its window never ends, and is
    // killed here.
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("did not end: ") + process.readAllStandardError();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

const QString Program = QStringLiteral(Q714_PROGRAM_PATH);
const QString Simulator = QStringLiteral(Q714_SIM_PATH);
const QString Version = QStringLiteral(Q714_PROJECT_VERSION);

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void versionWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("--version") << QStringList{"--version"};
        QTest::newRow("-v") << QStringList{"-v"};
        // Qt's own options do not hide it, nor make it reach for a display.
        QTest::newRow("after -platform xcb") << QStringList{"-platform", "xcb", "--version"};
    }
    void versionWithoutDisplay() {
        QFETCH(QStringList, arguments);
        const Run r = run(Program, arguments, false);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("Ulvax SPI - JQ test %1\n").arg(Version));
        QCOMPARE(r.err, QString());
    }

    void helpWithoutDisplay() {
        for (const QString& option : {QStringLiteral("--help"), QStringLiteral("-h")}) {
            const Run r = run(Program, {option}, false);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.out.startsWith(QStringLiteral("Usage: ")), qPrintable(r.out));
            for (const char* text : {"--version", "--help-all", "Q714-7R", "dialout"})
                QVERIFY2(r.out.contains(QLatin1String(text)), text);
            QCOMPARE(r.err, QString());
        }
    }

    void unknownOptionIsRefused() {
        const Run r = run(Program, {"--no-such-option"}, true);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Unknown option 'no-such-option'")),
                 qPrintable(r.err));
    }

    void qtWordOptionsAreNotReadAsLetters() {
        // -reverse holds a "v" and -stylesheet an "h": read letter by letter
        // they would print the version or the help instead of failing here.
        for (const QString& word : {QStringLiteral("-reverse"), QStringLiteral("-stylesheet=x")}) {
            const Run r = run(Program, {word, "--no-such-option"}, true);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
        }
    }

    void argumentIsRefused() {
        const Run r = run(Program, {"/dev/ttyACM0"}, true);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("unexpected argument '/dev/ttyACM0'")),
                 qPrintable(r.err));
    }

    void simulatorVersionAndHelp() {
        Run r = run(Simulator, {"--version"}, false);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("q714-sim %1\n").arg(Version));
        r = run(Simulator, {"--help"}, false);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(QStringLiteral("--version")));
        QVERIFY(r.out.contains(QStringLiteral("--list-models")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
