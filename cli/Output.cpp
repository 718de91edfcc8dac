#include "Output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace {

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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

Output::Output(OutputFormat format) : format(format) {}

QJsonObject Output::Tagged(const QString& type, const QJsonObject& fields) {
    QJsonObject object = fields;
    object.insert(QStringLiteral("schema_version"), SchemaVersion);
    object.insert(QStringLiteral("type"), type);
    return object;
}

void Output::writeLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Output::Item(const QJsonObject& item, const QString& text) {
    switch (format) {
    case OutputFormat::Text:
        writeLine(text.toUtf8());
        break;
    case OutputFormat::JsonLines:
        writeLine(compact(item));
        break;
    case OutputFormat::Json:
    case OutputFormat::Csv:
        items.append(item);
        break;
    }
}

void Output::Progress(const QString& operation, qint64 done, qint64 total) {
    if (format != OutputFormat::JsonLines)
        return;
    writeLine(compact(
        Tagged(QStringLiteral("progress"),
               {{"operation", operation}, {"done", double(done)}, {"total", double(total)}})));
}

void Output::Result(const QJsonObject& result, const QStringList& text, const QString& itemsKey) {
    switch (format) {
    case OutputFormat::Text:
        for (const QString& line : text)
            writeLine(line.toUtf8());
        break;
    case OutputFormat::JsonLines:
        writeLine(compact(result));
        break;
    case OutputFormat::Json: {
        QJsonObject document = result;
        if (!itemsKey.isEmpty()) {
            QJsonArray array;
            for (const QJsonObject& item : items)
                array.append(item);
            document.insert(itemsKey, array);
        }
        writeLine(QJsonDocument(document).toJson(QJsonDocument::Indented).trimmed());
        break;
    }
    case OutputFormat::Csv: {
        const QByteArray csv = CsvOf(items.isEmpty() ? QList<QJsonObject>{result} : items);
        std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout);
        std::fflush(stdout);
        break;
    }
    }
    items.clear();
}

void Output::WriteDocuments(OutputFormat format, const QList<QJsonObject>& documents) {
    Output output(format);
    if (format == OutputFormat::Json) {
        QJsonArray array;
        for (const QJsonObject& document : documents)
            array.append(document);
        output.writeLine(QJsonDocument(array).toJson(QJsonDocument::Indented).trimmed());
        return;
    }
    if (format == OutputFormat::Csv) {
        const QByteArray csv = CsvOf(documents);
        std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout);
        std::fflush(stdout);
        return;
    }
    for (const QJsonObject& document : documents)
        output.writeLine(compact(document));
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
    QByteArray csv;
    QStringList line;
    for (const QString& key : header)
        line << csvField(key);
    csv += line.join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (const auto& row : rows) {
        line.clear();
        for (const QString& key : header)
            line << csvField(row.value(key));
        csv += line.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return csv;
}
