// Drawing and behaviour of the skinned controls (see skin.h).
//
// Title bar, left to right: left image at natural size from x = 0, the
// middle image stretched from the left image's end to the right image's
// start, the right image at natural size against the right edge (drawn last,
// so it stays whole when the left image is wider than the bar). Icon 16 x 16
// at (4, 3); caption after it, vertically centred, elided before the buttons.
// Buttons: first declared against the right edge (3 px margin), each further
// one 1 px to the left of the previous, `top` pixels from the bar's top.
#include "ui/skin.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>
#include <algorithm>

namespace hvq {
namespace {

constexpr int kIconSize = 16;
constexpr int kIconLeft = 4;
constexpr int kCaptionGap = 3;
constexpr int kButtonRightMargin = 3;
constexpr int kButtonSpacing = 1;

// The last resort for Han characters, as "新細明體" looks on the target
// systems.
const char kChineseFace[] = "AR PL UMing TW";

struct ButtonPalette {
  QColor border, text;
  QColor upper_top, upper_bottom, lower_top, lower_bottom;
};

struct ButtonStyle {
  const char* name;
  ButtonPalette normal, hover, pressed;
};

// Glass faces: a light upper half, a step, a deeper lower half that
// brightens again towards the bottom edge.
const ButtonStyle kButtonStyles[] = {
    {"BlueGlass",
     {"#4a78bd", "#0b2346", "#fdfeff", "#e6f0fd", "#cbe0fa", "#e2eefd"},
     {"#2a6ad0", "#0b2346", "#ffffff", "#eef6ff", "#a4cdfb", "#d0e7ff"},
     {"#24518f", "#0b2346", "#d5e5f9", "#c4d9f4", "#a8c6ef", "#bdd5f4"}},
    {"Protein",
     {"#6d7088", "#1d1f2b", "#ffffff", "#efeff5", "#d9dae7", "#ebecf3"},
     {"#575b7a", "#1d1f2b", "#ffffff", "#f6f6fb", "#cfd1e6", "#e6e7f3"},
     {"#474a65", "#1d1f2b", "#dcdde9", "#d0d1e0", "#bfc1d6", "#d1d3e3"}},
};

const ButtonStyle& FindButtonStyle(const QString& name) {
  for (const ButtonStyle& style : kButtonStyles) {
    if (name.compare(QLatin1String(style.name), Qt::CaseInsensitive) == 0) {
      return style;
    }
  }
  return kButtonStyles[0];
}

// Title bar colours used where no images are stored.
struct FrameStyle {
  const char* name;
  QColor title_top, title_bottom;
};
const FrameStyle kFrameStyles[] = {
    {"Protein", "#6f98dc", "#2757a6"},
    {"BlueGlass", "#8fb6ec", "#3f73c4"},
};

const FrameStyle& FindFrameStyle(const QString& name) {
  for (const FrameStyle& style : kFrameStyles) {
    if (name.compare(QLatin1String(style.name), Qt::CaseInsensitive) == 0) {
      return style;
    }
  }
  return kFrameStyles[0];
}

bool HasUiStyle(const QObject* object) {
  return object->metaObject()->indexOfProperty("uiStyle") >= 0;
}

}  // namespace

QStringList FallbackFamilies(const QString& family) {
  QStringList families{family};
  const QString f = family.trimmed();
  if (f.compare(QLatin1String("MS Sans Serif"), Qt::CaseInsensitive) == 0) {
    families << "Microsoft Sans Serif"
             << "Liberation Sans"
             << "DejaVu Sans";
  } else if (f.compare(QLatin1String("Tahoma"), Qt::CaseInsensitive) == 0) {
    // Tahoma is a narrow Verdana; DejaVu Sans is Verdana's metric cousin.
    families << "DejaVu Sans Condensed"
             << "Liberation Sans"
             << "DejaVu Sans";
  } else if (f == QString::fromUtf8("新細明體") ||
             f.compare(QLatin1String("PMingLiU"), Qt::CaseInsensitive) == 0) {
    families << "PMingLiU";
  } else if (f == QString::fromUtf8("細明體") ||
             f.compare(QLatin1String("MingLiU"), Qt::CaseInsensitive) == 0) {
    families << "MingLiU";
  }
  families << QLatin1String(kChineseFace);
  families.removeDuplicates();
  return families;
}

QFont DescriptionFont(QFont font, int height) {
  font.setFamilies(FallbackFamilies(font.families().value(0, font.family())));
  if (height != 0) font.setPixelSize(height < 0 ? -height : height);
  return font;
}

// ------------------------------------------------------------ TsuiForm ---

TsuiForm::TsuiForm(QWidget* parent)
    : QWidget(parent), title_bar_(new TsuiTitleBar(this)) {
  if (parent != nullptr && parent->isWindow()) {
    parent->setWindowFlags(parent->windowFlags() | Qt::Window |
                           Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
    setMouseTracking(true);
  }
  PlaceTitleBar();
}

void TsuiForm::setUiStyle(const QString& style) {
  ui_style_ = style;
  if (auto_update_sub_) {
    for (QObject* child : children()) {
      if (child != title_bar_ && HasUiStyle(child)) {
        child->setProperty("uiStyle", style);
      }
    }
  }
  update();
  title_bar_->update();
}

void TsuiForm::setCaption(const QString& caption) {
  caption_ = caption;
  title_bar_->update();
}

void TsuiForm::setBorderColor(const QColor& color) {
  border_color_ = color;
  update();
}

void TsuiForm::setBorderWidth(int width) {
  border_width_ = std::max(0, width);
  PlaceTitleBar();
  update();
}

void TsuiForm::setColor(const QColor& color) {
  color_ = color;
  update();
}

QPixmap TsuiForm::titleBarLeftImage() const { return title_bar_->left_image; }
void TsuiForm::setTitleBarLeftImage(const QPixmap& image) {
  title_bar_->left_image = image;
  title_bar_->update();
}
QPixmap TsuiForm::titleBarClientImage() const {
  return title_bar_->client_image;
}
void TsuiForm::setTitleBarClientImage(const QPixmap& image) {
  title_bar_->client_image = image;
  title_bar_->update();
}
QPixmap TsuiForm::titleBarRightImage() const { return title_bar_->right_image; }
void TsuiForm::setTitleBarRightImage(const QPixmap& image) {
  title_bar_->right_image = image;
  title_bar_->update();
}
bool TsuiForm::titleBarDrawAppIcon() const { return title_bar_->draw_app_icon; }
void TsuiForm::setTitleBarDrawAppIcon(bool on) {
  title_bar_->draw_app_icon = on;
  title_bar_->update();
}
QFont TsuiForm::titleBarFont() const { return title_bar_->caption_font; }
void TsuiForm::setTitleBarFont(const QFont& font) {
  title_bar_->caption_font = DescriptionFont(font, title_font_height_);
  // Smooth bold glyphs on the title bar whatever the window's text uses.
  title_bar_->caption_font.setStyleStrategy(QFont::PreferAntialias);
  title_bar_->update();
}
void TsuiForm::setTitleBarFontHeight(int height) {
  title_font_height_ = height;
  setTitleBarFont(title_bar_->caption_font);
}
QColor TsuiForm::titleBarFontColor() const { return title_bar_->caption_color; }
void TsuiForm::setTitleBarFontColor(const QColor& color) {
  title_bar_->caption_color = color;
  title_bar_->update();
}

void TsuiForm::AdoptTitleButton(TsuiTitleBarButton* button) {
  title_bar_->AddButton(button);
}

void TsuiForm::PlaceTitleBar() {
  const int b = border_width_;
  title_bar_->setGeometry(b, b, std::max(0, width() - 2 * b),
                          TsuiTitleBar::kHeight);
}

void TsuiForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), color_);
  const int b = border_width_;
  if (b > 0) {
    const int w = width(), h = height();
    p.fillRect(0, 0, w, b, border_color_);
    p.fillRect(0, h - b, w, b, border_color_);
    p.fillRect(0, 0, b, h, border_color_);
    p.fillRect(w - b, 0, b, h, border_color_);
  }
}

