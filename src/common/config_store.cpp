#include "common/config_store.h"

#include <fstream>
#include <sstream>

namespace dravolin {
namespace {

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string ConfigStore::value(const std::string& section, const std::string& name) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return {};
  auto v = s->second.find(name);
  return v == s->second.end() ? std::string{} : v->second;
}

void ConfigStore::setValue(const std::string& section, const std::string& name, const std::string& value) {
  sections_[section][name] = value;
}

void ConfigStore::removeSection(const std::string& section) { sections_.erase(section); }

std::vector<std::string> ConfigStore::names(const std::string& section) const {
  std::vector<std::string> out;
  auto s = sections_.find(section);
  if (s != sections_.end())
    for (const auto& [name, value] : s->second) out.push_back(name);
  return out;
}

void ConfigStore::load() {
  sections_.clear();
  if (file_.empty()) return;
  std::ifstream in(file_);
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    sections_[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
}

bool ConfigStore::save() const {
  if (file_.empty()) return false;
  std::error_code ec;
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
  std::ostringstream out;
  for (const auto& [section, values] : sections_) {
    out << '[' << section << "]\n";
    for (const auto& [name, value] : values) out << name << '=' << value << '\n';
    out << '\n';
  }
  auto temporary = file_;
  temporary += ".tmp";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << out.str();
    if (!file) return false;
  }
  std::filesystem::rename(temporary, file_, ec);
  return !ec;
}

}  // namespace dravolin
