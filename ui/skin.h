// The skinned controls of the main window.
//
// TsuiForm replaces the window's border and title bar: it makes its window
// frameless, covers the window's client area and draws a 1-pixel border, its
// client colour and a title bar (TsuiTitleBar) built from three stored
// images: a left image and a right image at natural size and a middle image
// stretched between them. Title-bar buttons (TsuiTitleBarButton) declared as
// children of a TsuiForm move into its title bar in declaration order and are
// placed from the right edge leftwards. TsuiButton is a skinned push button,
// TsuiURLLabel a link label that opens its address, TsuiThemeManager hands a
// style to a list of components by name.
//
// Every value that shapes the look is a Qt property, set by the form
// description (a Designer .ui file). Font heights follow the negative-height
// convention of that description: -11 is a character height of 11 pixels.
// The widgets are owned by their Qt parent.
#ifndef HVQ_UI_SKIN_H_
#define HVQ_UI_SKIN_H_

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

class QMenu;

namespace hvq {

// `font` with its size set from a description height (negative: character
// height in pixels) and its family extended with installed fallbacks of
// similar metrics, ending with a Traditional Chinese face for Han text.
QFont DescriptionFont(QFont font, int height);

// The family list DescriptionFont gives a family name, first entry first.
QStringList FallbackFamilies(const QString& family);

class TsuiTitleBar;
class TsuiTitleBarButton;

class TsuiForm : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString uiStyle READ uiStyle WRITE setUiStyle)
  Q_PROPERTY(bool uiStyleAutoUpdateSub READ uiStyleAutoUpdateSub WRITE
                 setUiStyleAutoUpdateSub)
  Q_PROPERTY(QString caption READ caption WRITE setCaption)
  Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
  Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)
  Q_PROPERTY(QColor color READ color WRITE setColor)
  Q_PROPERTY(QPixmap titleBarLeftImage READ titleBarLeftImage WRITE
                 setTitleBarLeftImage)
  Q_PROPERTY(QPixmap titleBarClientImage READ titleBarClientImage WRITE
                 setTitleBarClientImage)
  Q_PROPERTY(QPixmap titleBarRightImage READ titleBarRightImage WRITE
                 setTitleBarRightImage)
  Q_PROPERTY(bool titleBarDrawAppIcon READ titleBarDrawAppIcon WRITE
                 setTitleBarDrawAppIcon)
  Q_PROPERTY(QFont titleBarFont READ titleBarFont WRITE setTitleBarFont)
  Q_PROPERTY(int titleBarFontHeight READ titleBarFontHeight WRITE
                 setTitleBarFontHeight)
  Q_PROPERTY(QColor titleBarFontColor READ titleBarFontColor WRITE
                 setTitleBarFontColor)

 public:
  // A frame made for a window (a parent that is a window) makes that window
  // frameless and follows its size.
  explicit TsuiForm(QWidget* parent = nullptr);

  QString uiStyle() const { return ui_style_; }
  // Also restyles the direct children that have a uiStyle property when
  // uiStyleAutoUpdateSub is set.
  void setUiStyle(const QString& style);
  bool uiStyleAutoUpdateSub() const { return auto_update_sub_; }
  void setUiStyleAutoUpdateSub(bool on) { auto_update_sub_ = on; }
  QString caption() const { return caption_; }
  void setCaption(const QString& caption);
  QColor borderColor() const { return border_color_; }
  void setBorderColor(const QColor& color);
  int borderWidth() const { return border_width_; }
  void setBorderWidth(int width);
  QColor color() const { return color_; }
  void setColor(const QColor& color);
  QPixmap titleBarLeftImage() const;
  void setTitleBarLeftImage(const QPixmap& image);
  QPixmap titleBarClientImage() const;
  void setTitleBarClientImage(const QPixmap& image);
  QPixmap titleBarRightImage() const;
  void setTitleBarRightImage(const QPixmap& image);
  bool titleBarDrawAppIcon() const;
  void setTitleBarDrawAppIcon(bool on);
  QFont titleBarFont() const;
  void setTitleBarFont(const QFont& font);
  int titleBarFontHeight() const { return title_font_height_; }
  void setTitleBarFontHeight(int height);
  QColor titleBarFontColor() const;
  void setTitleBarFontColor(const QColor& color);

  TsuiTitleBar* titleBar() const { return title_bar_; }
  // Called by a title-bar button made with this frame as its parent.
  void AdoptTitleButton(TsuiTitleBarButton* button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The edges of the frame resize the window (within kResizeGrip pixels of
  // the sides and the bottom, on the border line at the top).
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static constexpr int kResizeGrip = 4;

  void PlaceTitleBar();
  Qt::Edges EdgesAt(const QPoint& pos) const;

  QString ui_style_;
  bool auto_update_sub_ = false;
  QString caption_;
  QColor border_color_ = Qt::black;
  int border_width_ = 1;
  QColor color_ = QColor(251, 251, 251);
  int title_font_height_ = 0;
  TsuiTitleBar* title_bar_;
  // While resizing without the window manager's help: the edges held, the
  // pointer and window geometry at the press.
  Qt::Edges resizing_;
  QPoint press_global_;
  QRect press_geometry_;
};

// The title bar: images, icon, caption, buttons; dragging it moves the
// window. Owned by its TsuiForm.
class TsuiTitleBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 23;

  explicit TsuiTitleBar(TsuiForm* form);

  QPixmap left_image, client_image, right_image;
  bool draw_app_icon = true;
  QFont caption_font;
  QColor caption_color = Qt::white;

  // Buttons, first declared first; the first sits at the right edge.
  const std::vector<TsuiTitleBarButton*>& buttons() const { return buttons_; }
  void AddButton(TsuiTitleBarButton* button);
  // Where the caption may be drawn (between the icon and the buttons).
  QRect CaptionRect() const;
  // The system menu; built on first use, owned by the title bar.
  QMenu* SystemMenu();
  void ShowSystemMenu(const QPoint& global_pos);
  // Places the buttons against the right edge, first declared rightmost.
  void PlaceButtons();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TsuiForm* form_;
  std::vector<TsuiTitleBarButton*> buttons_;
  QMenu* system_menu_ = nullptr;
  bool dragging_ = false;
  QPoint drag_offset_;  // window position minus pointer, while dragging
};

