#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Dialogs.h"

namespace tuva::app {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The widest a message box grows on `screen` before its text wraps anywhere; the label keeps
// room for the icon and the margins inside that.
int WidestLabel(const QScreen* screen) {
  const int available = screen ? screen->availableGeometry().width() : 1024;
  const int box = available <= 1024 ? available : std::min(available - 480, 1000);
  return std::max(box - 120, 200);
}

// The room a title bar takes besides its caption, in lines of text: the window's icon and its
// three buttons with their spacing.
constexpr int kTitleBarButtonRoom = 7;

// Lines that would not fit break after a '/' rather than inside a word: a zero-width space
// after each separator shows nothing, it only marks the places a line may end.
QString BreakablePaths(const QString& text) {
  QString shown = text;
  shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
  return shown;
}

}  // namespace

std::unique_ptr<QMessageBox> QtDialogs::BuildMessageBox(const QString& caption, const QString& text,
                                                        MessageIcon icon) const {
  auto box = std::make_unique<QMessageBox>(ToQt(icon), caption, text, QMessageBox::Ok, parent_);
  auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (!label) return box;
  const QScreen* screen = parent_ ? parent_->screen() : box->screen();
  const int widest = WidestLabel(screen);
  int needed = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    needed = std::max(needed, label->fontMetrics().horizontalAdvance(line));
  needed += label->fontMetrics().averageCharWidth();  // the label's own margin
  if (needed > widest) label->setText(BreakablePaths(text));
  // The title bar shows the caption whole beside the window manager's icon and buttons (a box as
  // narrow as "Read Sucess!" showed "F…el" of "FVantel").
  QFont titleFont = box->font();
  titleFont.setBold(true);
  const int title = QFontMetrics(titleFont).horizontalAdvance(caption) +
                    kTitleBarButtonRoom * label->fontMetrics().lineSpacing();
  label->setMinimumWidth(std::min(std::max(needed, title), widest));
  return box;
}

void QtDialogs::Message(const QString& text) {
  MessageBox(kAppTitle, text, MessageIcon::None);
}

void QtDialogs::MessageBox(const QString& caption, const QString& text, MessageIcon icon) {
  BuildMessageBox(caption, text, icon)->exec();
}

bool QtDialogs::YesNo(const QString& caption, const QString& text) {
  const auto box = BuildMessageBox(caption, text, MessageIcon::Exclamation);
  box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  return box->exec() == QMessageBox::Yes;
}

bool QtDialogs::YesNoDefaultNo(const QString& caption, const QString& text) {
  const auto box = BuildMessageBox(caption, text, MessageIcon::Exclamation);
  box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  return box->exec() == QMessageBox::Yes;
}

SaveChoice QtDialogs::AskSave(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent_);
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Save:
      return SaveChoice::Save;
    case QMessageBox::Discard:
      return SaveChoice::Discard;
    default:
      return SaveChoice::Cancel;
  }
}

std::optional<QString> QtDialogs::InputText(const QString& caption, const QString& prompt,
                                            const QString& initial) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initial, &ok);
  if (!ok) return std::nullopt;
  return text;
}

CheckedInputDialog::CheckedInputDialog(const QString& caption, const QString& prompt,
                                       const QString& initial, Dialogs::Refusal refusal,
                                       QWidget* parent)
    : QDialog(parent),
      check_(std::move(refusal)),
      field_(new QLineEdit(initial, this)),
      refusal_(new QLabel(this)) {
  setWindowTitle(caption);
  field_->setObjectName(QStringLiteral("edtInput"));
  field_->setMinimumWidth(field_->fontMetrics().averageCharWidth() * 48);
  refusal_->setObjectName(QStringLiteral("lblRefusal"));
  refusal_->setWordWrap(true);
  QPalette palette = refusal_->palette();
  palette.setColor(QPalette::WindowText, QColor(176, 0, 0));
  refusal_->setPalette(palette);
  refusal_->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(prompt, this);
  label->setBuddy(field_);
  layout->addWidget(label);
  layout->addWidget(field_);
  layout->addWidget(refusal_);
  layout->addWidget(buttons);
  // Typing again means the reason shown is about a text that is no longer there.
  connect(field_, &QLineEdit::textEdited, refusal_, &QWidget::hide);
}

void CheckedInputDialog::accept() {
  const QString why = check_(field_->text());
  if (why.isEmpty()) {
    QDialog::accept();
    return;
  }
  refusal_->setText(why);
  refusal_->show();
  field_->setFocus();
}

std::optional<QString> QtDialogs::InputChecked(const QString& caption, const QString& prompt,
                                               const QString& initial, const Refusal& refusal) {
  CheckedInputDialog dialog(caption, prompt, initial, refusal, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.field()->text();
}

std::optional<QString> QtDialogs::OpenFile(const QString& directory, const QString& filter) {
  QFileDialog dialog(parent_, QString(), directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogs::SaveFile(const QString& caption, const QString& directory,
                                           const QString& filter, const QString& suffix) {
  QFileDialog dialog(parent_, caption, directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);  // the dialog also asks before overwriting a file
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

}  // namespace tuva::app
