#include "gui/main_window.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cstring>

#include "app/messages.h"
#include "gui/artwork.h"
#include "gui/wait_banner.h"

namespace qv::gui {

namespace {

constexpr int kClientWidth = 766;
constexpr int kClientHeight = 530;
constexpr int kBannerHeight = 110;
constexpr int kButtonStripHeight = 48;
constexpr int kMainWidth = 602;
constexpr int kMainHeight = kClientHeight - kBannerHeight - kButtonStripHeight;  // 372
// What a preview shows, as the window keeps it to see when that changes: the chosen picture's
// path, kShowsImageLogo for the image's own logo, empty for nothing, or kNotShown before the
// first load.
constexpr char kNotShown[] = "\n";
constexpr char kShowsImageLogo[] = "\n<image logo>";

QFont ArialPixels(int pixels, bool bold = false) {
  QFont font("Arial");
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFrame* LoweredPanel(QWidget* parent, const char* name, QRect geometry) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setGeometry(geometry);
  return panel;
}

// A 24-bit bitmap (blue, green and red per pixel, top row first) as a picture; nothing for
// another depth.
QPixmap PixmapOf(const Bitmap& bitmap) {
  if (bitmap.bits_per_pixel != 24 || bitmap.width <= 0 || bitmap.height <= 0) return QPixmap();
  QImage image(bitmap.width, bitmap.height, QImage::Format_BGR888);
  for (int32_t y = 0; y < bitmap.height; ++y)
    std::memcpy(image.scanLine(y), bitmap.Row(y), static_cast<size_t>(bitmap.width) * 3);
  return QPixmap::fromImage(image);
}

// "Name|*.a;*.b" as the toolkit writes filters: "Name (*.a *.b)".
QString DialogFilter(const std::string& filter) {
  QString text = QString::fromStdString(filter);
  int bar = text.indexOf('|');
  if (bar < 0) return text;
  QString patterns = text.mid(bar + 1).replace(';', ' ');
  return text.left(bar) + " (" + patterns + ")";
}

// The setting boxes hold the image's own bytes, one character each, as a single-byte text
// box does: shown and typed through Latin-1, so that every byte comes back as it was. (Names of
// files are UTF-8, as every name on this system.)
QString SettingText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
std::string SettingBytes(const QString& text) {
  QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// What a dropped file's extension makes it, in any letter case.
bool IsImageFileName(const QString& name) {
  const QString suffix = QFileInfo(name).suffix().toLower();
  return suffix == "bin" || suffix == "dld";
}
bool IsPictureFileName(const QString& name) {
  const QString suffix = QFileInfo(name).suffix().toLower();
  return suffix == "jpg" || suffix == "jpeg" || suffix == "bmp" || suffix == "png";
}

// The ordinary arrow while a modal dialog or message waits for the user, over the busy cursor
// of the running workflow.
class ArrowCursor {
 public:
  ArrowCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~ArrowCursor() { QApplication::restoreOverrideCursor(); }
  ArrowCursor(const ArrowCursor&) = delete;
  ArrowCursor& operator=(const ArrowCursor&) = delete;
};

}  // namespace

MainWindow::MainWindow(Job& job)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      form_(*this, job) {
  setObjectName("FormMain");
  setFixedSize(kClientWidth, kClientHeight);
  setFont(ArialPixels(14));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  colours.setColor(QPalette::WindowText, Qt::blue);
  setPalette(colours);
  setAutoFillBackground(true);
  setAcceptDrops(true);
  BuildControls();
  if (QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  Run(&TFormMain::FormCreate, nullptr);
  for (auto& [box, edit] : edits_) {
    if (box == &form_.E_OpenFile) edit->setFocus();
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  QFrame* banner = LoweredPanel(this, "Panel1", QRect(0, 0, kClientWidth, kBannerHeight));
  auto* logo = new QLabel(banner);
  logo->setObjectName("I_Logo");
  logo->setGeometry(2, 2, kClientWidth - 4, kBannerHeight - 4);
  logo->setScaledContents(true);
  logo->setPixmap(BannerPicture(kClientWidth - 4, kBannerHeight - 4));

  auto* column = new QWidget(this);
  column->setObjectName("P_Picture");
  column->setGeometry(kMainWidth, kBannerHeight, kClientWidth - kMainWidth, kMainHeight);
  const std::array<std::tuple<const char*, int, Preview*, const char*>, 3> pictures = {
      {{"P_Menu", 0, &form_.I_Boot, "Boot logo"},
       {"P_Boot", 124, &form_.I_Menu, "Menu logo"},
       {"P_Radio", 248, &form_.I_Radio, "Radio logo"}}};
  for (const auto& [name, top, preview, tip] : pictures) {
    QFrame* panel = LoweredPanel(column, name, QRect(0, top, 164, 124));
    panel->setToolTip(QString(tip) + " (drop a .jpg, .bmp or .png picture here to choose it)");
    auto* image = new QLabel(panel);
    image->setObjectName(preview->name);
    image->setGeometry(2, 2, 160, 120);
    image->setScaledContents(true);
    image->setToolTip(panel->toolTip());
    previews_.emplace_back(preview, image);
  }
  shown_pictures_.assign(previews_.size(), kNotShown);

  QFrame* main = LoweredPanel(this, "P_Main", QRect(0, kBannerHeight, kMainWidth, kMainHeight));
  struct Row {
    const char* label;
    EditBox* box;
    Button* button;
    Handler handler;
    const char* tip;  // the button's
  };
  const Row rows[] = {
      {"Open Edit File:", &form_.E_OpenFile, &form_.SB_OpenFile, &TFormMain::SB_OpenFileClick,
       "Open a flash image (.bin) or download file (.dld)"},
      {"Open Boot Logo:", &form_.E_Boot, &form_.SB_Boot, &TFormMain::SB_BootClick,
       "Choose the boot logo picture (.jpg, .bmp or .png)"},
      {"Open Menu Logo:", &form_.E_Menu, &form_.SB_Menu, &TFormMain::SB_BootClick,
       "Choose the menu logo picture (.jpg, .bmp or .png)"},
      {"Open Radio Logo:", &form_.E_Radio, &form_.SB_Radio, &TFormMain::SB_BootClick,
       "Choose the radio logo picture (.jpg, .bmp or .png)"},
      {"Open Default File:", &form_.E_Default, &form_.SB_Default, &TFormMain::SB_DefaultClick,
       "Choose the default channel database (.bin or .dld)"},
      {"Open Key File:", &form_.E_Key, &form_.SB_Key, &TFormMain::SB_DefaultClick,
       "Choose the key block (.bin or .dld)"},
      {"ModeID:", &form_.E_ModeID, nullptr, nullptr, nullptr},
      {"Http Manual Addr:", &form_.E_HttpManuAddr, nullptr, nullptr, nullptr},
      {"Http Auto Addr:", &form_.E_HttpAutoAddr, nullptr, nullptr, nullptr},
      {"Auto App File Name:", &form_.E_AppFile, nullptr, nullptr, nullptr},
      {"Auto All File Name:", &form_.E_AllFile, nullptr, nullptr, nullptr},
      {"Auto Data File Name:", &form_.E_DataFile, nullptr, nullptr, nullptr},
      {"Auto Default File Name:", &form_.E_DefaultFile, nullptr, nullptr, nullptr},
      {"Auto Key File Name:", &form_.E_KeyFile, nullptr, nullptr, nullptr},
  };
  int top = 7;
  for (const Row& row : rows) {
    AddRow(main, top, row.label, *row.box, row.button, row.handler);
    if (row.button) buttons_.back().second->setToolTip(row.tip);
    top += 25;
  }

  QFrame* strip =
      LoweredPanel(this, "P_Button",
                   QRect(0, kClientHeight - kButtonStripHeight, kClientWidth, kButtonStripHeight));
  AddCommandButton(strip, 300, "Reset", "black", form_.SB_Reset, &TFormMain::SB_ResetClick,
                   int(Glyph::kReset))
      ->setToolTip("Close the image and forget every choice and edit");
  AddCommandButton(strip, 470, "Start", "blue", form_.SB_Start, &TFormMain::SB_StartClick,
                   int(Glyph::kStart))
      ->setToolTip("Write the merged image and the new download file beside the opened image");
  AddCommandButton(strip, 640, "Cancel", "red", form_.SB_Close, &TFormMain::SB_CloseClick,
                   int(Glyph::kCancel))
      ->setToolTip("End the program; the working files are removed");
}

QLineEdit* MainWindow::AddRow(QWidget* panel, int top, const char* text, EditBox& box,
                              Button* button, Handler handler) {
  auto* label = new QLabel(text, panel);
  label->setObjectName(QString("L_") + (box.name + 2));
  label->setFont(ArialPixels(14));
  label->setStyleSheet("color: navy;");
  label->adjustSize();
  label->move(12, top + 3);

  auto* edit = new QLineEdit(panel);
  edit->setObjectName(box.name);
  edit->setGeometry(165, top, 404, 22);
  edit->setFrame(false);
  edit->setFont(ArialPixels(14));
  QPalette colours = edit->palette();
  colours.setColor(QPalette::Text, QColor(0, 0, 128));
  edit->setPalette(colours);
  connect(edit, &QLineEdit::textEdited, this,
          [&box](const QString& value) { box.Type(SettingBytes(value)); });
  edits_.emplace_back(&box, edit);

  if (button) {
    auto* tool = new QToolButton(panel);
    tool->setObjectName(button->name);
    tool->setGeometry(572, top, 25, 22);
    tool->setAutoRaise(true);
    tool->setIcon(GlyphPicture(Glyph::kOpen, 16));
    tool->setIconSize(QSize(16, 16));
    connect(tool, &QToolButton::clicked, this, [this, handler, button] { Run(handler, button); });
    buttons_.emplace_back(button, tool);
  }
  return edit;
}

QAbstractButton* MainWindow::AddCommandButton(QWidget* panel, int left, const char* caption,
                                              const char* colour, Button& button, Handler handler,
                                              int glyph) {
  auto* tool = new QToolButton(panel);
  tool->setObjectName(button.name);
  tool->setGeometry(left, 4, 100, 40);
  tool->setAutoRaise(true);
  tool->setText(caption);
  tool->setFont(ArialPixels(14, true));
  tool->setStyleSheet(
      QString("QToolButton { color: %1; } QToolButton:disabled { color: gray; }").arg(colour));
  tool->setIcon(GlyphPicture(static_cast<Glyph>(glyph), 24));
  tool->setIconSize(QSize(24, 24));
  tool->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  connect(tool, &QToolButton::clicked, this, [this, handler, &button] { Run(handler, &button); });
  buttons_.emplace_back(&button, tool);
  return tool;
}

void MainWindow::Run(Handler handler, const Control* sender) {
  Run([this, handler, sender] { (form_.*handler)(sender); });
}

void MainWindow::OpenFile(const std::string& path) {
  Run([this, &path] { form_.OpenNamedFile(path); });
}

std::optional<MainWindow::DropAction> MainWindow::DropActionFor(const QMimeData* data,
                                                                QPoint position) {
  if (!data || !data->hasUrls() || data->urls().size() != 1 || form_.Busy()) return std::nullopt;
  const QUrl url = data->urls().front();
  if (!url.isLocalFile()) return std::nullopt;
  const QString path = url.toLocalFile();
  if (IsImageFileName(path)) return DropAction{path.toStdString(), std::nullopt};
  if (!IsPictureFileName(path) || !form_.SB_Boot.enabled) return std::nullopt;
  for (const auto& [preview, label] : previews_) {
    const QWidget* panel = label->parentWidget();
    if (!panel->rect().contains(panel->mapFrom(this, position))) continue;
    const std::array<Preview*, 3> kinds = form_.Previews();
    const auto index =
        static_cast<size_t>(std::find(kinds.begin(), kinds.end(), preview) - kinds.begin());
    return DropAction{path.toStdString(), kLogos[index].kind};
  }
  return std::nullopt;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // Accepted wherever the file may go: a picture is taken only over a preview (see the moves).
  const QMimeData* data = event->mimeData();
  if (data && data->hasUrls() && data->urls().size() == 1 && data->urls().front().isLocalFile() &&
      (IsImageFileName(data->urls().front().toLocalFile()) ||
       IsPictureFileName(data->urls().front().toLocalFile()))) {
    event->acceptProposedAction();
  }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (DropActionFor(event->mimeData(), event->position().toPoint()))
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::optional<DropAction> action = DropActionFor(event->mimeData(), event->position().toPoint());
  if (!action) return event->ignore();
  event->acceptProposedAction();
  // Run once the drop has ended, so that no message box holds the program the file came from.
  QMetaObject::invokeMethod(
      this,
      [this, action = *action] {
        if (action.logo)
          Run([this, &action] { form_.ChooseNamedPicture(*action.logo, action.path); });
        else
          OpenFile(action.path);
      },
      Qt::QueuedConnection);
}

void MainWindow::Run(const std::function<void()>& command) {
  if (form_.Busy()) return;
  // The previews are loaded afresh once per command: a picture chosen again under the same
  // name may have changed since.
  shown_pictures_.assign(previews_.size(), kNotShown);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    command();
  } catch (const std::exception& error) {
    // Anything the system raises besides the input/output errors that the workflows report
    // (memory, say) ends only the workflow that met it.
    QApplication::restoreOverrideCursor();
    SyncFromModel();
    ShowMessage(MessageKind::kRunTimeError, error.what());
    return;
  }
  QApplication::restoreOverrideCursor();
  SyncFromModel();
}

void MainWindow::SyncFromModel() {
  setWindowTitle(QString::fromStdString(form_.Caption));
  const QColor button_face = QApplication::palette().color(QPalette::Button);
  const QColor window = QApplication::palette().color(QPalette::Base);
  const std::array<EditBox*, 8> settings = form_.SettingBoxes();
  for (auto& [box, edit] : edits_) {
    const bool setting = std::find(settings.begin(), settings.end(), box) != settings.end();
    QString text = setting ? SettingText(box->text) : QString::fromStdString(box->text);
    edit->setReadOnly(box->read_only);
    // The limit is for typing; a longer text the image holds is still shown whole.
    const int limit = box->max_length > 0 ? box->max_length : 32767;
    edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    if (edit->text() != text) edit->setText(text);
    QPalette colours = edit->palette();
    colours.setColor(QPalette::Base, box->colour == BoxColour::kWindow ? window : button_face);
    edit->setPalette(colours);
  }
  for (auto& [button, widget] : buttons_)
    widget->setEnabled(button->enabled);
  for (size_t i = 0; i < previews_.size(); ++i) {
    auto& [preview, label] = previews_[i];
    // A chosen picture, else the image's own logo.
    const std::string shown = !preview->picture_path.empty() ? preview->picture_path
                              : preview->image_logo          ? kShowsImageLogo
                                                             : "";
    if (shown_pictures_[i] == shown) continue;
    shown_pictures_[i] = shown;
    label->setPixmap(!preview->picture_path.empty()
                         ? QPixmap(QString::fromStdString(preview->picture_path))
                     : preview->image_logo ? PixmapOf(*preview->image_logo)
                                           : QPixmap());
  }
}

std::optional<std::string> MainWindow::ShowOpenDialog(const std::string& filter,
                                                      const std::string& title) {
  if (dialog_hook) return dialog_hook(filter, title);
  ArrowCursor arrow;
  QString chosen = QFileDialog::getOpenFileName(this, QString::fromStdString(title), QString(),
                                                DialogFilter(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void MainWindow::ShowMessage(MessageKind kind, const std::string& text) {
  SyncFromModel();
  if (message_hook) return message_hook(kind, text);
  QString shown = QString::fromStdString(text).replace('\r', '\n');
  QMessageBox::Icon icon = kind == MessageKind::kError || kind == MessageKind::kRunTimeError
                               ? QMessageBox::Critical
                           : kind == MessageKind::kInformation ? QMessageBox::Information
                                                               : QMessageBox::NoIcon;
  QMessageBox box(icon, CaptionOf(kind), shown, QMessageBox::Ok, this);
  ArrowCursor arrow;
  box.exec();
}

bool MainWindow::AskYesNo(const std::string& text) {
  SyncFromModel();
  if (question_hook) return question_hook(text);
  QMessageBox box(QMessageBox::Question, text::kApplicationTitle,
                  QString::fromStdString(text).replace('\r', '\n'),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  ArrowCursor arrow;
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> MainWindow::ChooseFolder(const std::string& title) {
  if (folder_hook) return folder_hook(title);
  ArrowCursor arrow;
  QString chosen = QFileDialog::getExistingDirectory(this, QString::fromStdString(title));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void MainWindow::ShowWaitBanner() {
  banner_ = std::make_unique<WaitBanner>();
  banner_->ShowNow();
}

void MainWindow::CloseWaitBanner() {
  if (banner_) banner_->close();
  banner_.reset();
}

void MainWindow::ProcessPendingEvents() {
  QApplication::processEvents();
}

void MainWindow::EndProgram(int exit_code) {
  if (end_hook) return end_hook(exit_code);
  QApplication::exit(exit_code);
}

void MainWindow::ControlsChanged() {
  SyncFromModel();
}

}  // namespace qv::gui
