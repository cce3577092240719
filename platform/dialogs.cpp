#include "platform/dialogs.h"

#include <cstdio>

namespace cvplatform {

namespace {

// With no dialogs installed: message boxes are written to stderr, every
// question is cancelled.
class FallbackDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& Text, const std::string& Caption) override {
    std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
  }
  SaveAnswer AskSaveChanges(const std::string&) override { return SaveAnswer::Cancel; }
  std::string GetFileName(const FileDialogRequest&) override { return {}; }
  bool ChooseColor(uint32_t, uint32_t*) override { return false; }
  int ChooseVideoMode(const std::string&, const std::string&,
                      const std::vector<std::string>&) override {
    return -1;
  }
};

FallbackDialogs fallback;
Dialogs* current = nullptr;

}  // namespace

Dialogs& CurrentDialogs() { return current ? *current : fallback; }

void SetDialogs(Dialogs* Dialogs) { current = Dialogs; }

std::string ConvertFileFilter(const std::string& Filter) {
  // Split at '|'; pairs of (description, pattern) until an empty description.
  std::vector<std::string> parts;
  std::string part;
  for (char c : Filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::string out;
  for (size_t i = 0; i < parts.size() && !parts[i].empty(); i += 2) {
    if (!out.empty()) out += ";;";
    // "*.*" means every file here; the toolkit spells that "*".
    const std::string& desc = parts[i];
    for (size_t at = 0; at < desc.size(); ++at) {
      if (desc.compare(at, 3, "*.*") == 0) {
        out += '*';
        at += 2;
      } else {
        out += desc[at];
      }
    }
  }
  return out;
}

std::string AddDefaultExtension(const std::string& Path, const std::string& Extension) {
  if (Path.empty() || Extension.empty()) return Path;
  size_t slash = Path.find_last_of('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  if (Path.find('.', nameStart) != std::string::npos) return Path;
  std::string out = Path;
  out += '.';
  out += Extension;
  return out;
}

void ScriptedDialogs::MessageBox(const std::string& Text, const std::string& Caption) {
  Log.push_back({"message", Text, Caption});
}

SaveAnswer ScriptedDialogs::AskSaveChanges(const std::string& Text) {
  Log.push_back({"ask", Text, {}});
  if (SaveAnswers.empty()) return SaveAnswer::Cancel;
  SaveAnswer a = SaveAnswers.front();
  SaveAnswers.pop_front();
  return a;
}

std::string ScriptedDialogs::GetFileName(const FileDialogRequest& Request) {
  Log.push_back({"file", Request.Filter, Request.Title});
  FileRequests.push_back(Request);
  if (FileNames.empty()) return {};
  std::string name = FileNames.front();
  FileNames.pop_front();
  return name;
}

bool ScriptedDialogs::ChooseColor(uint32_t Initial, uint32_t* Chosen) {
  Log.push_back({"color", std::to_string(Initial), {}});
  if (Colors.empty()) return false;
  int64_t c = Colors.front();
  Colors.pop_front();
  if (c < 0) return false;
  if (Chosen) *Chosen = static_cast<uint32_t>(c);
  return true;
}

int ScriptedDialogs::ChooseVideoMode(const std::string& Title, const std::string&,
                                     const std::vector<std::string>& Entries) {
  std::string joined;
  for (const auto& e : Entries) {
    if (!joined.empty()) joined += '\n';
    joined += e;
  }
  Log.push_back({"videomode", joined, Title});
  VideoModeLists.push_back(Entries);
  if (VideoModes.empty()) return -1;
  int i = VideoModes.front();
  VideoModes.pop_front();
  return i;
}

std::vector<std::string> ScriptedDialogs::Messages() const {
  std::vector<std::string> out;
  for (const auto& s : Log)
    if (s.Kind == "message") out.push_back(s.Text);
  return out;
}

}  // namespace cvplatform