// One title-bar button: three stored images (normal, pointer over it,
// pressed) and what it does to its window.
class TsuiTitleBarButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(Kind kind READ kind WRITE setKind)
  Q_PROPERTY(QPixmap normalImage READ normalImage WRITE setNormalImage)
  Q_PROPERTY(QPixmap hoverImage READ hoverImage WRITE setHoverImage)
  Q_PROPERTY(QPixmap pressedImage READ pressedImage WRITE setPressedImage)
  Q_PROPERTY(int top READ top WRITE setTop)

 public:
  enum Kind { Close, Minimize, ControlBox };
  Q_ENUM(Kind)

  explicit TsuiTitleBarButton(QWidget* parent = nullptr);

  Kind kind() const { return kind_; }
  void setKind(Kind kind) { kind_ = kind; }
  QPixmap normalImage() const { return normal_; }
  void setNormalImage(const QPixmap& image);
  QPixmap hoverImage() const { return hover_; }
  void setHoverImage(const QPixmap& image) { hover_ = image; }
  QPixmap pressedImage() const { return pressed_; }
  void setPressedImage(const QPixmap& image) { pressed_ = image; }
  int top() const { return top_; }
  void setTop(int top);
  // The image for the button's current state.
  const QPixmap& CurrentImage() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Act();

  Kind kind_ = Close;
  QPixmap normal_, hover_, pressed_;
  int top_ = 2;
};

// A push button in the "BlueGlass" or "Protein" style.
class TsuiButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString uiStyle READ uiStyle WRITE setUiStyle)
  Q_PROPERTY(bool transparent READ transparent WRITE setTransparent)

 public:
  explicit TsuiButton(QWidget* parent = nullptr);

  QString uiStyle() const { return ui_style_; }
  void setUiStyle(const QString& style);
  // When false the corners around the rounded face are filled with the
  // parent's background colour instead of showing what lies beneath.
  bool transparent() const { return transparent_; }
  void setTransparent(bool on);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Enter clicks the focused button, as Space does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString ui_style_ = QStringLiteral("BlueGlass");
  bool transparent_ = true;
};

// A link label: `linkColor` normally, `hoverColor` while the pointer is over
// it; a click opens `url` unless the address is empty after trimming.
class TsuiURLLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString url READ url WRITE setUrl)
  Q_PROPERTY(QColor linkColor READ linkColor WRITE setLinkColor)
  Q_PROPERTY(QColor hoverColor READ hoverColor WRITE setHoverColor)
  Q_PROPERTY(int fontHeight READ fontHeight WRITE setFontHeight)

 public:
  // Receives the address to open. The default hands it to
  // QDesktopServices::openUrl.
  using Opener = std::function<void(const QUrl&)>;

  explicit TsuiURLLabel(QWidget* parent = nullptr);

  QString url() const { return url_; }
  void setUrl(const QString& url) { url_ = url; }
  QColor linkColor() const { return link_color_; }
  void setLinkColor(const QColor& color);
  QColor hoverColor() const { return hover_color_; }
  void setHoverColor(const QColor& color);
  int fontHeight() const { return font_height_; }
  void setFontHeight(int height);
  void setOpener(Opener opener) { opener_ = std::move(opener); }

  bool hovered() const { return hovered_; }
  // The colour the text is drawn in now.
  QColor textColor() const { return hovered_ ? hover_color_ : link_color_; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ApplyTextColor();

  QString url_;
  QColor link_color_ = QColor(0, 0, 255);
  QColor hover_color_ = QColor(255, 0, 0);
  int font_height_ = 0;
  bool hovered_ = false;
  bool pressed_ = false;
  Opener opener_;
};

// Gives its style to the components named in componentList (found by object
// name in the same window) whenever either property is set. Has no look of
// its own: it is never shown.
class TsuiThemeManager : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString uiStyle READ uiStyle WRITE setUiStyle)
  Q_PROPERTY(
      QStringList componentList READ componentList WRITE setComponentList)

 public:
  explicit TsuiThemeManager(QWidget* parent = nullptr);

  QString uiStyle() const { return ui_style_; }
  void setUiStyle(const QString& style);
  QStringList componentList() const { return components_; }
  void setComponentList(const QStringList& names);

 private:
  void Apply();

  QString ui_style_;
  QStringList components_;
};

}  // namespace hvq

#endif  // HVQ_UI_SKIN_H_
