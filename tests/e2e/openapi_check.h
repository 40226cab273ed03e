#pragma once
// Checks an answer of the control API against its OpenAPI document (the one it serves at
// GET /api/v1/openapi.json): the operation of the method and path, the response of the
// status, and the body against that response's schema. The JSON Schema keywords the document
// uses are checked: $ref, anyOf, type, enum, properties, required, additionalProperties,
// items, minimum, maximum. No object of the body names a member twice (readers differ in which
// one they keep).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <cmath>
#include <set>

#include "api/ApiJson.h"

namespace dpx::test {

class OpenApi {
public:
    explicit OpenApi(const QByteArray& document) : doc_(QJsonDocument::fromJson(document).object()) {}
    bool Loaded() const { return doc_.contains(QStringLiteral("paths")); }

    // Empty when the answer agrees with the document, else what does not. `path` is below
    // the servers' base ("/state").
    QString CheckAnswer(QString method, const QString& path, int status, const QByteArray& body) const {
        method = method.toLower();
        if (method == QStringLiteral("head")) method = QStringLiteral("get");
        // A box of a service that serves several answers below /boxes/NAME as one box does.
        const QStringList parts = path.split('/', Qt::SkipEmptyParts);
        if (parts.size() > 2 && parts[0] == QStringLiteral("boxes"))
            return CheckAnswer(method, '/' + parts.mid(2).join('/'), status, body);
        const QJsonObject item = PathItem(path);
        if (item.isEmpty() && status == 404) return CheckSchema(QStringLiteral("Answer"), QJsonDocument::fromJson(body).object());
        if (item.isEmpty()) return QStringLiteral("no path %1 in the document").arg(path);
        QJsonObject operation = item.value(method).toObject();
        // A method the path does not take: its refusal (405) is described by any operation.
        if (operation.isEmpty()) {
            if (status != 405) return QStringLiteral("%1 %2 answered %3, not 405").arg(method, path).arg(status);
            for (const QString& key : item.keys())
                if (key != QStringLiteral("parameters")) operation = item.value(key).toObject();
        }
        const QJsonObject responses = operation.value(QStringLiteral("responses")).toObject();
        QJsonObject response = responses.value(QString::number(status)).toObject();
        if (response.isEmpty()) response = responses.value(QStringLiteral("default")).toObject();
        if (response.isEmpty()) return QStringLiteral("status %1 of %2 %3 is not in the document").arg(status).arg(method, path);
        const QJsonValue schema = response.value(QStringLiteral("content")).toObject()
                                      .value(QStringLiteral("application/json")).toObject().value(QStringLiteral("schema"));
        if (schema.isUndefined()) return {};
        QJsonParseError error{};
        const QJsonDocument json = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError) return QStringLiteral("the body is not JSON: ") + body;
        std::string why;
        if (const std::optional<api::Json> parsed = api::ParseJson(body.toStdString(), &why)) {
            if (const std::string twice = Twice(*parsed); !twice.empty())
                return QStringLiteral("the member %1 comes twice: ").arg(QString::fromStdString(twice)) + body;
        }
        return Check(schema, json.isObject() ? QJsonValue(json.object()) : QJsonValue(json.array()), QStringLiteral("body"));
    }

    // A member that an object of `json` names twice, or empty.
    static std::string Twice(const api::Json& json) {
        std::set<std::string> seen;
        for (const std::string& key : json.Keys())
            if (!seen.insert(key).second) return key;
        for (const api::Json& item : json.Items())
            if (std::string twice = Twice(item); !twice.empty()) return twice;
        return {};
    }

    // Empty when `value` agrees with the schema components/schemas/`name`.
    QString CheckSchema(const QString& name, const QJsonValue& value) const {
        return Check(doc_[QStringLiteral("components")][QStringLiteral("schemas")][name], value, name);
    }

private:
    QJsonObject PathItem(const QString& path) const {
        const QStringList parts = path.split('/', Qt::SkipEmptyParts);
        const QJsonObject paths = doc_.value(QStringLiteral("paths")).toObject();
        for (const QString& pattern : paths.keys()) {
            const QStringList want = pattern.split('/', Qt::SkipEmptyParts);
            if (want.size() != parts.size()) continue;
            bool same = true;
            for (qsizetype i = 0; i < want.size() && same; ++i) same = want[i].startsWith('{') || want[i] == parts[i];
            if (same) return paths.value(pattern).toObject();
        }
        return {};
    }

