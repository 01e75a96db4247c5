#include "http_sender.h"

#include "source_registry.h"

namespace plombix::standin {

StandInSender::StandInSender(std::shared_ptr<HttpSource> source) : source_(std::move(source)) {
  record_.p_ndi_name = source_->name().c_str();
  record_.p_url_address = source_->url().c_str();
}

std::unique_ptr<StandInSender> StandInSender::Create(const std::string& name, VideoClock clock,
                                                     std::string* error) {
  std::shared_ptr<HttpSource> source = SourceRegistry::Instance().takeOver(name);
  if (source) {
    source->beginSender(clock);
  } else {
    source = HttpSource::Open(name, clock, error);
    if (!source) return nullptr;
  }
  return std::unique_ptr<StandInSender>(new StandInSender(std::move(source)));
}

StandInSender::~StandInSender() {
  source_->endSender();
  SourceRegistry::Instance().linger(std::move(source_));
}

}  // namespace plombix::standin
