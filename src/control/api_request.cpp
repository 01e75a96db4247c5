#include "api_request.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cerrno>

#include "api_names.h"

namespace plombix::control {
namespace {

constexpr std::string_view kPrefix = "/api/v1";

struct Known {
  std::string_view path;
  Endpoint endpoint;
  Step step;
};

constexpr Known kPostPaths[] = {
    {"/show", Endpoint::Show, Step::Next},
    {"/slideshow/next", Endpoint::Step, Step::Next},
    {"/slideshow/previous", Endpoint::Step, Step::Previous},
    {"/slideshow/first", Endpoint::Step, Step::First},
    {"/slideshow/last", Endpoint::Step, Step::Last},
    {"/output", Endpoint::Output, Step::Next},
    {"/background", Endpoint::Background, Step::Next},
    {"/scaling", Endpoint::Scaling, Step::Next},
    {"/transition", Endpoint::Transition, Step::Next},
    {"/range", Endpoint::Range, Step::Next},
    {"/watch", Endpoint::Watch, Step::Next},
    {"/grab", Endpoint::Grab, Step::Next},
    {"/overlay", Endpoint::Overlay, Step::Next},
    {"/cue", Endpoint::Cue, Step::Next},
    {"/take", Endpoint::Take, Step::Next},
    {"/overlay/grab", Endpoint::OverlayGrab, Step::Next},
    {"/slideshow/mode", Endpoint::SlideshowMode, Step::Next},
    {"/slideshow/start", Endpoint::SlideshowStart, Step::Next},
    {"/slideshow/end", Endpoint::SlideshowEnd, Step::Next},
    {"/slideshow/goto", Endpoint::Goto, Step::Next},
    {"/slideshow/format", Endpoint::NumberFormat, Step::Next},
    {"/slideshow/duration", Endpoint::Duration, Step::Next},
    {"/borders", Endpoint::Borders, Step::Next},
    {"/config/save", Endpoint::SaveConfig, Step::Next},
};

constexpr Known kGetPaths[] = {
    {"/state", Endpoint::State, Step::Next},
    {"/events", Endpoint::Events, Step::Next},
    {"/thumbnail.jpg", Endpoint::Thumbnail, Step::Next},
    {"/as-run", Endpoint::AsRun, Step::Next},
};

bool Fail(ApiError* error, int status, std::string message) {
  if (error) *error = ApiError{status, std::move(message), nullptr};
  return false;
}

std::string Quoted(const QString& text) {
  std::string quoted(1, '"');
  quoted += text.toStdString();
  quoted += '"';
  return quoted;
}

// Reads one optional member of `object`. Absent: true and `*out` untouched.
// Present with the wrong JSON type: false with a 400.
bool ReadString(const QJsonObject& object, const char* name, std::optional<QString>* out,
                ApiError* error) {
  const QJsonValue v = object.value(QLatin1String(name));
  if (v.isUndefined()) return true;
  if (!v.isString()) return Fail(error, 400, std::string("\"") + name + "\" must be a string");
  *out = v.toString();
  return true;
}

bool ReadBool(const QJsonObject& object, const char* name, std::optional<bool>* out, ApiError* error) {
  const QJsonValue v = object.value(QLatin1String(name));
  if (v.isUndefined()) return true;
  if (!v.isBool()) return Fail(error, 400, std::string("\"") + name + "\" must be true or false");
  *out = v.toBool();
  return true;
}

bool Require(bool present, const char* what, ApiError* error) {
  return present || Fail(error, 400, std::string("expected ") + what);
}

bool ReadPath(const QString& text, std::string* out, ApiError* error) {
  if (text.isEmpty()) return Fail(error, 400, "\"path\" is empty");
  if (text.contains(QChar(0))) return Fail(error, 400, "\"path\" contains a NUL character");
  if (!text.startsWith(QLatin1Char('/'))) return Fail(error, 400, "\"path\" must be an absolute path");
  std::string bytes = text.toStdString();
  if (bytes.size() > kMaxPathBytes) return Fail(error, 400, "\"path\" is too long");
  *out = std::move(bytes);
  return true;
}

// An integer member (a JSON number without a fraction). Absent: true and
// `*out` untouched; outside min..max: false with a 422.
bool ReadInt(const QJsonObject& object, const char* name, int min, int max, std::optional<int>* out,
             ApiError* error) {
  const QJsonValue v = object.value(QLatin1String(name));
  if (v.isUndefined()) return true;
  const double d = v.toDouble();
  if (!v.isDouble() || d != double(qint64(d)))
    return Fail(error, 400, std::string("\"") + name + "\" must be a whole number");
  if (d < min || d > max)
    return Fail(error, 422, std::string("\"") + name + "\" must be from " + std::to_string(min) + " to " +
                                std::to_string(max));
  *out = int(d);
  return true;
}

bool ParseBorders(const QJsonObject& o, BorderChange* out, ApiError* error) {
  return ReadInt(o, "sides", 0, 99, &out->sides, error) && ReadInt(o, "topBottom", 0, 99, &out->topBottom, error) &&
         ReadBool(o, "equal", &out->equal, error) && ReadBool(o, "use", &out->use, error) &&
         Require(out->sides || out->topBottom || out->equal || out->use,
                 "\"sides\", \"topBottom\", \"equal\" or \"use\"", error);
}

bool ParseNumberFormat(const QJsonObject& o, SlideshowChange* out, ApiError* error) {
  std::optional<QString> format;
  if (!ReadString(o, "format", &format, error) || !Require(format.has_value(), "\"format\"", error)) return false;
  for (int i = 0; i < 3; ++i)
    if (format->toStdString() == NumberFormatText(i)) {
      out->numberFormat = i;
      return true;
    }
  return Fail(error, 400, "unknown format " + Quoted(*format) + ": one of 1, 01, 001");
}

template <typename Enum>
bool ReadMode(const QJsonObject& object, std::optional<Enum> (*parse)(std::string_view),
              const char* choices, Enum* out, ApiError* error) {
  std::optional<QString> mode;
  if (!ReadString(object, "mode", &mode, error)) return false;
  if (!Require(mode.has_value(), "\"mode\"", error)) return false;
  const std::optional<Enum> value = parse(mode->toStdString());
  if (!value) return Fail(error, 400, "unknown mode " + Quoted(*mode) + ": one of " + choices);
  *out = *value;
  return true;
}

bool ParseOutput(const QJsonObject& o, OutputChange* out, ApiError* error) {
  std::optional<QString> resolution, frameRate;
  std::optional<bool> alpha;
  if (!ReadString(o, "resolution", &resolution, error) || !ReadString(o, "frameRate", &frameRate, error) ||
      !ReadBool(o, "alpha", &alpha, error))
    return false;
  if (!Require(resolution || frameRate || alpha, "\"resolution\", \"frameRate\" or \"alpha\"", error))
    return false;
  if (resolution) {
    const auto r = ParseResolution(resolution->toStdString());
    if (!r) {
      std::string list;
      for (const ResolutionName& n : ResolutionNames()) list += (list.empty() ? "" : ", ") + std::string(n.name);
      return Fail(error, 400, "unknown resolution " + Quoted(*resolution) + ": one of " + list);
    }
    out->size = std::pair(r->width, r->height);
  }
  if (frameRate) {
    const auto f = ParseFrameRate(frameRate->toStdString());
    if (!f) return Fail(error, 400, "unknown frame rate " + Quoted(*frameRate) + ": one of 25, 29.97, 30, 50, 60");
    out->frameRate = std::pair(f->frameRateN, f->frameRateD);
  }
  out->alpha = alpha;
  return true;
}

bool ParseBackgroundBody(const QJsonObject& o, BackgroundChange* out, ApiError* error) {
  std::optional<QString> mode;
  if (!ReadString(o, "mode", &mode, error)) return false;
  const QJsonValue colours = o.value(QLatin1String("colours"));
  if (!Require(mode || !colours.isUndefined(), "\"mode\" or \"colours\"", error)) return false;
  if (mode) {
    out->mode = ParseBackground(mode->toStdString());
    if (!out->mode)
      return Fail(error, 400, "unknown background " + Quoted(*mode) +
                                  ": one of black, white, grad1 .. grad6, grabbed, transparent");
  }
  if (!colours.isUndefined()) {
    const char* shape = "\"colours\" must be two colours like [\"#203080\", \"#000000\"]";
    if (!colours.isArray() || colours.toArray().size() != 2) return Fail(error, 400, shape);
    std::array<Rgb, 2> values{};
    for (int i = 0; i < 2; ++i) {
      const QJsonValue c = colours.toArray().at(i);
      const auto rgb = c.isString() ? ParseColour(c.toString().toStdString()) : std::nullopt;
      if (!rgb) return Fail(error, 400, shape);
      values[size_t(i)] = *rgb;
    }
    out->colours = values;
  }
  return true;
}

}  // namespace

std::optional<Route> RouteRequest(std::string_view method, std::string_view path, ApiError* error) {
  const bool isGet = method == "GET" || method == "HEAD";
  const bool isPost = method == "POST";
  auto wrongMethod = [&](const char* allow) -> std::optional<Route> {
    if (error) *error = ApiError{405, "use " + std::string(allow), allow};
    return std::nullopt;
  };
  if (path == "/") {
    if (!isGet) return wrongMethod("GET, HEAD");
    return Route{Endpoint::Page, Step::Next, false};
  }
  if (path.substr(0, kPrefix.size()) == kPrefix) {
    const std::string_view rest = path.substr(kPrefix.size());
    if (rest == "/cue" && method == "DELETE") return Route{Endpoint::ForgetCue, Step::Next, false};
    for (const Known& k : kGetPaths) {
      if (rest != k.path) continue;
      if (!isGet) return wrongMethod("GET, HEAD");
      return Route{k.endpoint, k.step, false};
    }
    for (const Known& k : kPostPaths) {
      if (rest != k.path) continue;
      if (!isPost) return wrongMethod(k.endpoint == Endpoint::Cue ? "POST, DELETE" : "POST");
      return Route{k.endpoint, k.step, true};
    }
  }
  Fail(error, 404, "no such endpoint");
  return std::nullopt;
}

std::optional<ApiRequest> ParseRequestBody(const Route& route, std::string_view body, ApiError* error) {
  ApiRequest request;
  request.route = route;
  QJsonObject o;
  const bool blank = body.find_first_not_of(" \t\r\n") == std::string_view::npos;
  if (!blank) {
    QJsonParseError parseError{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(body.data(), qsizetype(body.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
      Fail(error, 400, "malformed JSON: " + parseError.errorString().toStdString() + " at offset " +
                           std::to_string(parseError.offset));
      return std::nullopt;
    }
    if (!doc.isObject()) {
      Fail(error, 400, "expected a JSON object");
      return std::nullopt;
    }
    o = doc.object();
  }

  bool ok = true;
  switch (route.endpoint) {
    case Endpoint::Page:
    case Endpoint::State:
    case Endpoint::Step:
    case Endpoint::Grab:
    case Endpoint::ForgetCue:
    case Endpoint::Take:
    case Endpoint::OverlayGrab:
    case Endpoint::SlideshowStart:
    case Endpoint::SlideshowEnd:
    case Endpoint::SaveConfig:
    case Endpoint::Events:
    case Endpoint::Thumbnail:
    case Endpoint::AsRun:
      break;
    case Endpoint::SlideshowMode: {
      SlideshowMode mode = SlideshowMode::Off;
      ok = ReadMode(o, &ParseSlideshowMode, "off, manual, auto", &mode, error);
      request.slideshow.mode = mode;
      break;
    }
    case Endpoint::Goto: {
      std::optional<int> number;
      ok = ReadInt(o, "number", 0, 255, &number, error) && Require(number.has_value(), "\"number\"", error);
      if (ok) request.number = *number;
      if (!ok && error && error->status == 422) error->message = "no such number in the sequence";
      break;
    }
    case Endpoint::NumberFormat:
      ok = ParseNumberFormat(o, &request.slideshow, error);
      break;
    case Endpoint::Duration:
      ok = ReadInt(o, "seconds", 2, 240, &request.slideshow.durationSecs, error) &&
           Require(request.slideshow.durationSecs.has_value(), "\"seconds\"", error);
      break;
    case Endpoint::Borders:
      ok = ParseBorders(o, &request.borders, error);
      break;
    case Endpoint::Show:
    case Endpoint::Cue: {
      std::optional<QString> path;
      ok = ReadString(o, "path", &path, error) && Require(path.has_value(), "\"path\"", error) &&
           ReadPath(*path, &request.path, error);
      break;
    }
    case Endpoint::Output:
      ok = ParseOutput(o, &request.output, error);
      break;
    case Endpoint::Background:
      ok = ParseBackgroundBody(o, &request.background, error);
      break;
    case Endpoint::Scaling:
      ok = ReadMode(o, &ParseScaling, "none, contain, fill", &request.scaling, error);
      break;
    case Endpoint::Transition:
      ok = ReadMode(o, &ParseTransition, "cut, fade", &request.transition, error);
      break;
    case Endpoint::Range:
      ok = ReadMode(o, &ParseRange, "full, video", &request.range, error);
      break;
    case Endpoint::Watch: {
      std::optional<bool> on;
      ok = ReadBool(o, "on", &on, error) && Require(on.has_value(), "\"on\"", error);
      if (ok) request.on = *on;
      break;
    }
    case Endpoint::Overlay: {
      std::optional<QString> path;
      ok = ReadString(o, "path", &path, error) && ReadBool(o, "use", &request.overlayUse, error) &&
           Require(path || request.overlayUse, "\"path\" or \"use\"", error);
      if (ok && path) {
        ok = ReadPath(*path, &request.path, error);
        request.overlayPath = true;
      }
      break;
    }
  }
  if (!ok) return std::nullopt;
  return request;
}

std::optional<ApiError> CheckPictureFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP)
      return ApiError{404, "no such file: " + path, nullptr};
    return ApiError{422, "cannot be read: " + path, nullptr};
  }
  if (S_ISDIR(st.st_mode)) return ApiError{422, "a folder, not a picture: " + path, nullptr};
  if (!S_ISREG(st.st_mode)) return ApiError{422, "not a regular file: " + path, nullptr};
  if (::access(path.c_str(), R_OK) != 0) return ApiError{422, "cannot be read: " + path, nullptr};
  return std::nullopt;
}

}  // namespace plombix::control
