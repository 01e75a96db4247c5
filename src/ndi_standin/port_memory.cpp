#include "port_memory.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

#include "small_files.h"

namespace plombix::standin {
namespace {

constexpr const char* kSuffix = ".port";
// At most this many files are read when looking at other names' ports: the
// folder is ours, but a flood of files must not slow a sender's creation.
constexpr size_t kMaxEntriesRead = 1000;

std::string fileOf(const std::string& portsDir, const std::string& name) {
  return portsDir + "/" + EncodedFileStem(name) + kSuffix;
}

}  // namespace

bool ParsePortEntry(const std::string& text, PortRange range, std::string* name, int* port) {
  std::string n;
  int p = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("name=", 0) == 0) {
      n = line.substr(5);
    } else if (line.rfind("port=", 0) == 0) {
      const std::string digits = line.substr(5);
      if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
      p = std::stoi(digits);
    }
  }
  if (n.empty() || !range.contains(p)) return false;
  *name = n;
  *port = p;
  return true;
}

int RememberedPort(const std::string& portsDir, const std::string& name, PortRange range) {
  std::string text, stored;
  int port = 0;
  if (!ReadSmallFile(fileOf(portsDir, name), &text) || !ParsePortEntry(text, range, &stored, &port) ||
      stored != name)
    return 0;
  return port;
}

std::vector<int> PortsRememberedByOthers(const std::string& portsDir, const std::string& name,
                                         PortRange range) {
  std::vector<int> ports;
  DIR* dir = ::opendir(portsDir.c_str());
  if (!dir) return ports;
  const std::string own = EncodedFileStem(name) + kSuffix;
  const size_t suffixLength = std::strlen(kSuffix);
  size_t read = 0;
  while (const dirent* d = ::readdir(dir)) {
    const std::string file = d->d_name;
    if (file == own || file.size() <= suffixLength || file[0] == '.' ||
        file.compare(file.size() - suffixLength, suffixLength, kSuffix) != 0)
      continue;
    if (++read > kMaxEntriesRead) break;
    std::string text, stored;
    int port = 0;
    if (ReadSmallFile(portsDir + "/" + file, &text) && ParsePortEntry(text, range, &stored, &port) &&
        stored != name && fileOf(portsDir, stored) == portsDir + "/" + file)
      ports.push_back(port);
  }
  ::closedir(dir);
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

bool RememberPort(const std::string& portsDir, const std::string& name, int port) {
  const std::string text = "name=" + name + "\nport=" + std::to_string(port) + "\n";
  std::string existing;
  if (ReadSmallFile(fileOf(portsDir, name), &existing) && existing == text) return true;
  return ReplaceSmallFile(fileOf(portsDir, name), text);
}

}  // namespace plombix::standin
