#include "SoftwareUpdateCheck.h"

#include "Orodja.h"
#include "SystemIdentity.h"
#include "UpdateNetwork.h"
#include "UpdateSettings.h"

const QString UpdateFamilyName = QStringLiteral("Tamberlow");
const QString UpdateProgramKey = QStringLiteral("Tamberlow_for_Q714-7R_Ulvax");
const QString UpdatePreferenceSuffix = QStringLiteral("_UpdateAllowed");

QString ProgramKey = UpdateFamilyName;
TOwnVersion OwnVersion;
std::function<void(const QString&)> UpdateStatus;

namespace {

QDate todayOverride;

const QString WriteFailedText =
    QStringLiteral("Failed to create or open the registry key for writing.");
const QString BrowserFailedText = QStringLiteral("Could not open the default web browser.");

// The four answers of the consent and the new-version questions.
enum Choice { Yes = FirstChoice, SkipThisTime, SkipForWeek, NeverAskAgain };
// The two answers of the retry questions.
enum RetryChoice { Retry = FirstChoice, NeverConnectAgain };

void status(const QString& text) {
    if (UpdateStatus)
        UpdateStatus(text);
}

QString preferenceName() {
    return ProgramKey + UpdatePreferenceSuffix;
}

// "Yes, check" and the skips of the first question as a preference value.
qint32 askConsent(UserInteraction& interaction) {
    status(QStringLiteral("Update: perferences not defined"));
    const int choice = AskChoice(
        interaction, QStringLiteral("Tamberlow: Software update?"),
        QStringLiteral("Check for a new Tamberlow software version?"),
        QStringLiteral("Is it allowed to connect to the internet to check if a new software "
                       "version is available?"),
        TaskIcon::Information,
        {QStringLiteral("Yes, check"), QStringLiteral("Skip this time"),
         QStringLiteral("Skip for 1 week"), QStringLiteral("Never ask again")});
    switch (choice) {
    case Yes:
        return PreferenceCheck;
    case SkipForWeek:
        return TodayNumber() + 7;
    case NeverAskAgain:
        return PreferenceNever;
    default:
        return PreferenceNotDefined;
    }
}

bool checkIsDue(qint32 preference) {
    return preference == PreferenceCheck ||
           (preference > PreferenceLastNonDate && TodayNumber() > preference);
}

// After a failed probe or download: "Never connect to the internet again"
// stores "never check".
void askRetry(UserInteraction& interaction, const QString& caption, const QString& title) {
    const int choice = AskChoice(
        interaction, caption, title, QStringLiteral("Should we retry next time?"),
        TaskIcon::Warning,
        {QStringLiteral("Yes, retry"), QStringLiteral("Never connect to the internet again")});
    if (choice == NeverConnectAgain)
        WriteUpdatePreference(PreferenceNever, interaction);
}

bool probeInternet(const UpdateAddresses& addresses, UserInteraction& interaction) {
    status(QStringLiteral("Update: Checking internet connection..."));
    bool reachable = false;
    if (!addresses.probesProblem.isEmpty())
        status(QStringLiteral("Check internet: ") + addresses.probesProblem);
    for (const ProbeAddress& probe : addresses.probes) {
        QString error;
        reachable = InternetReachable(probe, error);
        if (ApplicationTerminating())
            return false;
        if (reachable)
            break;
        status(QStringLiteral("Check internet: ") + error);
    }
    if (!reachable) {
        status(QStringLiteral("Update: No access to the internet!"));
        askRetry(interaction, QStringLiteral("Tamberlow: No access to the internet"),
                 QStringLiteral("Unable to connect to the internet."));
    }
    return reachable;
}

bool fetchManifest(const UpdateAddresses& addresses, QStringList& lines,
                   UserInteraction& interaction) {
    status(QStringLiteral("Update: Downloading version file..."));
    QString error = addresses.manifestProblem;
    const bool downloaded =
        error.isEmpty() &&
        DownloadManifest(addresses.manifest, addresses.trustedCaFile, lines, error);
    if (ApplicationTerminating())
        return false;
    if (!downloaded) {
        status(QStringLiteral("Download file: ") + error);
        status(QStringLiteral("Update: Downloading version file failed!"));
        askRetry(interaction, QStringLiteral("Tamberlow: Internet connection failed"),
                 QStringLiteral("Unable to load the version file."));
    }
    return downloaded;
}

// Offers the newer version; false when the check must end at once (the
// browser could not be opened).
bool offerDownload(const QString& link, UserInteraction& interaction) {
    status(QStringLiteral("Update: Newer software is available"));
    const int choice =
        AskChoice(interaction, QStringLiteral("Tamberlow: New version found"),
                  QStringLiteral("New Tamberlow app version is available."),
                  QStringLiteral("Do you want to download it?"), TaskIcon::Information,
                  {QStringLiteral("Yes, download"), QStringLiteral("Skip this time"),
                   QStringLiteral("Skip for 1 week"), QStringLiteral("Never ask again")});
    if (choice == Yes) {
        const LinkOpening opening = OpenLink(link, interaction);
        if (opening == LinkOpening::Opened)
            return true;
        if (opening == LinkOpening::BrowserFailed) {
            interaction.showError(BrowserFailedText);
            return false;
        }
    } else if (choice == SkipForWeek) {
        WriteUpdatePreference(TodayNumber() + 7, interaction);
    } else if (choice == NeverAskAgain) {
        WriteUpdatePreference(PreferenceNever, interaction);
    }
    status(QStringLiteral("Update skipped."));
    return true;
}

// One line of this program; false when the check must end at once.
bool analyseProgramLine(const QStringList& fields, UserInteraction& interaction) {
    const QStringList parts = SplitQuoted(fields[1], QLatin1Char('.'));
    if (parts.size() != 4) {
        status(QStringLiteral("Update: Wrong version format."));
        return true;
    }
    WriteUpdatePreference(TodayNumber(), interaction);
    const PublishedVersion published = PublishedVersionNumbers(parts);
    if (IsNewerVersion(published, OwnVersion))
        return offerDownload(fields[2], interaction);
    if (IsSameVersion(published, OwnVersion))
        status(QStringLiteral("Update: This is the latest version."));
    else
        status(QStringLiteral("Update: There is no newer version. Latest published is ") +
               PrintableText(parts.join(QLatin1Char('.'))));
    return true;
}

// Every line in file order, also after a match.
void analyseManifest(const QStringList& lines, UserInteraction& interaction) {
    status(QStringLiteral("Update: Analyzing version file..."));
    bool found = false;
    for (const QString& line : lines) {
        if (ApplicationTerminating())
            return;
        const QStringList fields = SplitQuoted(line, QLatin1Char(';'));
        if (fields.size() != 3) {
            status(QStringLiteral("Update: Wrong file format."));
            continue;
        }
        if (!fields[0].contains(ProgramKey))
            continue;
        found = true;
        if (!analyseProgramLine(fields, interaction))
            return;
    }
    if (!found)
        status(QStringLiteral("Update: Program name not found on the list."));
}

} // namespace

