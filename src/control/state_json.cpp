#include "state_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "api_names.h"

namespace plombix::control {
namespace {

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
QString Text(const char* s) { return QString::fromLatin1(s); }

std::string Compact(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace

std::string StateJson(const ControlState& s) {
  QJsonObject output{{"width", s.output.width},
                     {"height", s.output.height},
                     {"frameRateN", s.output.frameRateN},
                     {"frameRateD", s.output.frameRateD},
                     {"alpha", s.output.alpha}};
  QJsonValue picture = QJsonValue::Null;
  if (s.picture)
    picture = QJsonObject{{"path", Text(s.picture->path)},
                          {"width", s.picture->width},
                          {"height", s.picture->height},
                          {"colourProfile", s.picture->colourProfile.empty()
                                                ? QJsonValue(QJsonValue::Null)
                                                : QJsonValue(Text(s.picture->colourProfile))}};
  QJsonObject slideshow{{"mode", Text(NameOf(s.slideshow.mode))},
                        {"start", s.slideshow.start},
                        {"end", s.slideshow.end},
                        {"current", s.slideshow.current},
                        {"format", Text(NumberFormatText(s.slideshow.numberFormat))},
                        {"duration", s.slideshow.durationSecs}};
  QJsonObject o{{"instance", s.instance},
                {"source", Text(s.source)},
                {"output", output},
                {"background", Text(NameOf(s.background))},
                {"colours", QJsonArray{Text(ColourText(s.colours[0])), Text(ColourText(s.colours[1]))}},
                {"scaling", Text(NameOf(s.scaling))},
                {"range", Text(NameOf(s.range))},
                {"transition", Text(NameOf(s.transition))},
                {"watch", s.watch},
                {"picture", picture},
                {"overlay", QJsonObject{{"path", Text(s.overlay.path)}, {"use", s.overlay.use}}},
                {"slideshow", slideshow},
                {"receivers", s.receivers},
                {"tally", Text(NameOf(s.tally))},
                {"busy", s.busy},
                {"borders", QJsonObject{{"sides", s.borders.sides},
                                        {"topBottom", s.borders.topBottom},
                                        {"equal", s.borders.equal},
                                        {"use", s.borders.use}}},
                {"oscIgnored", qint64(s.oscIgnored)}};
  return Compact(o);
}

std::string ErrorJson(const std::string& message) { return Compact(QJsonObject{{"error", Text(message)}}); }

}  // namespace plombix::control
