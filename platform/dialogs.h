// The dialogs the framework and the program show: message boxes, the
// unsaved-changes question, file dialogs, the colour dialog and the
// video-mode list. Code that shows a dialog asks the current Dialogs object;
// the program installs the Qt implementation, tests install ScriptedDialogs
// and answer without a person. With none installed, message boxes go to the
// standard error stream and every other dialog is cancelled.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace cvplatform {

// What the unsaved-changes question returns.
enum class SaveAnswer { Save, Discard, Cancel };

struct FileDialogRequest {
  bool Save = false;             // a save dialog (asks before overwriting)
  std::string Title;             // empty: the toolkit's own title
  std::string Filter;            // "Desc (*.act)|*.act|All Files (*.*)|*.*||"
  std::string DefaultExtension;  // "act": added to a typed name without one
  std::string Directory;         // where the dialog starts; empty: the current one
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal OK message box.
  virtual void MessageBox(const std::string& Text, const std::string& Caption) = 0;
  // Asks whether to save changes before they would be lost.
  virtual SaveAnswer AskSaveChanges(const std::string& Text) = 0;
  // A full path, or empty when the user cancelled.
  virtual std::string GetFileName(const FileDialogRequest& Request) = 0;
  // The colour dialog starting from Initial (0x00BBGGRR); false when cancelled.
  virtual bool ChooseColor(uint32_t Initial, uint32_t* Chosen) = 0;
  // The video-mode list: Entries in order with the first selected; the index
  // taken by OK or a double click, or -1 for Cancel.
  virtual int ChooseVideoMode(const std::string& Title, const std::string& Prompt,
                              const std::vector<std::string>& Entries) = 0;
};

// The installed dialogs (never null: a fallback when nothing is installed).
Dialogs& CurrentDialogs();
// Installs Dialogs (not owned); null restores the fallback.
void SetDialogs(Dialogs* Dialogs);

// A filter in the "Desc|pattern|Desc|pattern||" form as the toolkit's
// "Desc;;Desc" form: "Actor Files (*.act)|*.act|All Files (*.*)|*.*||"
// becomes "Actor Files (*.act);;All Files (*)".
std::string ConvertFileFilter(const std::string& Filter);

// Adds ".Extension" to Path when its file name has no extension.
std::string AddDefaultExtension(const std::string& Path, const std::string& Extension);

// Answers queued by a test, and a record of every dialog shown. A dialog with
// no queued answer is cancelled (message boxes are only recorded).
class ScriptedDialogs : public Dialogs {
 public:
  struct Shown {
    std::string Kind;  // "message", "ask", "file", "color", "videomode"
    std::string Text;  // message text, file dialog filter, or joined entries
    std::string Caption;
  };

  std::deque<SaveAnswer> SaveAnswers;
  std::deque<std::string> FileNames;  // "" answers Cancel
  std::deque<int64_t> Colors;         // -1 answers Cancel
  std::deque<int> VideoModes;
  std::vector<Shown> Log;
  std::vector<FileDialogRequest> FileRequests;
  std::vector<std::vector<std::string>> VideoModeLists;

  void MessageBox(const std::string& Text, const std::string& Caption) override;
  SaveAnswer AskSaveChanges(const std::string& Text) override;
  std::string GetFileName(const FileDialogRequest& Request) override;
  bool ChooseColor(uint32_t Initial, uint32_t* Chosen) override;
  int ChooseVideoMode(const std::string& Title, const std::string& Prompt,
                      const std::vector<std::string>& Entries) override;
  // Message-box texts in the order shown.
  std::vector<std::string> Messages() const;
};

}  // namespace cvplatform