void ResetSoftwareUpdateCheckState() {
    ProgramKey = UpdateFamilyName;
    OwnVersion = ParseOwnVersion(OwnVersionText());
    UpdateStatus = nullptr;
    todayOverride = QDate();
    ResetUpdateNetworkState();
}

void UpdateCheckRun(UserInteraction& interaction) {
    status(QStringLiteral("Update: Reading perferences..."));
    qint32 preference = PreferenceNotDefined;
    ReadUpdatePreference(preference);
    if (preference == PreferenceNotDefined) {
        preference = askConsent(interaction);
        if (preference >= 0)
            WriteUpdatePreference(preference, interaction);
    }
    status(QString());
    if (!checkIsDue(preference)) {
        status(QStringLiteral("Update check skipped."));
        return;
    }
    const UpdateAddresses addresses = ReadUpdateAddresses();
    QStringList lines;
    if (probeInternet(addresses, interaction) && fetchManifest(addresses, lines, interaction))
        analyseManifest(lines, interaction);
}

void ReadUpdatePreference(qint32& value) {
    const auto store = OpenUpdateSettings();
    const QVariant stored = store->value(preferenceName());
    bool isNumber = false;
    const qint32 number = stored.toInt(&isNumber);
    if (store->status() == QSettings::NoError && stored.isValid() && isNumber)
        value = number;
}

bool WriteUpdatePreference(qint32 value, UserInteraction& interaction) {
    const auto store = OpenUpdateSettings();
    if (store->isWritable()) {
        store->setValue(preferenceName(), value);
        store->sync();
    }
    if (!store->isWritable() || store->status() != QSettings::NoError) {
        interaction.showMessage(WriteFailedText);
        return false;
    }
    return true;
}

void ResetUpdatePreference(UserInteraction& interaction) {
    WriteUpdatePreference(PreferenceNotDefined, interaction);
    status(QStringLiteral("Update: Setting perferences."));
}

qint32 TodayNumber() {
    const QDate today = todayOverride.isValid() ? todayOverride : QDate::currentDate();
    bool isNumber = false;
    const qint32 number = today.toString(QStringLiteral("yyyyMMdd")).toInt(&isNumber);
    return isNumber ? number : 999;
}

void OverrideTodayDate(const QDate& date) {
    todayOverride = date;
}

int AskChoice(UserInteraction& interaction, const QString& caption, const QString& title,
              const QString& text, TaskIcon icon, const QStringList& buttons) {
    if (ApplicationTerminating())
        return 0;
    const int index = interaction.askTask({caption, title, text, buttons, icon});
    return index >= 0 && index < buttons.size() ? FirstChoice + index : NoChoice;
}

LinkOpening OpenLink(const QString& link, UserInteraction& interaction) {
    QString refusal;
    const QUrl url = SafeDownloadLink(link, refusal);
    if (url.isEmpty()) {
        status(QStringLiteral("Update: The download link was not opened: ") + refusal +
               QLatin1Char('.'));
        return LinkOpening::Refused;
    }
    return interaction.openLink(url) ? LinkOpening::Opened : LinkOpening::BrowserFailed;
}