void TsuiForm::resizeEvent(QResizeEvent*) { PlaceTitleBar(); }

bool TsuiForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget()) {
    if (event->type() == QEvent::Resize) {
      setGeometry(parentWidget()->rect());
    } else if (event->type() == QEvent::WindowIconChange) {
      title_bar_->update();
    }
  }
  return QWidget::eventFilter(watched, event);
}

Qt::Edges TsuiForm::EdgesAt(const QPoint& pos) const {
  Qt::Edges edges;
  const QWidget* win = window();
  if (win == this || parentWidget() != win ||
      win->minimumSize() == win->maximumSize()) {
    return edges;
  }
  if (pos.x() < kResizeGrip) edges |= Qt::LeftEdge;
  if (pos.x() >= width() - kResizeGrip) edges |= Qt::RightEdge;
  if (pos.y() < border_width_) edges |= Qt::TopEdge;
  if (pos.y() >= height() - kResizeGrip) edges |= Qt::BottomEdge;
  return edges;
}

void TsuiForm::mousePressEvent(QMouseEvent* event) {
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton || edges == Qt::Edges()) {
    QWidget::mousePressEvent(event);
    return;
  }
  QWidget* win = window();
  if (win->windowHandle() != nullptr &&
      win->windowHandle()->startSystemResize(edges)) {
    return;
  }
  resizing_ = edges;
  press_global_ = event->globalPosition().toPoint();
  press_geometry_ = win->geometry();
}

