// The adapter's udev rule: its syntax, and which devices it applies to. udev
// itself cannot check a rule file offline here (Debian 12's udevadm has no
// "verify"), so the suite reads the rules the way udev does for the keys the
// file uses, and refuses keys it does not know.
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Pair {
    QString key; // with its attribute in braces: ATTRS{product}
    QString op;  // ==, !=, =, +=
    QString value;
    bool IsMatch() const { return op == QLatin1String("==") || op == QLatin1String("!="); }
};
using Rule = QList<Pair>;

// A tty device as udev sees it: its own name and subsystem, and the USB
// device above it (none for a built-in port).
struct TtyDevice {
    QString kernel;
    QString subsystem = QStringLiteral("tty");
    bool onUsb = true;
    QMap<QString, QString> usbAttributes; // product, idVendor, ...
};

const QRegularExpression& pairPattern() {
    static const QRegularExpression pattern(QString::fromUtf8(
        "^\\s*([A-Z_]+(?:\\{[A-Za-z0-9_]+\\})?)\\s*(==|!=|\\+=|=)\\s*\"([^\"]*)\"\\s*"));
    return pattern;
}

// One rule line as its comma-separated pairs; an empty list with ok false
// when the line is not of that form.
Rule parseRule(const QString& line, bool& ok) {
    Rule rule;
    QStringView rest(line);
    ok = false;
    while (true) {
        const QRegularExpressionMatch m = pairPattern().match(rest);
        if (!m.hasMatch())
            return {};
        rule.append({m.captured(1), m.captured(2), m.captured(3)});
        rest = rest.mid(m.capturedLength());
        if (rest.trimmed().isEmpty()) {
            ok = true;
            return rule;
        }
        if (!rest.startsWith(QLatin1Char(',')))
            return {};
        rest = rest.mid(1);
    }
}

QStringList ruleFileLines() {
    QFile file(QStringLiteral(Q714_UDEV_RULE_FILE));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

bool isCommentOrBlank(const QString& line) {
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char('#'));
}

QList<Rule> rulesOfFile() {
    QList<Rule> rules;
    for (const QString& line : ruleFileLines()) {
        bool ok = false;
        if (!isCommentOrBlank(line))
            rules.append(parseRule(line, ok));
    }
    return rules;
}

// udev's shell-style patterns: * any text, ? one character, [a-z] and [!a-z]
// one character of (or not of) a set; everything else stands for itself.
bool globMatches(const QString& pattern, const QString& value) {
    QString regex;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('*')) {
            regex += QStringLiteral(".*");
        } else if (c == QLatin1Char('?')) {
            regex += QLatin1Char('.');
        } else if (c == QLatin1Char('[')) {
            const int end = pattern.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                return false;
            QString set = pattern.mid(i + 1, end - i - 1);
            if (set.startsWith(QLatin1Char('!')))
                set[0] = QLatin1Char('^');
            regex += QLatin1Char('[') + set + QLatin1Char(']');
            i = end;
        } else {
            regex += QRegularExpression::escape(QString(c));
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(regex)).match(value).hasMatch();
}

// Whether one match pair holds for the device; keys the suite does not know
// fail the test instead of being guessed at.
bool pairHolds(const Pair& pair, const TtyDevice& device) {
    bool holds = false;
    if (pair.key == QLatin1String("SUBSYSTEM"))
        holds = globMatches(pair.value, device.subsystem);
    else if (pair.key == QLatin1String("KERNEL"))
        holds = globMatches(pair.value, device.kernel);
    else if (pair.key == QLatin1String("SUBSYSTEMS"))
        holds = device.onUsb && globMatches(pair.value, QStringLiteral("usb"));
    else if (pair.key.startsWith(QLatin1String("ATTRS{"))) {
        const QString attribute = pair.key.mid(6).chopped(1);
        holds = device.onUsb && device.usbAttributes.contains(attribute) &&
                globMatches(pair.value, device.usbAttributes.value(attribute));
    } else {
        qWarning("match key %s is not modelled by this suite", qPrintable(pair.key));
        return false;
    }
    return pair.op == QLatin1String("==") ? holds : !holds;
}

bool ruleApplies(const Rule& rule, const TtyDevice& device) {
    for (const Pair& pair : rule)
        if (pair.IsMatch() && !pairHolds(pair, device))
            return false;
    return true;
}

bool fileApplies(const TtyDevice& device) {
    for (const Rule& rule : rulesOfFile())
        if (ruleApplies(rule, device))
            return true;
    return false;
}

QStringList assignmentsOf(const QList<Rule>& rules) {
    QStringList texts;
    for (const Rule& rule : rules)
        for (const Pair& pair : rule)
            if (!pair.IsMatch())
                texts << pair.key + pair.op + QLatin1Char('"') + pair.value + QLatin1Char('"');
    return texts;
}

TtyDevice usbTty(const QString& kernel, const QString& product) {
    TtyDevice device;
    device.kernel = kernel;
    device.usbAttributes = {{QStringLiteral("product"), product},
                            {QStringLiteral("idVendor"), QStringLiteral("1209")},
                            {QStringLiteral("idProduct"), QStringLiteral("0001")}};
    return device;
}

} // namespace

