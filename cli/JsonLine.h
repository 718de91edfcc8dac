#pragma once
// A compact JSON object written straight into bytes, for the items that come
// by the ten thousand a second (readings): building a QJsonObject and
// serialising it costs several times the exchange that produced the reading.
// The bytes are those QJsonDocument::Compact writes for the same object when
// the fields are added in its order (keys sorted), numbers and escapes
// alike, so the two may stand in for each other.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>

class JsonLine {
public:
    JsonLine();

    // Keys are the program's own ASCII names: written as they are.
    JsonLine& Field(const char* key, qint64 value);
    JsonLine& Field(const char* key, int value) { return Field(key, qint64(value)); }
    JsonLine& Field(const char* key, quint32 value) { return Field(key, qint64(value)); }
    JsonLine& Field(const char* key, double value);
    JsonLine& Field(const char* key, bool value);
    JsonLine& Field(const char* key, const QString& value);
    JsonLine& Field(const char* key, const QStringList& values);
    // A string given as Latin-1 bytes (a device's reply).
    JsonLine& Latin1Field(const char* key, QByteArrayView value);
    // A nested object, from BeginObject to EndObject.
    JsonLine& BeginObject(const char* key);
    JsonLine& EndObject();

    // The object, closed.
    QByteArray Take();

private:
    void key(const char* name);
    void string(QByteArrayView utf8);
    void latin1String(QByteArrayView latin1);
    void integer(qint64 value);

    std::string bytes;
    bool first = true;
};