void TsuiForm::mouseMoveEvent(QMouseEvent* event) {
  if (resizing_ == Qt::Edges()) {
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
      const bool main_diagonal =
          (edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
          (edges & Qt::RightEdge && edges & Qt::BottomEdge);
      setCursor(main_diagonal ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    } else if (horizontal) {
      setCursor(Qt::SizeHorCursor);
    } else if (vertical) {
      setCursor(Qt::SizeVerCursor);
    } else {
      unsetCursor();
    }
    return;
  }
  QWidget* win = window();
  const QSize min = win->minimumSize();
  const QPoint d = event->globalPosition().toPoint() - press_global_;
  QRect g = press_geometry_;
  if (resizing_ & Qt::LeftEdge) {
    g.setLeft(std::min(g.left() + d.x(), g.right() - min.width() + 1));
  }
  if (resizing_ & Qt::RightEdge) {
    g.setRight(std::max(g.right() + d.x(), g.left() + min.width() - 1));
  }
  if (resizing_ & Qt::TopEdge) {
    g.setTop(std::min(g.top() + d.y(), g.bottom() - min.height() + 1));
  }
  if (resizing_ & Qt::BottomEdge) {
    g.setBottom(std::max(g.bottom() + d.y(), g.top() + min.height() - 1));
  }
  win->setGeometry(g);
}

void TsuiForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) resizing_ = Qt::Edges();
  QWidget::mouseReleaseEvent(event);
}

// -------------------------------------------------------- TsuiTitleBar ---

TsuiTitleBar::TsuiTitleBar(TsuiForm* form) : QWidget(form), form_(form) {
  setObjectName(QStringLiteral("titleBar"));
  caption_font.setBold(true);
}

void TsuiTitleBar::AddButton(TsuiTitleBarButton* button) {
  button->setParent(this);
  buttons_.push_back(button);
  PlaceButtons();
}

void TsuiTitleBar::PlaceButtons() {
  int right = width() - kButtonRightMargin;
  for (TsuiTitleBarButton* button : buttons_) {
    const QSize size = button->sizeHint();
    button->setGeometry(right - size.width(), button->top(), size.width(),
                        size.height());
    right -= size.width() + kButtonSpacing;
  }
}

QRect TsuiTitleBar::CaptionRect() const {
  const int left =
      draw_app_icon ? kIconLeft + kIconSize + kCaptionGap : kIconLeft + 2;
  int right = width();
  for (const TsuiTitleBarButton* button : buttons_) {
    if (button->isVisibleTo(this)) right = std::min(right, button->x());
  }
  right -= 2;
  return QRect(left, 0, std::max(0, right - left), kHeight);
}

QMenu* TsuiTitleBar::SystemMenu() {
  if (system_menu_ != nullptr) return system_menu_;
  system_menu_ = new QMenu(this);
  system_menu_->setObjectName(QStringLiteral("systemMenu"));
  QAction* restore = system_menu_->addAction(QString::fromUtf8("還原(&R)"));
  restore->setEnabled(false);
  QAction* minimize = system_menu_->addAction(QString::fromUtf8("最小化(&N)"));
  minimize->setObjectName(QStringLiteral("minimizeAction"));
  connect(minimize, &QAction::triggered, this,
          [this] { window()->showMinimized(); });
  QAction* maximize = system_menu_->addAction(QString::fromUtf8("最大化(&X)"));
  maximize->setEnabled(false);
  system_menu_->addSeparator();
  QAction* close =
      system_menu_->addAction(QString::fromUtf8("關閉(&C)\tAlt+F4"));
  close->setObjectName(QStringLiteral("closeAction"));
  QFont bold = close->font();
  bold.setBold(true);
  close->setFont(bold);
  system_menu_->setDefaultAction(close);
  connect(close, &QAction::triggered, this, [this] { window()->close(); });
  return system_menu_;
}

void TsuiTitleBar::ShowSystemMenu(const QPoint& global_pos) {
  SystemMenu()->popup(global_pos);
}

void TsuiTitleBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width();
  if (left_image.isNull() && client_image.isNull() && right_image.isNull()) {
    const FrameStyle& style = FindFrameStyle(form_->uiStyle());
    QLinearGradient g(0, 0, 0, kHeight);
    g.setColorAt(0, style.title_top);
    g.setColorAt(1, style.title_bottom);
    p.fillRect(rect(), g);
  } else {
    const int left_w = left_image.width();
    const int right_w = right_image.width();
    const int middle_w = w - left_w - right_w;
    if (middle_w > 0 && !client_image.isNull()) {
      p.drawPixmap(QRect(left_w, 0, middle_w, kHeight), client_image);
    }
    p.drawPixmap(0, 0, left_image);
    p.drawPixmap(w - right_w, 0, right_image);
  }

  if (draw_app_icon) {
    const QIcon icon = window()->windowIcon();
    if (!icon.isNull()) {
      p.drawPixmap(kIconLeft, (kHeight - kIconSize) / 2,
                   icon.pixmap(kIconSize, kIconSize));
    }
  }

  const QRect caption = CaptionRect();
  p.setFont(caption_font);
  const QString text = p.fontMetrics().elidedText(
      form_->caption(), Qt::ElideRight, caption.width());
  // A soft shadow keeps the white caption legible on the bright upper half.
  p.setPen(QColor(8, 28, 66, 110));
  p.drawText(caption.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, text);
  p.setPen(caption_color);
  p.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void TsuiTitleBar::resizeEvent(QResizeEvent*) { PlaceButtons(); }

void TsuiTitleBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    ShowSystemMenu(event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  QWidget* win = window();
  // Let the window manager move the window where it can; otherwise follow
  // the pointer ourselves.
  if (win->windowHandle() != nullptr &&
      win->windowHandle()->startSystemMove()) {
    return;
  }
  dragging_ = true;
  drag_offset_ = win->pos() - event->globalPosition().toPoint();
}

void TsuiTitleBar::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_)
    window()->move(event->globalPosition().toPoint() + drag_offset_);
}

void TsuiTitleBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
}

// -------------------------------------------------- TsuiTitleBarButton ---

TsuiTitleBarButton::TsuiTitleBarButton(QWidget* parent)
    : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  connect(this, &QAbstractButton::clicked, this, &TsuiTitleBarButton::Act);
  if (auto* form = qobject_cast<TsuiForm*>(parent)) {
    form->AdoptTitleButton(this);
  }
}

void TsuiTitleBarButton::setNormalImage(const QPixmap& image) {
  normal_ = image;
  updateGeometry();
  if (auto* bar = qobject_cast<TsuiTitleBar*>(parentWidget())) {
    bar->PlaceButtons();
  }
}

void TsuiTitleBarButton::setTop(int top) {
  top_ = top;
  if (auto* bar = qobject_cast<TsuiTitleBar*>(parentWidget())) {
    bar->PlaceButtons();
  }
}

QSize TsuiTitleBarButton::sizeHint() const {
  return normal_.isNull() ? QSize(19, 19) : normal_.size();
}

const QPixmap& TsuiTitleBarButton::CurrentImage() const {
  if (isDown() && !pressed_.isNull()) return pressed_;
  if (underMouse() && !hover_.isNull()) return hover_;
  return normal_;
}

void TsuiTitleBarButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, CurrentImage());
}

void TsuiTitleBarButton::Act() {
  QWidget* win = window();
  switch (kind_) {
    case Close:
      win->close();
      break;
    case Minimize:
      win->showMinimized();
      break;
    case ControlBox:
      if (auto* bar = qobject_cast<TsuiTitleBar*>(parentWidget())) {
        bar->ShowSystemMenu(mapToGlobal(QPoint(0, height())));
      }
      break;
  }
}

// ---------------------------------------------------------- TsuiButton ---

TsuiButton::TsuiButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
}

void TsuiButton::setUiStyle(const QString& style) {
  ui_style_ = style;
  update();
}

void TsuiButton::setTransparent(bool on) {
  transparent_ = on;
  update();
}

QSize TsuiButton::sizeHint() const {
  const QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
  return QSize(std::max(75, text.width() + 24),
               std::max(25, text.height() + 10));
}

