#pragma once
// The once-per-start check for a newer release of the tool. The user's
// consent and postponements are one integer preference; the check probes the
// internet, downloads the maker's version file over HTTPS, finds this
// program's line, compares versions and offers to open the download link.
// Every step reports a status text through UpdateStatus.

#include "UpdateManifest.h"
#include "UserInteraction.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>

// The program key from program start, and the one the check switches to.
extern const QString UpdateFamilyName; // "Tamberlow"
extern const QString UpdateProgramKey; // "Tamberlow_for_Q714-7R_Ulvax"
// The preference's value name is the program key followed by this.
extern const QString UpdatePreferenceSuffix; // "_UpdateAllowed"

// Unit state.
extern QString ProgramKey;
extern TOwnVersion OwnVersion; // the running program's version
// Where status texts go; empty (nothing happens) until the start-up timer
// sets it to the main window's status procedure.
extern std::function<void(const QString&)> UpdateStatus;

// Preference values. Above PreferenceLastNonDate the value is a date
// YYYYMMDD: check when today's number is greater. Any other value: no check.
constexpr qint32 PreferenceNotDefined = -1;
constexpr qint32 PreferenceNever = 0;
constexpr qint32 PreferenceCheck = 1;
constexpr qint32 PreferenceLastNonDate = 20260101;

// AskChoice's answer for the first button; the next buttons count up.
constexpr int FirstChoice = 100;
// AskChoice's answer when the dialog was closed without a button.
constexpr int NoChoice = -1;

// Start values: the family name as program key, no status procedure, the
// version the build stamps into the program, real dates and time-outs.
void ResetSoftwareUpdateCheckState();

// The whole check, synchronous. Dialogs and messages go to `interaction`.
void UpdateCheckRun(UserInteraction& interaction);

// The stored preference under the current program key; `value` stays as it
// is when there is none or it is not a 32-bit integer.
void ReadUpdatePreference(qint32& value);
// Stores the preference; false after the message box "Failed to create or
// open the registry key for writing.".
bool WriteUpdatePreference(qint32 value, UserInteraction& interaction);
// "Enable update checking": the next start asks again.
void ResetUpdatePreference(UserInteraction& interaction);

// Today's local date as the number YYYYMMDD; 999 when that is not a number.
qint32 TodayNumber();
// Tests fix the date; a null date restores the system's.
void OverrideTodayDate(const QDate& date);

// A task dialog; FirstChoice for the first button, FirstChoice + 1 for the
// second and so on, NoChoice when closed without a button, 0 when it cannot
// be shown because the program is closing.
int AskChoice(UserInteraction& interaction, const QString& caption, const QString& title,
              const QString& text, TaskIcon icon, const QStringList& buttons);

enum class LinkOpening { Opened, Refused, BrowserFailed };
// Opens the download link in the default web browser. Only an https link to
// a host is opened; any other is refused with a status text.
LinkOpening OpenLink(const QString& link, UserInteraction& interaction);
