#include "saved_run.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace kt::bench
{

namespace
{
std::string textOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString().toStdString();
}

// A figure as formatJson wrote it; false when a field has the wrong type.
bool readFigure(const QJsonObject &object, Figure &figure)
{
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue floor = object.value(QLatin1String("floor"));
    const QJsonValue met = object.value(QLatin1String("met"));
    const QJsonValue samples = object.value(QLatin1String("samples"));
    if (!name.isString() || !samples.isArray() || !(floor.isNull() || floor.isDouble())
        || !(met.isNull() || met.isBool()))
        return false;
    figure.name = name.toString().toStdString();
    figure.unit = textOf(object, "unit");
    figure.goal = textOf(object, "goal");
    figure.note = textOf(object, "note");
    if (floor.isDouble())
        figure.floor = floor.toDouble();
    if (met.isBool())
        figure.met = met.toBool();
    for (const QJsonValue &sample : samples.toArray()) {
        if (!sample.isDouble())
            return false;
        figure.samples.push_back(sample.toDouble());
    }
    return true;
}
} // namespace

std::optional<SavedRun> parseSavedRun(const std::string &json, std::string &error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = "not JSON: " + parseError.errorString().toStdString() + " at byte "
                + std::to_string(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject top = document.object();
    const QJsonValue run = top.value(QLatin1String("run"));
    const QJsonValue figures = top.value(QLatin1String("figures"));
    if (!run.isObject() || !figures.isArray()) {
        error = "no \"run\" object and \"figures\" array: not a benchmark run";
        return std::nullopt;
    }
    SavedRun saved;
    const QJsonObject info = run.toObject();
    saved.run.date = textOf(info, "date");
    saved.run.commit = textOf(info, "commit");
    saved.run.compiler = textOf(info, "compiler");
    saved.run.qt = textOf(info, "qt");
    saved.run.cpu = textOf(info, "cpu");
    saved.run.cores =
        static_cast<unsigned>(std::max(0, info.value(QLatin1String("cores")).toInt()));
    for (const QJsonValue &value : figures.toArray()) {
        Figure figure;
        if (!value.isObject() || !readFigure(value.toObject(), figure)) {
            error = "figure " + std::to_string(saved.figures.size() + 1) + " is not one the "
                    + "benchmark writes";
            return std::nullopt;
        }
        saved.figures.push_back(std::move(figure));
    }
    return saved;
}

} // namespace kt::bench