void TsuiButton::paintEvent(QPaintEvent*) {
  const ButtonStyle& style = FindButtonStyle(ui_style_);
  const ButtonPalette& pal = isDown()                      ? style.pressed
                             : underMouse() && isEnabled() ? style.hover
                                                           : style.normal;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!transparent_) {
    const auto* form = qobject_cast<const TsuiForm*>(parentWidget());
    p.fillRect(rect(), form != nullptr ? form->color()
                                       : palette().color(QPalette::Window));
  }

  const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = 3.0;
  QPainterPath face;
  face.addRoundedRect(outer, radius, radius);
  const qreal mid = outer.top() + outer.height() * 0.5;
  QLinearGradient upper(0, outer.top(), 0, mid);
  upper.setColorAt(0, pal.upper_top);
  upper.setColorAt(1, pal.upper_bottom);
  QLinearGradient lower(0, mid, 0, outer.bottom());
  lower.setColorAt(0, pal.lower_top);
  lower.setColorAt(1, pal.lower_bottom);
  p.save();
  p.setClipPath(face);
  p.fillRect(
      QRectF(outer.left(), outer.top(), outer.width(), mid - outer.top()),
      upper);
  p.fillRect(QRectF(outer.left(), mid, outer.width(), outer.bottom() - mid + 1),
             lower);
  p.restore();

  // Inner highlight, then the rim.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, isDown() ? 70 : 190), 1));
  p.drawRoundedRect(outer.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
  p.setPen(QPen(isEnabled() ? pal.border : QColor("#a0a8b4"), 1));
  p.drawRoundedRect(outer, radius, radius);

  if (hasFocus()) {
    QPen dots(QColor(40, 70, 120, 200), 1, Qt::DotLine);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(dots);
    p.drawRect(rect().adjusted(3, 3, -4, -4));
  }

  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(isEnabled() ? pal.text : QColor("#8a909a"));
  p.setFont(font());
  const QRect text_rect = isDown() ? rect().translated(1, 1) : rect();
  p.drawText(text_rect, Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

void TsuiButton::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      !event->isAutoRepeat()) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

// -------------------------------------------------------- TsuiURLLabel ---

TsuiURLLabel::TsuiURLLabel(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  opener_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  ApplyTextColor();
}

void TsuiURLLabel::setLinkColor(const QColor& color) {
  link_color_ = color;
  ApplyTextColor();
}

void TsuiURLLabel::setHoverColor(const QColor& color) {
  hover_color_ = color;
  ApplyTextColor();
}

void TsuiURLLabel::setFontHeight(int height) {
  font_height_ = height;
  QFont f = DescriptionFont(font(), height);
  // Crisp glyphs in exactly the link colours, as small Ming faces are drawn
  // from their bitmaps.
  f.setStyleStrategy(QFont::NoAntialias);
  setFont(f);
}

void TsuiURLLabel::paintEvent(QPaintEvent*) {
  // The text hangs from the top; when the label is too short for the
  // underline below the baseline, the text moves up just enough to keep it.
  QPainter p(this);
  QFont f = font();
  const bool underline = f.underline();
  f.setUnderline(false);
  p.setFont(f);
  const QFontMetrics fm(f);
  const int gap = std::max(1, fm.underlinePos());
  const int baseline = std::max(1, std::min(fm.ascent(), height() - 1 - gap));
  const int left = contentsRect().left();
  p.setPen(textColor());
  p.drawText(left, baseline, text());
  if (underline) {
    const int width = std::min(fm.horizontalAdvance(text()), this->width());
    p.fillRect(left, baseline + gap, width, 1, textColor());
  }
}

void TsuiURLLabel::ApplyTextColor() {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, textColor());
  setPalette(pal);
  update();
}

void TsuiURLLabel::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  ApplyTextColor();
  QLabel::enterEvent(event);
}

void TsuiURLLabel::leaveEvent(QEvent* event) {
  hovered_ = false;
  ApplyTextColor();
  QLabel::leaveEvent(event);
}

void TsuiURLLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  QLabel::mousePressEvent(event);
}

void TsuiURLLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (!click) return;
  const QString address = url_.trimmed();
  if (!address.isEmpty() && opener_) opener_(QUrl(address));
}

// ---------------------------------------------------- TsuiThemeManager ---

TsuiThemeManager::TsuiThemeManager(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  resize(0, 0);
  hide();
}

void TsuiThemeManager::setUiStyle(const QString& style) {
  ui_style_ = style;
  Apply();
}

void TsuiThemeManager::setComponentList(const QStringList& names) {
  components_ = names;
  Apply();
}

void TsuiThemeManager::Apply() {
  if (ui_style_.isEmpty()) return;
  QWidget* root = window();
  for (const QString& name : components_) {
    QObject* target =
        root->objectName() == name ? root : root->findChild<QObject*>(name);
    if (target != nullptr && target != this && HasUiStyle(target)) {
      target->setProperty("uiStyle", ui_style_);
    }
  }
}

}  // namespace hvq
