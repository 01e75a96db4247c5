#include "links.h"

#include <QDesktopServices>
#include <QUrl>

namespace plombix::links {

void OpenLink(const char* url) {
  if (url == nullptr || *url == '\0') return;
  // A link that cannot be opened shows nothing: the result is not used.
  (void)QDesktopServices::openUrl(QUrl(QString::fromUtf8(url)));
}

}  // namespace plombix::links
