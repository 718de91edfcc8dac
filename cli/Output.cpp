#include "Output.h"

#include "ExitStatus.h"
#include "Failure.h"
#include "OutputWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace {

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void writeOut(const QByteArray& bytes) {
    WriteStandardOutput(bytes);
}

// Flattens nested objects into "outer.inner" keys; arrays become their
// values joined by "|".
void flatten(const QJsonObject& object, const QString& prefix,
             QList<QPair<QString, QString>>& out) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = prefix.isEmpty() ? it.key() : prefix + QLatin1Char('.') + it.key();
        const QJsonValue value = it.value();
        if (value.isObject()) {
            flatten(value.toObject(), key, out);
        } else if (value.isArray()) {
            QStringList parts;
            for (const QJsonValue& element : value.toArray())
                parts << element.toVariant().toString();
            out.append({key, parts.join(QLatin1Char('|'))});
        } else if (value.isBool()) {
            out.append({key, value.toBool() ? QStringLiteral("true") : QStringLiteral("false")});
        } else if (value.isDouble()) {
            out.append({key, QString::number(value.toDouble(), 'g', 15)});
        } else if (value.isString()) {
            out.append({key, value.toString()});
        } else {
            out.append({key, QString()});
        }
    }
}

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QByteArray csvLine(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

bool ParseOutputFormat(const QString& name, OutputFormat& format) {
    const QStringList names = {"text", "json", "jsonl", "csv"};
    const OutputFormat formats[] = {OutputFormat::Text, OutputFormat::Json, OutputFormat::JsonLines,
                                    OutputFormat::Csv};
    const qsizetype index = names.indexOf(name);
    if (index < 0)
        return false;
    format = formats[index];
    return true;
}

// Turns items and results into the bytes of the chosen format; it keeps
// what a streamed json document or csv table has written so far.
class OutputFormatter {
public:
    // A command without an items key has no items; should it report some,
    // they go under "items".
    OutputFormatter(OutputFormat format, const QString& itemsKey) : format(format) {
        SetItemsKey(itemsKey);
    }

    void SetItemsKey(const QString& key) {
        itemsKey = key.isEmpty() ? QStringLiteral("items") : key;
        emptyItemsShown = !key.isEmpty();
    }

    QByteArray Item(const OutputItem& item) {
        switch (format) {
        case OutputFormat::Text:
            return item.text.toUtf8() + '\n';
        case OutputFormat::JsonLines:
            return jsonOf(item) + '\n';
        case OutputFormat::Json: {
            const QByteArray opening =
                documentOpen ? QByteArray(",\n") : "{\n    \"" + itemsKey.toUtf8() + "\": [\n";
            documentOpen = true;
            return opening + "        " + jsonOf(item);
        }
        case OutputFormat::Csv:
            return csvRow(item.object);
        }
        return {};
    }

    QByteArray Progress(const QString& operation, qint64 done, qint64 total) {
        if (format != OutputFormat::JsonLines)
            return {};
        return compact(Output::Tagged(
                   QStringLiteral("progress"),
                   {{"operation", operation}, {"done", double(done)}, {"total", double(total)}})) +
               '\n';
    }

    QByteArray Result(const QJsonObject& result, const QStringList& text) {
        resultWritten = true;
        switch (format) {
        case OutputFormat::Text:
            return text.isEmpty() ? QByteArray() : text.join(QLatin1Char('\n')).toUtf8() + '\n';
        case OutputFormat::JsonLines:
            return compact(result) + '\n';
        case OutputFormat::Json:
            return jsonResult(result);
        case OutputFormat::Csv:
            return csvHeader.isEmpty() ? Output::CsvOf({result}) : QByteArray();
        }
        return {};
    }

    // The result at the close: one the command gave, or else one when it
    // failed or left a json document open.
    QByteArray Close(const QJsonObject& result, const QStringList& text, bool given, bool failed) {
        if (!given && !failed && !documentOpen)
            return {};
        return Result(result, text);
    }

private:
    static QByteArray jsonOf(const OutputItem& item) {
        return item.json.isEmpty() ? compact(item.object) : item.json;
    }

    // The result closes the items' array that the items opened; without
    // items the array is there, empty, all the same.
    QByteArray jsonResult(QJsonObject result) {
        if (!documentOpen) {
            if (emptyItemsShown)
                result.insert(itemsKey, QJsonArray());
            return QJsonDocument(result).toJson(QJsonDocument::Indented);
        }
        Q_ASSERT(!result.contains(itemsKey)); // a field of that name would hide the items
        const QByteArray fields = QJsonDocument(result).toJson(QJsonDocument::Indented);
        return "\n    ],\n" + fields.mid(2); // without its opening "{\n"
    }

    // The header is the first item's fields: every item of a command has
    // the same ones.
    QByteArray csvRow(const QJsonObject& item) {
        QList<QPair<QString, QString>> fields;
        flatten(item, QString(), fields);
        QByteArray bytes;
        if (csvHeader.isEmpty()) {
            for (const auto& field : fields)
                csvHeader << field.first;
            bytes = csvLine(csvHeader);
        }
        QStringList row(csvHeader.size());
        for (const auto& [key, value] : fields) {
            const qsizetype column = csvHeader.indexOf(key);
            if (column >= 0)
                row[column] = value;
            else
                warnMissingColumn(key);
        }
        return bytes + csvLine(row);
    }

    void warnMissingColumn(const QString& key) {
        if (csvWarned)
            return;
        csvWarned = true;
        std::fprintf(stderr,
                     "q714: the field %s is not among the csv columns; --format jsonl "
                     "keeps every field\n",
                     qPrintable(key));
    }

    OutputFormat format;
    QString itemsKey;
    bool emptyItemsShown; // a command with items shows none as []
    bool documentOpen = false;
    bool resultWritten = false;
    QStringList csvHeader;
    bool csvWarned = false;
};

Output::Output(OutputFormat format, const QString& itemsKey)
    : format(format), formatter(std::make_unique<OutputFormatter>(format, itemsKey)) {}

Output::~Output() {
    drain(); // closed or not, what was handed over is written
}

void Output::SetItemsKey(const QString& itemsKey) {
    Q_ASSERT(!writer); // nothing reported yet
    formatter->SetItemsKey(itemsKey);
}

QJsonObject Output::Tagged(const QString& type, const QJsonObject& fields) {
    QJsonObject object = fields;
    object.insert(QStringLiteral("schema_version"), SchemaVersion);
    object.insert(QStringLiteral("type"), type);
    return object;
}

void Output::push(std::function<QByteArray(OutputFormatter&)> task) {
    if (!writer)
        writer = std::make_unique<OutputWriter>();
    writer->Push([this, task = std::move(task)] { return task(*formatter); });
}

void Output::drain() {
    if (writer)
        writer->Drain();
}

void Output::Item(const QJsonObject& item, const QString& text) {
    push([item, text](OutputFormatter& f) { return f.Item({item, text, {}}); });
}

void Output::ItemLater(std::function<OutputItem(OutputFormat)> build) {
    push([build = std::move(build), format = format](OutputFormatter& f) {
        return f.Item(build(format));
    });
}

void Output::Progress(const QString& operation, qint64 done, qint64 total) {
    if (format == OutputFormat::JsonLines)
        push([=](OutputFormatter& f) { return f.Progress(operation, done, total); });
}

void Output::Result(const QJsonObject& result, const QStringList& text) {
    pending = PendingResult{result, text};
}

void Output::Document(const QByteArray& bytes) {
    documentWritten = true;
    push([bytes](OutputFormatter&) { return bytes; });
    drain();
}

int Output::Close(int status, const QJsonObject& fallback) {
    if (documentWritten) { // the command's own document is the output
        drain();
        return finalStatus(status);
    }
    const bool given = pending.has_value();
    const QJsonObject result = WithOutcome(given ? pending->result : fallback, status);
    const QStringList text = given ? pending->text : QStringList();
    const bool failed = status != ExitDone;
    push([=](OutputFormatter& f) { return f.Close(result, text, given, failed); });
    drain();
    return finalStatus(status);
}

int Output::finalStatus(int status) {
    return StandardOutputFailed() ? ExitFile : status;
}

QJsonObject Output::WithOutcome(QJsonObject result, int status) {
    const bool finished = status == ExitDone || status == ExitCheckFailed;
    result.insert(QStringLiteral("complete"),
                  finished && result.value(QLatin1String("complete")).toBool(true));
    const QJsonObject outcome = OutcomeFields(status);
    for (auto it = outcome.begin(); it != outcome.end(); ++it)
        if (!result.contains(it.key())) // a command's own message stays
            result.insert(it.key(), it.value());
    return result;
}

void Output::WriteDocuments(OutputFormat format, const QList<QJsonObject>& documents) {
    if (format == OutputFormat::Json) {
        QJsonArray array;
        for (const QJsonObject& document : documents)
            array.append(document);
        writeOut(QJsonDocument(array).toJson(QJsonDocument::Indented));
        return;
    }
    if (format == OutputFormat::Csv) {
        writeOut(CsvOf(documents));
        return;
    }
    QByteArray lines;
    for (const QJsonObject& document : documents)
        lines += compact(document) + '\n';
    writeOut(lines);
}

QByteArray Output::CsvOf(const QList<QJsonObject>& records) {
    QStringList header;
    QList<QHash<QString, QString>> rows;
    for (const QJsonObject& record : records) {
        QList<QPair<QString, QString>> fields;
        flatten(record, QString(), fields);
        QHash<QString, QString> row;
        for (const auto& [key, value] : fields) {
            if (!header.contains(key))
                header << key;
            row.insert(key, value);
        }
        rows << row;
    }
    QByteArray csv = csvLine(header);
    for (const auto& row : rows) {
        QStringList line;
        for (const QString& key : header)
            line << row.value(key);
        csv += csvLine(line);
    }
    return csv;
}
