#pragma once
// The common look of the small windows: a fixed-size dialog frame laid out in twips, one
// sans-serif font small enough for every caption, and pictures drawn from the SVG artwork.

#include <QFont>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvaro {

// Resource names of the artwork.
inline const QString IconPicture = QStringLiteral(":/assets/icon.svg");
inline const QString SplashPicture = QStringLiteral(":/assets/splash.svg");
inline const QString AboutPicture = QStringLiteral(":/assets/about.svg");

// Tahoma 8.25 pt where it exists, otherwise the system's sans-serif face at that size.
QFont dialogFont();

// Makes `window` a top-level, modeless, fixed-size dialog: single border, no minimise or
// maximise button, a client area of the given twips, unloaded when closed.
void setupDialogWindow(QWidget* window, const QString& title, int widthTwips, int heightTwips);

// Gives `window` the dialog font, shrunk in quarter points until the caption of every
// one-line label, button and frame in it fits its fixed box. Call after all controls are placed.
void fitDialogFont(QWidget* window);

// Makes a caption wrap within its fixed box. When its words need more lines than the box
// holds, its face is condensed first and made smaller only after that, so it keeps the size
// of the other captions where a condensed face exists. Call after the window's font is set.
void fitWrappedLabel(QLabel* label);

// Controls placed at twips positions, named for tests and for the tab order. A frame draws
// its caption on its top line.
QGroupBox* addFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height);
QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width, int height);
QPushButton* addButton(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height);
QLineEdit* addTextBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                      int width, int height);
// A list plus an editable text. Typing never completes from the list nor adds to it, so
// the text stored is exactly the text typed.
QComboBox* addEditableList(QWidget* parent, const QString& name, const QStringList& items, int left,
                           int top, int width, int height);

// A picture drawn from an SVG resource, scaled to its box. A missing resource leaves the
// box empty. A left click (press and release over it) emits clicked().
class SvgPicture : public QWidget
{
    Q_OBJECT
public:
    SvgPicture(const QString& resource, QWidget* parent);
    bool hasPicture() const { return m_renderer.isValid(); }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QSvgRenderer m_renderer;
};

SvgPicture* addPicture(QWidget* parent, const QString& name, const QString& resource, int left,
                       int top, int width, int height);

} // namespace kelvaro
