#pragma once
// What q714 writes to standard output, in the format asked for. A command
// reports items as they come (readings, adapters, points: "items") and one
// result at its end. Every JSON object carries "schema_version": 1.
//
//   text   items and the result as lines for a person
//   json   one document: the result, with its items under `itemsKey`
//   jsonl  one object per line: every item and progress step, then the result
//   csv    a header and one row per item (the result's fields when there are
//          no items), RFC 4180 quoting, nested fields joined by "."

#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>

enum class OutputFormat { Text, Json, JsonLines, Csv };

inline constexpr int SchemaVersion = 1;

// Parses "text", "json", "jsonl" or "csv".
bool ParseOutputFormat(const QString& name, OutputFormat& format);

class Output {
public:
    explicit Output(OutputFormat format);

    OutputFormat Format() const { return format; }
    // The object with "schema_version" and "type" in front.
    static QJsonObject Tagged(const QString& type, const QJsonObject& fields);

    // An item of the command's list (a reading, an adapter, a point), with
    // its text line.
    void Item(const QJsonObject& item, const QString& text);
    // A step of a long operation (jsonl only; the caller draws a bar on a
    // terminal).
    void Progress(const QString& operation, qint64 done, qint64 total);
    // The command's result, with its text lines; `itemsKey` names the items
    // inside a json result ("readings", "adapters", ...).
    void Result(const QJsonObject& result, const QStringList& text, const QString& itemsKey = {});
    // Several devices' documents at once (json: an array of them).
    static void WriteDocuments(OutputFormat format, const QList<QJsonObject>& documents);

    // The CSV rows of records: a header of every field seen, in the order
    // first seen, then one row per record.
    static QByteArray CsvOf(const QList<QJsonObject>& records);

private:
    void writeLine(const QByteArray& line);

    OutputFormat format;
    QList<QJsonObject> items;
};
