// The dialog interface shown with Qt widgets, and the video-mode list.
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/qtplatform.h"

namespace cvplatform {

namespace {

QWidget* Owner() {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  return QApplication::activeWindow();
}

QString Q(const std::string& S) { return QString::fromStdString(S); }

}  // namespace

VideoModeDialog::VideoModeDialog(const QString& Title, const QString& Prompt,
                                 const QStringList& Entries, QWidget* Parent)
    : QDialog(Parent) {
  setWindowTitle(Title);
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(Prompt, this);
  layout->addWidget(prompt);
  list_ = new QListWidget(this);
  list_->setObjectName("list");
  list_->addItems(Entries);
  // The list scrolls both ways; its horizontal extent is its widest entry.
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* Item) {
    list_->setCurrentItem(Item);
    accept();
  });
  resize(380, 210);
}

int VideoModeDialog::Chosen() const {
  return result() == QDialog::Accepted ? list_->currentRow() : -1;
}

void QtDialogs::MessageBox(const std::string& Text, const std::string& Caption) {
  QMessageBox::warning(Owner(), Q(Caption), Q(Text));
}

SaveAnswer QtDialogs::AskSaveChanges(const std::string& Text) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(), Q(Text),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, Owner());
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save: return SaveAnswer::Save;
    case QMessageBox::Discard: return SaveAnswer::Discard;
    default: return SaveAnswer::Cancel;
  }
}

std::string QtDialogs::GetFileName(const FileDialogRequest& Request) {
  QFileDialog dialog(Owner(), Q(Request.Title), Q(Request.Directory),
                     Q(ConvertFileFilter(Request.Filter)));
  dialog.setAcceptMode(Request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(Request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(Q(Request.DefaultExtension));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  // The dialog adds the suffix only to names it checked itself; a name
  // typed with no extension gets it here as well.
  return AddDefaultExtension(dialog.selectedFiles().first().toStdString(),
                             Request.DefaultExtension);
}

bool QtDialogs::ChooseColor(uint32_t Initial, uint32_t* Chosen) {
  const QColor start(Initial & 0xFF, (Initial >> 8) & 0xFF, (Initial >> 16) & 0xFF);
  const QColor c = QColorDialog::getColor(start, Owner());
  if (!c.isValid()) return false;
  if (Chosen)
    *Chosen = static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
              static_cast<uint32_t>(c.blue()) << 16;
  return true;
}

int QtDialogs::ChooseVideoMode(const std::string& Title, const std::string& Prompt,
                               const std::vector<std::string>& Entries) {
  QStringList list;
  for (const auto& e : Entries) list << Q(e);
  VideoModeDialog dialog(Q(Title), Q(Prompt), list, Owner());
  dialog.exec();
  return dialog.Chosen();
}

}  // namespace cvplatform