class TestUdevRule : public QObject {
    Q_OBJECT

private slots:
    void everyLineIsACommentOrARuleOfPairs() {
        const QStringList lines = ruleFileLines();
        QVERIFY2(!lines.isEmpty(), "rule file missing or empty");
        int rules = 0;
        for (int i = 0; i < lines.size(); ++i) {
            if (isCommentOrBlank(lines[i]))
                continue;
            bool ok = false;
            parseRule(lines[i], ok);
            QVERIFY2(ok, qPrintable(QStringLiteral("line %1: %2").arg(i + 1).arg(lines[i])));
            ++rules;
        }
        QCOMPARE(rules, 1);
    }

    void pairSyntaxIsCheckedStrictly() {
        bool ok = true;
        parseRule(QString::fromUtf8(R"(SUBSYSTEM=="tty" TAG+="uaccess")"), ok);
        QVERIFY2(!ok, "a missing comma passes");
        parseRule(QString::fromUtf8(R"(SUBSYSTEM=="tty", TAG+=uaccess)"), ok);
        QVERIFY2(!ok, "an unquoted value passes");
        parseRule(QString::fromUtf8(R"(SUBSYSTEM=="tty", )"), ok);
        QVERIFY2(!ok, "a trailing comma passes");
        parseRule(QString::fromUtf8(R"(ATTRS{product}=="*Q714*",ENV{X}="1")"), ok);
        QVERIFY(ok);
    }

    void givesSeatAccessAndKeepsModemManagerAway() {
        const QStringList assignments = assignmentsOf(rulesOfFile());
        QVERIFY2(assignments.contains(QString::fromUtf8(R"(TAG+="uaccess")")),
                 qPrintable(assignments.join(' ')));
        QVERIFY(assignments.contains(QString::fromUtf8(R"(GROUP="dialout")")));
        QVERIFY(assignments.contains(QString::fromUtf8(R"(MODE="0660")")));
        QVERIFY(assignments.contains(QString::fromUtf8(R"(ENV{ID_MM_DEVICE_IGNORE}="1")")));
        // Nothing else: the rule neither renames nor runs anything.
        QCOMPARE(assignments.size(), 4);
    }

    void everyRuleThatAssignsNeedsTheAdapterProductString() {
        for (const Rule& rule : rulesOfFile()) {
            bool assigns = false, byProduct = false;
            for (const Pair& pair : rule) {
                assigns |= !pair.IsMatch();
                byProduct |= pair.key == QLatin1String("ATTRS{product}") &&
                             pair.op == QLatin1String("==") && pair.value.contains("Q714");
            }
            QVERIFY(!assigns || byProduct);
        }
    }

    void appliesToTheAdapter_data() {
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<QString>("product");
        QTest::newRow("first port") << "ttyACM0"
                                    << "Q714-7R";
        QTest::newRow("tenth port") << "ttyACM10"
                                    << "Q714-7R";
        QTest::newRow("longer product text") << "ttyACM1"
                                             << "Norvane Q714-7R SPI interface";
    }
    void appliesToTheAdapter() {
        QFETCH(QString, kernel);
        QFETCH(QString, product);
        QVERIFY(fileApplies(usbTty(kernel, product)));
    }

    void leavesOtherSerialDevicesAlone_data() {
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<QString>("product");
        QTest::addColumn<bool>("onUsb");
        QTest::newRow("other CDC-ACM board") << "ttyACM0"
                                             << "Arduino Uno" << true;
        QTest::newRow("USB modem") << "ttyACM2"
                                   << "Sierra Wireless EM7455" << true;
        QTest::newRow("FTDI cable") << "ttyUSB0"
                                    << "FT232R USB UART" << true;
        QTest::newRow("adapter name on a non-ACM port") << "ttyUSB1"
                                                        << "Q714-7R" << true;
        QTest::newRow("built-in port") << "ttyS0"
                                       << "" << false;
        QTest::newRow("no product string") << "ttyACM3"
                                           << "" << true;
    }
    void leavesOtherSerialDevicesAlone() {
        QFETCH(QString, kernel);
        QFETCH(QString, product);
        QFETCH(bool, onUsb);
        TtyDevice device = usbTty(kernel, product);
        device.onUsb = onUsb;
        if (product.isEmpty())
            device.usbAttributes.remove(QStringLiteral("product"));
        QVERIFY(!fileApplies(device));
    }

    void leavesTheAdaptersOtherInterfacesAlone() {
        // The same USB device may offer more than its serial port (a USB
        // node, a network or storage function): only the tty is touched.
        TtyDevice node = usbTty(QStringLiteral("1-2"), QStringLiteral("Q714-7R"));
        node.subsystem = QStringLiteral("usb");
        QVERIFY(!fileApplies(node));
    }

    void explainsMatchingByVendorAndProductId() {
        const QString text = ruleFileLines().join('\n');
        QVERIFY(text.contains(QStringLiteral("ATTRS{idVendor}")));
        QVERIFY(text.contains(QStringLiteral("ATTRS{idProduct}")));
    }
};

QTEST_GUILESS_MAIN(TestUdevRule)
#include "test_udev_rule.moc"
