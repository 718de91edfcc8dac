#include "CommandLine.h"

#include "SystemIdentity.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

const char* Description =
    R"(Tests and configures Ulvax-2 & Ulvax-4 absolute rotary encoders (SPI) through
the Q714-7R USB interface adapter.

Searches the USB serial ports every second until an adapter answers; simulated
adapters that q714-sim announces in $XDG_RUNTIME_DIR/q714-7r/ (or
/tmp/q714-7r-<uid>/) are searched as well. Opening the adapter needs access to
its port: the package's udev rule gives it to the user at the seat, otherwise
membership of the dialout group does.)";

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QString::fromUtf8(Description));
    // Qt's own options are single-dash words (-platform, -reverse): read them
    // as words, not as bundles of one-letter options such as -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

void SetApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("Ulvax SPI - JQ test"));
    QCoreApplication::setOrganizationName(QStringLiteral("Norvane"));
    QCoreApplication::setApplicationVersion(OwnVersionText());
    // Desktops match the running window to its menu entry and icon by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("q714-7r-dravonel-spi"));
}

std::optional<int> AnswerInformationRequest(int& argc, char** argv) {
    // Without arguments there is nothing to answer, and the window starts
    // without building and tearing down a core application first.
    if (argc < 2)
        return std::nullopt;
    // A core application reads the arguments without connecting to a display.
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    // Errors wait for CheckCommandLine: until the GUI application has taken
    // its own options out, -platform and the like look unknown here.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}

std::optional<int> CheckCommandLine(const QApplication& application) {
    QCommandLineParser parser;
    describe(parser);
    // An unknown option ends the program here, with Qt's message, before any
    // window or port is open; returning lets the application close in order.
    if (!parser.parse(application.arguments())) {
        print(stderr, QStringLiteral("%1: %2\n")
                          .arg(QCoreApplication::applicationName(), parser.errorText()));
        return 1;
    }
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(application); // prints the help with Qt's own options and exits
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("%1: unexpected argument '%2' (the program takes none; "
                                     "see --help)\n")
                          .arg(QCoreApplication::applicationName(),
                               parser.positionalArguments().constFirst()));
        return 1;
    }
    return std::nullopt;
}
