#include "windows/window_style.h"

#include "windows/twips.h"

#include <QComboBox>
#include <QFile>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <qdrawutil.h>

namespace kelvaro {

namespace {

constexpr double DialogPointSize = 8.25;
// Below this a caption would be hard to read; a window that needs less keeps this size.
constexpr double SmallestPointSize = 6.0;
// Room a frame's title needs beside its text: the frame line's indent on either side.
constexpr int FrameTitleIndent = 8;

// A frame whose caption sits on its top line, as in the classic dialog frame, rather than
// above it as some styles draw it: the controls inside are placed 12 to 16 pixels below
// the frame's top edge and would otherwise run into the line.
class CaptionedFrame : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched line, drawn here because styles differ in where they put a frame's top.
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1,
                       0);
        if (title().isEmpty())
            return;
        const QRect caption(FrameTitleIndent - 2, 0, metrics.horizontalAdvance(title()) + 4,
                            metrics.height());
        painter.fillRect(caption, palette().window());
        style()->drawItemText(&painter, caption, Qt::AlignCenter, palette(), isEnabled(), title(),
                              QPalette::WindowText);
    }
};

bool captionsFit(const QWidget* window, const QFont& font)
{
    const QFontMetricsF metrics(font);
    QFont boldFont = font;
    boldFont.setBold(true);
    const QFontMetricsF boldMetrics(boldFont);
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        // A label that sets only its weight measures in the window's face made bold.
        // Wrapping captions are fitted on their own (fitWrappedLabel).
        if (label->wordWrap())
            continue;
        const QFontMetricsF& labelMetrics = label->font().bold() ? boldMetrics : metrics;
        const QRect room = label->contentsRect();
        const QRectF needed =
            labelMetrics.boundingRect(QRectF(0, 0, room.width(), 1e6), 0, label->text());
        if (needed.width() > room.width() || needed.height() > room.height())
            return false;
    }
    const int buttonMargin = window->style()->pixelMetric(QStyle::PM_ButtonMargin);
    for (const QPushButton* button : window->findChildren<QPushButton*>()) {
        if (metrics.horizontalAdvance(button->text()) + 2 * buttonMargin > button->width())
            return false;
    }
    for (const QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        if (metrics.horizontalAdvance(frame->title()) + 2 * FrameTitleIndent > frame->width())
            return false;
    }
    return true;
}

} // namespace

QFont dialogFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(DialogPointSize);
    return font;
}

void setupDialogWindow(QWidget* window, const QString& title, int widthTwips, int heightTwips)
{
    window->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
    window->setFixedSize(twips(widthTwips), twips(heightTwips));
    if (QFile::exists(IconPicture))
        window->setWindowIcon(QIcon(IconPicture));
}

void fitDialogFont(QWidget* window)
{
    QFont font = dialogFont();
    while (font.pointSizeF() > SmallestPointSize && !captionsFit(window, font))
        font.setPointSizeF(font.pointSizeF() - 0.25);
    window->setFont(font);
}

void fitWrappedLabel(QLabel* label)
{
    label->setWordWrap(true);
    const auto fits = [label] { return label->heightForWidth(label->width()) <= label->height(); };
    QFont font = label->font();
    for (const int stretch : {QFont::SemiCondensed, QFont::Condensed}) {
        if (fits())
            return;
        font.setStretch(stretch);
        label->setFont(font);
    }
    while (!fits() && font.pointSizeF() > SmallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        label->setFont(font);
    }
}

QGroupBox* addFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height)
{
    auto* frame = new CaptionedFrame(caption, parent);
    frame->setObjectName(name);
    placeAt(frame, left, top, width, height);
    return frame;
}

QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width, int height)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeAt(label, left, top, width, height);
    return label;
}

QPushButton* addButton(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    placeAt(button, left, top, width, height);
    return button;
}

QLineEdit* addTextBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                      int width, int height)
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    placeAt(box, left, top, width, height);
    return box;
}

QComboBox* addEditableList(QWidget* parent, const QString& name, const QStringList& items, int left,
                           int top, int width, int height)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->addItems(items);
    placeAt(box, left, top, width, height);
    return box;
}

SvgPicture::SvgPicture(const QString& resource, QWidget* parent) : QWidget(parent)
{
    // Checked first so that missing artwork costs no warning on the console.
    if (QFile::exists(resource))
        m_renderer.load(resource);
}

void SvgPicture::paintEvent(QPaintEvent* /*event*/)
{
    if (!m_renderer.isValid())
        return;
    QPainter painter(this);
    m_renderer.render(&painter, QRectF(rect()));
}

void SvgPicture::mousePressEvent(QMouseEvent* event)
{
    event->setAccepted(event->button() == Qt::LeftButton);
}

void SvgPicture::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

SvgPicture* addPicture(QWidget* parent, const QString& name, const QString& resource, int left,
                       int top, int width, int height)
{
    auto* picture = new SvgPicture(resource, parent);
    picture->setObjectName(name);
    placeAt(picture, left, top, width, height);
    return picture;
}

} // namespace kelvaro
