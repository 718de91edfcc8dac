#pragma once
// What q714 writes to standard output, in the format asked for. A command
// reports items as they come (readings, adapters, points: "items") and one
// result at its end. Every JSON object carries "schema_version": 1.
//
//   text   items and the result as lines for a person
//   json   one document: the result, with its items under the command's
//          items key
//   jsonl  one object per line: every item and progress step, then the result
//   csv    a header and one row per item (the result's fields when there are
//          no items), RFC 4180 quoting, nested fields joined by "."
//
// Items are formatted and written by a writer thread, at the latest 20 ms
// after they come, so that a fast reading loop hands its values over and goes
// on with the next exchange. Every format streams: memory stays flat however
// many items a command reports. The result comes last, when the output
// closes: it says how the command ended, failures included, so that a json
// document is whole and a jsonl stream ends in its result line either way.

#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

enum class OutputFormat { Text, Json, JsonLines, Csv };

inline constexpr int SchemaVersion = 1;

// Parses "text", "json", "jsonl" or "csv".
bool ParseOutputFormat(const QString& name, OutputFormat& format);

// An item and its text line; `json`, when set, is the object's compact
// JSON and stands in for it in json and jsonl.
struct OutputItem {
    QJsonObject object;
    QString text;
    QByteArray json;
};

class OutputFormatter;
class OutputWriter;

class Output {
public:
    // `itemsKey` names the items inside a json result ("readings", ...).
    explicit Output(OutputFormat format, const QString& itemsKey = {});
    ~Output();

    OutputFormat Format() const { return format; }
    // The object with "schema_version" and "type" in front.
    static QJsonObject Tagged(const QString& type, const QJsonObject& fields);
    // Another items key, for a command whose actions differ (before anything
    // is reported).
    void SetItemsKey(const QString& itemsKey);

    // An item of the command's list (a reading, an adapter, a point), with
    // its text line.
    void Item(const QJsonObject& item, const QString& text);
    // The same, built on the writer thread for the output's format: `build`
    // must not touch state that the command goes on changing (capture
    // values, not globals).
    void ItemLater(std::function<OutputItem(OutputFormat)> build);
    // A step of a long operation (jsonl only; the caller draws a bar on a
    // terminal).
    void Progress(const QString& operation, qint64 done, qint64 total);
    // The command's result, with its text lines. It is written when the
    // output closes, once it is known how the command ended.
    void Result(const QJsonObject& result, const QStringList& text);
    // A document of the command's own (a settings file, an export) that
    // stands in for the result; written at once.
    void Document(const QByteArray& bytes);
    // Ends the output of a command that ends with `status`: the result (the
    // command's, or `fallback` when it gave none but failed or left a json
    // document open) gets "complete", "exit_status", "exit_class" and, for a
    // failure, "message"; then waits until everything is written. Returns
    // the exit status: `status`, or ExitFile when standard output could not
    // be written.
    int Close(int status, const QJsonObject& fallback);

    // Several devices' documents at once (json: an array of them).
    static void WriteDocuments(OutputFormat format, const QList<QJsonObject>& documents);
    // The CSV rows of records: a header of every field seen, in the order
    // first seen, then one row per record.
    static QByteArray CsvOf(const QList<QJsonObject>& records);
    // `result` with the fields that say how its command ended with `status`.
    static QJsonObject WithOutcome(QJsonObject result, int status);

private:
    struct PendingResult {
        QJsonObject result;
        QStringList text;
    };

    void push(std::function<QByteArray(OutputFormatter&)> task);
    void drain();
    static int finalStatus(int status);

    OutputFormat format;
    std::unique_ptr<OutputFormatter> formatter; // used on the writer thread only
    std::unique_ptr<OutputWriter> writer;       // started by the first item
    std::optional<PendingResult> pending;
    bool documentWritten = false;
};