    static bool HasType(const QJsonValue& value, const QString& type) {
        if (type == QStringLiteral("null")) return value.isNull();
        if (type == QStringLiteral("boolean")) return value.isBool();
        if (type == QStringLiteral("string")) return value.isString();
        if (type == QStringLiteral("object")) return value.isObject();
        if (type == QStringLiteral("array")) return value.isArray();
        if (type == QStringLiteral("number")) return value.isDouble();
        if (type == QStringLiteral("integer")) return value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
        return false;
    }

    QString Check(const QJsonValue& schema_value, const QJsonValue& value, const QString& at) const {
        const QJsonObject schema = schema_value.toObject();
        if (schema.contains(QStringLiteral("$ref"))) {
            const QString name = schema.value(QStringLiteral("$ref")).toString().section('/', -1);
            return Check(doc_[QStringLiteral("components")][QStringLiteral("schemas")][name], value, at);
        }
        if (schema.contains(QStringLiteral("anyOf"))) {
            QString first;
            for (const QJsonValue& option : schema.value(QStringLiteral("anyOf")).toArray()) {
                const QString why = Check(option, value, at);
                if (why.isEmpty()) return {};
                if (first.isEmpty()) first = why;
            }
            return first;
        }
        if (schema.contains(QStringLiteral("type"))) {
            const QJsonValue type = schema.value(QStringLiteral("type"));
            bool fits = false;
            if (type.isArray()) {
                for (const QJsonValue& t : type.toArray()) fits = fits || HasType(value, t.toString());
            } else {
                fits = HasType(value, type.toString());
            }
            if (!fits) return QStringLiteral("%1: %2 is not of type %3").arg(at, Text(value), Text(type));
        }
        if (schema.contains(QStringLiteral("enum")) && !schema.value(QStringLiteral("enum")).toArray().contains(value))
            return QStringLiteral("%1: %2 is none of %3").arg(at, Text(value), Text(schema.value(QStringLiteral("enum"))));
        if (schema.contains(QStringLiteral("minimum")) && value.isDouble() && value.toDouble() < schema[QStringLiteral("minimum")].toDouble())
            return QStringLiteral("%1: %2 is below its minimum").arg(at, Text(value));
        if (schema.contains(QStringLiteral("maximum")) && value.isDouble() && value.toDouble() > schema[QStringLiteral("maximum")].toDouble())
            return QStringLiteral("%1: %2 is above its maximum").arg(at, Text(value));
        if (value.isArray() && schema.contains(QStringLiteral("items"))) {
            const QJsonArray items = value.toArray();
            for (qsizetype i = 0; i < items.size(); ++i)
                if (QString why = Check(schema.value(QStringLiteral("items")), items[i], QStringLiteral("%1[%2]").arg(at).arg(i)); !why.isEmpty())
                    return why;
        }
        if (!value.isObject()) return {};
        const QJsonObject object = value.toObject();
        const QJsonObject properties = schema.value(QStringLiteral("properties")).toObject();
        for (const QJsonValue& name : schema.value(QStringLiteral("required")).toArray())
            if (!object.contains(name.toString())) return QStringLiteral("%1: %2 is missing").arg(at, name.toString());
        const QJsonValue additional = schema.value(QStringLiteral("additionalProperties"));
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString where = at + '.' + it.key();
            QString why;
            if (properties.contains(it.key())) why = Check(properties.value(it.key()), it.value(), where);
            else if (additional.isBool() && !additional.toBool()) why = QStringLiteral("%1 is not in the document").arg(where);
            else if (additional.isObject()) why = Check(additional, it.value(), where);
            if (!why.isEmpty()) return why;
        }
        return {};
    }

    static QString Text(const QJsonValue& value) {
        if (value.isObject()) return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
        if (value.isArray()) return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
        return value.toVariant().toString() + (value.isString() ? QString() : QStringLiteral(" (") + QString::number(value.type()) + ')');
    }

    QJsonObject doc_;
};

}  // namespace dpx::test
